#pragma once
// In-place complex FFT of the toolkit, for the power-of-two sizes 2..32768.
//
// Order contract: the forward transform takes natural order and leaves its
// output in the split-radix order (position i holds natural bin
// (n - P(i, n)) mod n, P the split-radix index rule; for n = 4 the positions
// hold bins 0, 2, 3, 1); the inverse transform takes that order and leaves
// natural order. FftPermuteIndex maps a natural bin to its position.
// Forward: X[k] = sum_t x[t] e^(-2 pi j k t / n); inverse uses e^(+...).
// Neither direction scales, so forward then inverse gives n * x.
#include "toolkit/ComplexValue.h"

// [any thread] Builds the twiddle and permutation tables once; later calls
// return at once. Safe to call from several threads at once. FftComplex and
// FftPermuteIndex build the tables themselves when nobody did, so call this
// before audio runs to keep the allocation off the audio thread.
void FftInit();

// [any thread] no allocation after FftInit, no locks.
// data: n values transformed in place. inverse 0 = forward, 1 = inverse.
// Any n other than 2, 4, ..., 32768 (or a null data) leaves the data unchanged.
void FftComplex(ComplexValue* data, int n, int inverse);

// [any thread] Plain scalar path with the same contract as FftComplex; FftComplex uses a
// vectorised path where the processor has one and this one otherwise.
void FftComplexReference(ComplexValue* data, int n, int inverse);

// [any thread] no allocation after FftInit, no locks (as the two below).
// Position in the forward output of natural bin k (0 <= k < n). For n not a
// supported size, returns k (the transform leaves such data in place).
int FftPermuteIndex(int n, int k);

// The n positions of bins 0..n-1 (entry k = FftPermuteIndex(n, k)), or null
// when n is not a supported size. Lives for the whole process.
const int* FftPermuteTable(int n);

// True when n is a size FftComplex transforms.
bool FftIsSupportedSize(int n);

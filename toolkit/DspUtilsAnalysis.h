#pragma once
// Analysis and debug utilities: means and RMS, display decimation, a quadratic
// solver, path-name helpers and binary value dumps. Conventions as in DspUtils.h.
// Every function: [any thread] reentrant, touches only its arguments.
#include "toolkit/DspUtils.h"

namespace DspUtils {

// sqrt(sum of squares / n); 0 for a null pointer or n <= 0.
double ComputeRms(const double* data, int n);
double ComputeRms(const KIT_TypedBuf<double>& buf);

// sum / n; 0 for a null pointer or n <= 0.
double ComputeAvg(const double* data, int n);
double ComputeAvg(const KIT_TypedBuf<double>& buf);
// Mean of the elements first..last (inclusive) that lie inside the buffer; 0
// when none does.
double ComputeAvg(const KIT_TypedBuf<double>& buf, int first, int last);

// Mean absolute value; 0 for empty data.
double ComputeAvgAbs(const KIT_TypedBuf<double>& buf);
double ComputeAvgAbs(const double* data, int n);
double ComputeAvgAbs(const KIT_TypedBuf<double>& buf, int first, int last);

// Display decimation to truncated(count * factor) outputs, factor in (0, 1).
// Empty input: nothing. factor >= 1: output becomes a copy of the input.
// factor not above 0: output emptied. output may be input.
// The output is sized with ResizeFillZeros; when the running sum of factor
// falls a rounding short of the last output (factor 0.1, say), that element
// keeps what the output held there.
//
// Peak: each output is the sample of largest magnitude since the previous
// output (the earlier one on equal magnitude).
void DecimateSamplesPeak(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input,
                         double factor);
// Min/max: outputs alternate between trough and peak at every sign change of
// the input and keep to one polarity between them.
void DecimateSamplesMinMax(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input,
                           double factor);
// In place, min/max.
void DecimateSamples(KIT_TypedBuf<double>& buf, double factor);

// Real roots of a x^2 + b x + c, a != 0: 2 roots (-b - sqrt d) / 2a then
// (sqrt d - b) / 2a when d = b^2 - 4ac > 0; 1 root -b / 2a when |d| < 1e-15;
// else 0. Returns the count; roots beyond it are left unchanged.
int SecondOrderEqSolve(double roots[2], double a, double b, double c);

// Text after the last '.', or null when there is none (or path is null).
// Points into path.
const char* GetFileExtension(const char* path);
// Text after the last '/', or path itself when there is none; null for null.
const char* GetFileName(const char* path);

// [export/debug code, not the audio thread] file I/O.
// Appends every element as a 32-bit float in machine byte order to the file
// (mode "ab+"). Nothing is written when the file cannot be opened (or path is
// null); nothing is reported.
void AppendValuesFileBinFloat(const char* path, const KIT_TypedBuf<double>& buf);

} // namespace DspUtils

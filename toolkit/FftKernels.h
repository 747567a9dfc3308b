#pragma once
// Internal to the FFT: the split-radix kernels behind FftComplex.
//
// One combining pass of size n (q = n/4, w_t = e^(2 pi j t / n), t < q):
//   forward:  x0' = x0 + x2, x1' = x1 + x3,
//             x2' = (a + jb) w_t, x3' = (a - jb) conj(w_t), a = x0 - x2, b = x1 - x3,
//             then size n/2 on the first half and size n/4 on each last quarter;
//   inverse:  the sub-transforms first, then the adjoint pass
//             s = y2 conj(w_t), d = y3 w_t,
//             x0 = y0 + (s + d), x2 = y0 - (s + d), x1 = y1 - j(s - d), x3 = y1 + j(s - d).
// Size 2 is (x0 + x1, x0 - x1) in both directions.
#include "toolkit/ComplexValue.h"

namespace fftdetail {

constexpr int kMinLog2 = 1;
constexpr int kMaxLog2 = 15;

// twiddle[L] holds (cos, sin)(2 pi t / 2^L) for t < 2^L / 4 (L >= 3), else null.
struct TwiddleSet {
    const ComplexValue* twiddle[kMaxLog2 + 1];
};

// [any thread] no allocation, no locks. x: (2^log2n) complex values
// transformed in place, log2n in kMinLog2 .. kMaxLog2; tw holds the twiddles
// of every size up to 2^log2n. Natural order -> split-radix order (forward),
// and back (inverse); neither scales.
void ForwardReference(ComplexValue* x, int log2n, const TwiddleSet& tw);
void InverseReference(ComplexValue* x, int log2n, const TwiddleSet& tw);

// [any thread] Vectorised kernels (AVX2 with FMA) with the reference
// contract and results; only call them when Avx2Usable() is true.
bool Avx2Usable();
void ForwardAvx2(ComplexValue* x, int log2n, const TwiddleSet& tw);
void InverseAvx2(ComplexValue* x, int log2n, const TwiddleSet& tw);

} // namespace fftdetail

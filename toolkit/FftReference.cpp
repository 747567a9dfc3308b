// Plain split-radix kernels: the reference the vectorised path is tested
// against, and the path used where no vector unit is available.
#include "toolkit/FftKernels.h"

namespace fftdetail {
namespace {

inline ComplexValue Add(ComplexValue a, ComplexValue b) {
    return {a.re + b.re, a.im + b.im};
}
inline ComplexValue Sub(ComplexValue a, ComplexValue b) {
    return {a.re - b.re, a.im - b.im};
}
inline ComplexValue TimesJ(ComplexValue a) {
    return {-a.im, a.re};
}
inline ComplexValue Mul(ComplexValue a, ComplexValue w) {
    return {a.re * w.re - a.im * w.im, a.re * w.im + a.im * w.re};
}
inline ComplexValue MulConj(ComplexValue a, ComplexValue w) {
    return {a.re * w.re + a.im * w.im, a.im * w.re - a.re * w.im};
}

void Butterfly2(ComplexValue* x) {
    const ComplexValue a = x[0], b = x[1];
    x[0] = Add(a, b);
    x[1] = Sub(a, b);
}

} // namespace

void ForwardReference(ComplexValue* x, int log2n, const TwiddleSet& tw) {
    if (log2n <= 0) return;
    if (log2n == 1) {
        Butterfly2(x);
        return;
    }
    const int n = 1 << log2n, q = n / 4;
    const ComplexValue* w = log2n >= 3 ? tw.twiddle[log2n] : nullptr;
    for (int t = 0; t < q; ++t) {
        const ComplexValue x0 = x[t], x1 = x[t + q], x2 = x[t + 2 * q], x3 = x[t + 3 * q];
        const ComplexValue a = Sub(x0, x2), jb = TimesJ(Sub(x1, x3));
        x[t] = Add(x0, x2);
        x[t + q] = Add(x1, x3);
        if (w) {
            x[t + 2 * q] = Mul(Add(a, jb), w[t]);
            x[t + 3 * q] = MulConj(Sub(a, jb), w[t]);
        } else { // n = 4: the only twiddle is 1
            x[t + 2 * q] = Add(a, jb);
            x[t + 3 * q] = Sub(a, jb);
        }
    }
    ForwardReference(x, log2n - 1, tw);
    ForwardReference(x + 2 * q, log2n - 2, tw);
    ForwardReference(x + 3 * q, log2n - 2, tw);
}

void InverseReference(ComplexValue* x, int log2n, const TwiddleSet& tw) {
    if (log2n <= 0) return;
    if (log2n == 1) {
        Butterfly2(x);
        return;
    }
    const int n = 1 << log2n, q = n / 4;
    InverseReference(x, log2n - 1, tw);
    InverseReference(x + 2 * q, log2n - 2, tw);
    InverseReference(x + 3 * q, log2n - 2, tw);
    const ComplexValue* w = log2n >= 3 ? tw.twiddle[log2n] : nullptr;
    for (int t = 0; t < q; ++t) {
        const ComplexValue y0 = x[t], y1 = x[t + q];
        const ComplexValue s = w ? MulConj(x[t + 2 * q], w[t]) : x[t + 2 * q];
        const ComplexValue d = w ? Mul(x[t + 3 * q], w[t]) : x[t + 3 * q];
        const ComplexValue sum = Add(s, d), jdiff = TimesJ(Sub(s, d));
        x[t] = Add(y0, sum);
        x[t + 2 * q] = Sub(y0, sum);
        x[t + q] = Sub(y1, jdiff);
        x[t + 3 * q] = Add(y1, jdiff);
    }
}

} // namespace fftdetail

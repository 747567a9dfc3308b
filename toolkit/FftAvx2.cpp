// AVX2/FMA split-radix kernels. Every function here carries its own target
// attribute (instead of a file-wide flag) so nothing compiled for AVX2 can be
// picked up by code that runs on processors without it; FftComplex only
// calls in after Avx2Usable() said yes.
#include "toolkit/FftKernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#define FFT_AVX2 __attribute__((target("avx2,fma")))

namespace fftdetail {
namespace {

// One complex per 128-bit register, two per 256-bit register (re, im, re, im).
FFT_AVX2 inline __m128d TimesJ(__m128d a) {
    return _mm_xor_pd(_mm_shuffle_pd(a, a, 1), _mm_set_pd(0.0, -0.0));
}
FFT_AVX2 inline __m256d TimesJ(__m256d a) {
    return _mm256_xor_pd(_mm256_permute_pd(a, 0x5), _mm256_set_pd(0.0, -0.0, 0.0, -0.0));
}
// a * w and a * conj(w) with w given as (cos, cos) and (sin, sin) per complex.
FFT_AVX2 inline __m256d Mul(__m256d a, __m256d wr, __m256d wi) {
    return _mm256_fmaddsub_pd(a, wr, _mm256_mul_pd(_mm256_permute_pd(a, 0x5), wi));
}
FFT_AVX2 inline __m256d MulConj(__m256d a, __m256d wr, __m256d wi) {
    return _mm256_fmsubadd_pd(a, wr, _mm256_mul_pd(_mm256_permute_pd(a, 0x5), wi));
}

FFT_AVX2 inline __m128d Load(const ComplexValue* p) {
    return _mm_loadu_pd(&p->re);
}
FFT_AVX2 inline __m256d Load2(const ComplexValue* p) {
    return _mm256_loadu_pd(&p->re);
}
FFT_AVX2 inline void Store2(ComplexValue* p, __m256d v) {
    _mm256_storeu_pd(&p->re, v);
}

// Register codelets for the small sizes, where the recursion's bookkeeping
// would cost more than the arithmetic: the whole transform is unrolled at
// compile time over values held in registers.
FFT_AVX2 inline __m128d Mul1(__m128d a, __m128d w) {
    const __m128d wr = _mm_movedup_pd(w), wi = _mm_unpackhi_pd(w, w);
    return _mm_fmaddsub_pd(a, wr, _mm_mul_pd(_mm_shuffle_pd(a, a, 1), wi));
}
FFT_AVX2 inline __m128d MulConj1(__m128d a, __m128d w) {
    const __m128d wr = _mm_movedup_pd(w), wi = _mm_unpackhi_pd(w, w);
    return _mm_fmsubadd_pd(a, wr, _mm_mul_pd(_mm_shuffle_pd(a, a, 1), wi));
}

template <int L> struct Regs {
    static constexpr int n = 1 << L, q = n / 4;
    FFT_AVX2 static inline __attribute__((always_inline)) void Forward(__m128d* v,
                                                                       const TwiddleSet& tw) {
        const ComplexValue* w = tw.twiddle[L];
        for (int t = 0; t < q; ++t) {
            const __m128d x0 = v[t], x1 = v[t + q], x2 = v[t + 2 * q], x3 = v[t + 3 * q];
            const __m128d a = _mm_sub_pd(x0, x2), jb = TimesJ(_mm_sub_pd(x1, x3));
            v[t] = _mm_add_pd(x0, x2);
            v[t + q] = _mm_add_pd(x1, x3);
            const __m128d wt = Load(w + t);
            v[t + 2 * q] = t ? Mul1(_mm_add_pd(a, jb), wt) : _mm_add_pd(a, jb);
            v[t + 3 * q] = t ? MulConj1(_mm_sub_pd(a, jb), wt) : _mm_sub_pd(a, jb);
        }
        Regs<L - 1>::Forward(v, tw);
        Regs<L - 2>::Forward(v + 2 * q, tw);
        Regs<L - 2>::Forward(v + 3 * q, tw);
    }
    FFT_AVX2 static inline __attribute__((always_inline)) void Inverse(__m128d* v,
                                                                       const TwiddleSet& tw) {
        Regs<L - 1>::Inverse(v, tw);
        Regs<L - 2>::Inverse(v + 2 * q, tw);
        Regs<L - 2>::Inverse(v + 3 * q, tw);
        const ComplexValue* w = tw.twiddle[L];
        for (int t = 0; t < q; ++t) {
            const __m128d wt = Load(w + t);
            const __m128d s = t ? MulConj1(v[t + 2 * q], wt) : v[t + 2 * q];
            const __m128d d = t ? Mul1(v[t + 3 * q], wt) : v[t + 3 * q];
            const __m128d sum = _mm_add_pd(s, d), jdiff = TimesJ(_mm_sub_pd(s, d));
            const __m128d y0 = v[t], y1 = v[t + q];
            v[t] = _mm_add_pd(y0, sum);
            v[t + 2 * q] = _mm_sub_pd(y0, sum);
            v[t + q] = _mm_sub_pd(y1, jdiff);
            v[t + 3 * q] = _mm_add_pd(y1, jdiff);
        }
    }
};
template <> struct Regs<2> {
    FFT_AVX2 static inline __attribute__((always_inline)) void Forward(__m128d* v,
                                                                       const TwiddleSet&) {
        const __m128d u0 = _mm_add_pd(v[0], v[2]), u1 = _mm_add_pd(v[1], v[3]);
        const __m128d a = _mm_sub_pd(v[0], v[2]), jb = TimesJ(_mm_sub_pd(v[1], v[3]));
        v[0] = _mm_add_pd(u0, u1);
        v[1] = _mm_sub_pd(u0, u1);
        v[2] = _mm_add_pd(a, jb);
        v[3] = _mm_sub_pd(a, jb);
    }
    FFT_AVX2 static inline __attribute__((always_inline)) void Inverse(__m128d* v,
                                                                       const TwiddleSet&) {
        const __m128d v0 = _mm_add_pd(v[0], v[1]), v1 = _mm_sub_pd(v[0], v[1]);
        const __m128d sum = _mm_add_pd(v[2], v[3]), jdiff = TimesJ(_mm_sub_pd(v[2], v[3]));
        v[0] = _mm_add_pd(v0, sum);
        v[2] = _mm_sub_pd(v0, sum);
        v[1] = _mm_sub_pd(v1, jdiff);
        v[3] = _mm_add_pd(v1, jdiff);
    }
};
template <> struct Regs<1> {
    FFT_AVX2 static inline __attribute__((always_inline)) void Forward(__m128d* v,
                                                                       const TwiddleSet&) {
        const __m128d a = v[0], b = v[1];
        v[0] = _mm_add_pd(a, b);
        v[1] = _mm_sub_pd(a, b);
    }
    FFT_AVX2 static inline __attribute__((always_inline)) void Inverse(__m128d* v,
                                                                       const TwiddleSet& tw) {
        Forward(v, tw);
    }
};
template <> struct Regs<0> {
    FFT_AVX2 static inline void Forward(__m128d*, const TwiddleSet&) {}
    FFT_AVX2 static inline void Inverse(__m128d*, const TwiddleSet&) {}
};

// Codelets move data in 256-bit pairs at even offsets, the same accesses the
// combining passes make: a 256-bit load that had to gather two pending
// 128-bit stores would stall on store forwarding.
template <int L> FFT_AVX2 inline void LoadPairs(const ComplexValue* x, __m128d* v) {
    for (int i = 0; i < (1 << L); i += 2) {
        const __m256d p = Load2(x + i);
        v[i] = _mm256_castpd256_pd128(p);
        v[i + 1] = _mm256_extractf128_pd(p, 1);
    }
}
template <int L> FFT_AVX2 inline void StorePairs(ComplexValue* x, const __m128d* v) {
    for (int i = 0; i < (1 << L); i += 2) Store2(x + i, _mm256_set_m128d(v[i + 1], v[i]));
}

template <int L> FFT_AVX2 void ForwardCodelet(ComplexValue* x, const TwiddleSet& tw) {
    __m128d v[1 << L];
    LoadPairs<L>(x, v);
    Regs<L>::Forward(v, tw);
    StorePairs<L>(x, v);
}
template <int L> FFT_AVX2 void InverseCodelet(ComplexValue* x, const TwiddleSet& tw) {
    __m128d v[1 << L];
    LoadPairs<L>(x, v);
    Regs<L>::Inverse(v, tw);
    StorePairs<L>(x, v);
}

// Combining passes, q = n/4 >= 2 complexes per quarter, two t per step.
FFT_AVX2 void ForwardPass(ComplexValue* x, int q, const ComplexValue* w) {
    ComplexValue *p0 = x, *p1 = x + q, *p2 = x + 2 * q, *p3 = x + 3 * q;
    for (int t = 0; t < q; t += 2) {
        const __m256d x0 = Load2(p0 + t), x1 = Load2(p1 + t);
        const __m256d x2 = Load2(p2 + t), x3 = Load2(p3 + t);
        const __m256d a = _mm256_sub_pd(x0, x2), jb = TimesJ(_mm256_sub_pd(x1, x3));
        Store2(p0 + t, _mm256_add_pd(x0, x2));
        Store2(p1 + t, _mm256_add_pd(x1, x3));
        const __m256d tw = Load2(w + t);
        const __m256d wr = _mm256_movedup_pd(tw), wi = _mm256_permute_pd(tw, 0xF);
        Store2(p2 + t, Mul(_mm256_add_pd(a, jb), wr, wi));
        Store2(p3 + t, MulConj(_mm256_sub_pd(a, jb), wr, wi));
    }
}

FFT_AVX2 void InversePass(ComplexValue* x, int q, const ComplexValue* w) {
    ComplexValue *p0 = x, *p1 = x + q, *p2 = x + 2 * q, *p3 = x + 3 * q;
    for (int t = 0; t < q; t += 2) {
        const __m256d tw = Load2(w + t);
        const __m256d wr = _mm256_movedup_pd(tw), wi = _mm256_permute_pd(tw, 0xF);
        const __m256d s = MulConj(Load2(p2 + t), wr, wi), d = Mul(Load2(p3 + t), wr, wi);
        const __m256d sum = _mm256_add_pd(s, d), jdiff = TimesJ(_mm256_sub_pd(s, d));
        const __m256d y0 = Load2(p0 + t), y1 = Load2(p1 + t);
        Store2(p0 + t, _mm256_add_pd(y0, sum));
        Store2(p2 + t, _mm256_sub_pd(y0, sum));
        Store2(p1 + t, _mm256_sub_pd(y1, jdiff));
        Store2(p3 + t, _mm256_add_pd(y1, jdiff));
    }
}

FFT_AVX2 void Forward(ComplexValue* x, int log2n, const TwiddleSet& tw) {
    switch (log2n) {
    case 0:
        return;
    case 1:
        return ForwardCodelet<1>(x, tw);
    case 2:
        return ForwardCodelet<2>(x, tw);
    case 3:
        return ForwardCodelet<3>(x, tw);
    case 4:
        return ForwardCodelet<4>(x, tw);
    default:
        break;
    }
    const int q = 1 << (log2n - 2);
    ForwardPass(x, q, tw.twiddle[log2n]);
    Forward(x, log2n - 1, tw);
    Forward(x + 2 * q, log2n - 2, tw);
    Forward(x + 3 * q, log2n - 2, tw);
}

FFT_AVX2 void Inverse(ComplexValue* x, int log2n, const TwiddleSet& tw) {
    switch (log2n) {
    case 0:
        return;
    case 1:
        return InverseCodelet<1>(x, tw);
    case 2:
        return InverseCodelet<2>(x, tw);
    case 3:
        return InverseCodelet<3>(x, tw);
    case 4:
        return InverseCodelet<4>(x, tw);
    default:
        break;
    }
    const int q = 1 << (log2n - 2);
    Inverse(x, log2n - 1, tw);
    Inverse(x + 2 * q, log2n - 2, tw);
    Inverse(x + 3 * q, log2n - 2, tw);
    InversePass(x, q, tw.twiddle[log2n]);
}

} // namespace

bool Avx2Usable() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

void ForwardAvx2(ComplexValue* x, int log2n, const TwiddleSet& tw) {
    Forward(x, log2n, tw);
}

void InverseAvx2(ComplexValue* x, int log2n, const TwiddleSet& tw) {
    Inverse(x, log2n, tw);
}

} // namespace fftdetail

#else // no x86-64 vector path: FftComplex stays on the reference kernels

namespace fftdetail {
bool Avx2Usable() {
    return false;
}
void ForwardAvx2(ComplexValue* x, int log2n, const TwiddleSet& tw) {
    ForwardReference(x, log2n, tw);
}
void InverseAvx2(ComplexValue* x, int log2n, const TwiddleSet& tw) {
    InverseReference(x, log2n, tw);
}
} // namespace fftdetail

#endif

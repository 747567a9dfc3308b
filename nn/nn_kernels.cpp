#include "nn/nn_kernels.h"

#include <cassert>
#include <pmmintrin.h>

namespace nn {

KernelKind chooseKernel(int innerLength, int threadsCount) {
    assert(threadsCount >= 1);
    const int q = innerLength / threadsCount;
    if (q != 0 && q % 8 == 0 && innerLength % 8 == 0) return KernelKind::Vector2;
    if (q != 0 && q % 4 == 0 && innerLength % 4 == 0) return KernelKind::Vector;
    return KernelKind::Scalar;
}

KernelKind chooseMaxKernel(int innerLength, int threadsCount) {
    assert(threadsCount >= 1);
    const int q = innerLength / threadsCount;
    if (q != 0 && q % 4 == 0 && innerLength % 4 == 0) return KernelKind::Vector;
    return KernelKind::Scalar;
}

namespace {
// (x0 + x1) + (x2 + x3), the order the vector families fix.
inline float hsum(__m128 x) {
    const __m128 pairs = _mm_hadd_ps(x, x); // x0+x1, x2+x3, ...
    return _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs));
}
} // namespace

void ScalarAdd::run(const float* other, float* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = other[i] + out[i];
}
void VectorAdd::run(const float* other, float* out, int n) {
    assert(n % width == 0);
    for (int i = 0; i < n; i += 4)
        _mm_storeu_ps(out + i, _mm_add_ps(_mm_loadu_ps(other + i), _mm_loadu_ps(out + i)));
}
void Vector2Add::run(const float* other, float* out, int n) {
    assert(n % width == 0);
    // Element by element 8 at a time is 4 at a time twice: one loop serves both.
    VectorAdd::run(other, out, n);
}

void ScalarMultiply::run(const float* other, float* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = out[i] * other[i];
}
void VectorMultiply::run(const float* other, float* out, int n) {
    assert(n % width == 0);
    for (int i = 0; i < n; i += 4)
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_loadu_ps(out + i), _mm_loadu_ps(other + i)));
}
void Vector2Multiply::run(const float* other, float* out, int n) {
    assert(n % width == 0);
    VectorMultiply::run(other, out, n);
}

void ScalarMultiplyAdd::run(const float* a, const float* scale, float* out, int n) {
    for (int i = 0; i < n; ++i) {
        const float product = a[i] * scale[i];
        out[i] = product + out[i];
    }
}
float ScalarMultiplyAdd::sum(const float* a, const float* b, int n) {
    float s = 0.0f;
    for (int k = 0; k < n; ++k) {
        const float product = a[k] * b[k];
        s = s + product;
    }
    return s;
}
void VectorMultiplyAdd::run(const float* a, const float* scale, float* out, int n) {
    assert(n % width == 0);
    for (int i = 0; i < n; i += 4) {
        const __m128 product = _mm_mul_ps(_mm_loadu_ps(a + i), _mm_loadu_ps(scale + i));
        _mm_storeu_ps(out + i, _mm_add_ps(product, _mm_loadu_ps(out + i)));
    }
}
float VectorMultiplyAdd::sum(const float* a, const float* b, int n) {
    assert(n % width == 0);
    __m128 s = _mm_setzero_ps();
    for (int k = 0; k < n; k += 4)
        s = _mm_add_ps(s, _mm_mul_ps(_mm_loadu_ps(a + k), _mm_loadu_ps(b + k)));
    return hsum(s);
}
void Vector2MultiplyAdd::run(const float* a, const float* scale, float* out, int n) {
    assert(n % width == 0);
    VectorMultiplyAdd::run(a, scale, out, n);
}
float Vector2MultiplyAdd::sum(const float* a, const float* b, int n) {
    assert(n % width == 0);
    __m128 lo = _mm_setzero_ps();
    __m128 hi = _mm_setzero_ps();
    for (int k = 0; k < n; k += 8) {
        lo = _mm_add_ps(lo, _mm_mul_ps(_mm_loadu_ps(a + k), _mm_loadu_ps(b + k)));
        hi = _mm_add_ps(hi, _mm_mul_ps(_mm_loadu_ps(a + k + 4), _mm_loadu_ps(b + k + 4)));
    }
    return hsum(lo) + hsum(hi);
}

void ScalarMax::run(const float* in, float* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = out[i] > in[i] ? out[i] : in[i];
}
void VectorMax::run(const float* in, float* out, int n) {
    assert(n % width == 0);
    // MAXPS(a, b) is exactly a > b ? a : b, NaNs and signed zeros included.
    for (int i = 0; i < n; i += 4)
        _mm_storeu_ps(out + i, _mm_max_ps(_mm_loadu_ps(out + i), _mm_loadu_ps(in + i)));
}

} // namespace nn

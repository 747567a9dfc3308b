#include "nn/nn_dense_rows.h"

#include <cassert>
#include <immintrin.h>
#include <type_traits>

// The AVX functions carry their own target; the rest of the library stays
// SSE3, and the AVX form runs only after the processor check.
#define NN_AVX __attribute__((target("avx")))

namespace nn {

namespace {

// (x0 + x1) + (x2 + x3), the vector families' horizontal sum.
inline float hsum(__m128 v) {
    const __m128 pairs = _mm_hadd_ps(v, v);
    return _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs));
}

// Four rows at once, each in its own lanes exactly as Kernel::sum adds it
// (Vector: one set of four lanes, Vector2: sets A and B).
template <typename Kernel>
void addFourRows(const float* w, size_t stride, const float* x, int n, float* out) {
    const float* r0 = w;
    const float* r1 = w + stride;
    const float* r2 = w + 2 * stride;
    const float* r3 = w + 3 * stride;
    __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    if constexpr (Kernel::width == 4) {
        for (int k = 0; k < n; k += 4) {
            const __m128 xv = _mm_loadu_ps(x + k);
            a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(r0 + k), xv));
            a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(r1 + k), xv));
            a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(r2 + k), xv));
            a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(r3 + k), xv));
        }
        out[0] = hsum(a0) + out[0];
        out[1] = hsum(a1) + out[1];
        out[2] = hsum(a2) + out[2];
        out[3] = hsum(a3) + out[3];
    } else {
        static_assert(Kernel::width == 8, "Vector or Vector2 only");
        __m128 b0 = a0, b1 = a0, b2 = a0, b3 = a0;
        for (int k = 0; k < n; k += 8) {
            const __m128 xa = _mm_loadu_ps(x + k);
            const __m128 xb = _mm_loadu_ps(x + k + 4);
            a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(r0 + k), xa));
            b0 = _mm_add_ps(b0, _mm_mul_ps(_mm_loadu_ps(r0 + k + 4), xb));
            a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(r1 + k), xa));
            b1 = _mm_add_ps(b1, _mm_mul_ps(_mm_loadu_ps(r1 + k + 4), xb));
            a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(r2 + k), xa));
            b2 = _mm_add_ps(b2, _mm_mul_ps(_mm_loadu_ps(r2 + k + 4), xb));
            a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(r3 + k), xa));
            b3 = _mm_add_ps(b3, _mm_mul_ps(_mm_loadu_ps(r3 + k + 4), xb));
        }
        out[0] = (hsum(a0) + hsum(b0)) + out[0];
        out[1] = (hsum(a1) + hsum(b1)) + out[1];
        out[2] = (hsum(a2) + hsum(b2)) + out[2];
        out[3] = (hsum(a3) + hsum(b3)) + out[3];
    }
}

// Vector2's hsum(A) + hsum(B), A the low and B the high half.
NN_AVX inline float hsumHalves(__m256 v) {
    return hsum(_mm256_castps256_ps128(v)) + hsum(_mm256_extractf128_ps(v, 1));
}

// One Vector2 step of eight rows: each register holds one row's lanes A and
// B, so one 256-bit multiply and add is that row's step.
#define NN_EIGHT_ROWS_STEP(k)                                                                      \
    do {                                                                                           \
        const __m256 xv = _mm256_loadu_ps(x + (k));                                                \
        a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_loadu_ps(r0 + (k)), xv));                      \
        a1 = _mm256_add_ps(a1, _mm256_mul_ps(_mm256_loadu_ps(r0 + stride + (k)), xv));             \
        a2 = _mm256_add_ps(a2, _mm256_mul_ps(_mm256_loadu_ps(r0 + 2 * stride + (k)), xv));         \
        a3 = _mm256_add_ps(a3, _mm256_mul_ps(_mm256_loadu_ps(r0 + 3 * stride + (k)), xv));         \
        a4 = _mm256_add_ps(a4, _mm256_mul_ps(_mm256_loadu_ps(r0 + 4 * stride + (k)), xv));         \
        a5 = _mm256_add_ps(a5, _mm256_mul_ps(_mm256_loadu_ps(r0 + 5 * stride + (k)), xv));         \
        a6 = _mm256_add_ps(a6, _mm256_mul_ps(_mm256_loadu_ps(r0 + 6 * stride + (k)), xv));         \
        a7 = _mm256_add_ps(a7, _mm256_mul_ps(_mm256_loadu_ps(r0 + 7 * stride + (k)), xv));         \
    } while (0)

// Eight rows of the Vector2 family. next, when not null, is the first of the
// eight rows to come after these: their lines are requested meanwhile (into
// the outer caches, one line per row and 16 floats). The plug-in's four
// networks hold several times the weights one core's caches keep, so every
// frame streams them from the shared cache or from memory; asking for the
// next rows this early hides much of that wait (measured: a third less time
// per prediction with the weights out of the core's caches, a fifth more
// for one network kept hot in the shared cache).
NN_AVX void addEightRowsAvx(const float* w, size_t stride, const float* x, int n, float* out,
                            const float* next) {
    const float* r0 = w;
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
    int k = 0;
    for (; k + 16 <= n; k += 16) {
        if (next)
            for (int r = 0; r < 8; ++r)
                _mm_prefetch(reinterpret_cast<const char*>(next + size_t(r) * stride + k),
                             _MM_HINT_T2);
        NN_EIGHT_ROWS_STEP(k);
        NN_EIGHT_ROWS_STEP(k + 8);
    }
    if (k < n) NN_EIGHT_ROWS_STEP(k);
    out[0] = hsumHalves(a0) + out[0];
    out[1] = hsumHalves(a1) + out[1];
    out[2] = hsumHalves(a2) + out[2];
    out[3] = hsumHalves(a3) + out[3];
    out[4] = hsumHalves(a4) + out[4];
    out[5] = hsumHalves(a5) + out[5];
    out[6] = hsumHalves(a6) + out[6];
    out[7] = hsumHalves(a7) + out[7];
}
#undef NN_EIGHT_ROWS_STEP

// Leaves the upper halves of the YMM registers clean for the SSE code after.
NN_AVX void addRowsAvx(const float* w, size_t stride, const float* x, int n, int& row, int rows,
                       float* out) {
    for (; row + 8 <= rows; row += 8) {
        const float* rowsHere = w + size_t(row) * stride;
        const float* next = row + 16 <= rows ? rowsHere + 8 * stride : nullptr;
        addEightRowsAvx(rowsHere, stride, x, n, out + row, next);
    }
    _mm256_zeroupper();
}

} // namespace

bool DenseRows::hasAvx() {
    // The compiler's check includes the OS's saving of the YMM state.
    static const bool avx = __builtin_cpu_supports("avx");
    return avx;
}

template <typename Kernel>
void DenseRows::addSums(const float* w, size_t stride, const float* x, int n, int rows,
                        float* out) {
    assert(n % Kernel::width == 0);
    int row = 0;
    if constexpr (!std::is_same_v<Kernel, ScalarMultiplyAdd>) {
        for (; row + 4 <= rows; row += 4)
            addFourRows<Kernel>(w + size_t(row) * stride, stride, x, n, out + row);
    }
    for (; row < rows; ++row) out[row] = Kernel::sum(w + size_t(row) * stride, x, n) + out[row];
}

void DenseRows::addSumsVector2Avx(const float* w, size_t stride, const float* x, int n, int rows,
                                  float* out) {
    assert(n % 8 == 0 && hasAvx());
    int row = 0;
    addRowsAvx(w, stride, x, n, row, rows, out);
    addSums<Vector2MultiplyAdd>(w + size_t(row) * stride, stride, x, n, rows - row, out + row);
}

template <typename Kernel>
void DenseRows::addSumsFastest(const float* w, size_t stride, const float* x, int n, int rows,
                               float* out) {
    if constexpr (std::is_same_v<Kernel, Vector2MultiplyAdd>) {
        if (hasAvx()) {
            addSumsVector2Avx(w, stride, x, n, rows, out);
            return;
        }
    }
    addSums<Kernel>(w, stride, x, n, rows, out);
}

#define NN_DENSE_ROWS(Kernel)                                                                      \
    template void DenseRows::addSums<Kernel>(const float*, size_t, const float*, int, int,         \
                                             float*);                                              \
    template void DenseRows::addSumsFastest<Kernel>(const float*, size_t, const float*, int, int,  \
                                                    float*);
NN_DENSE_ROWS(ScalarMultiplyAdd)
NN_DENSE_ROWS(VectorMultiplyAdd)
NN_DENSE_ROWS(Vector2MultiplyAdd)
#undef NN_DENSE_ROWS

} // namespace nn

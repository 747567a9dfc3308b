#pragma once
// The dense layer's inner loop: out[r] = S(weights row r, x) + out[r] for
// several consecutive rows, S having exactly the bits of Kernel::sum(row, x, n)
// (nn_kernels.h, the plain reference): the rows are only interleaved, every
// row keeps its own lanes and summation order, and the sum is complete before
// out[r] (the bias) is added.
//   w: (rows, stride) row-major, x: (n), n <= stride, out: (rows) in place
// Interleaving independent rows keeps the adders and the loads busy where one
// row would wait on its additions' latency, and the AVX form does a Vector2
// step (lanes A and B: k % 8 in 0..3 and 4..7) in one 256-bit register.
// Every product and sum is rounded to float on its own (the library is built
// without contraction into fused multiply-add). Loads are unaligned.
// No allocation. [any thread]
#include "nn/nn_kernels.h"

#include <cstddef>

namespace nn {

struct DenseRows {
    // Whether this processor and its OS run the AVX form.
    static bool hasAvx();

    // Kernel: ScalarMultiplyAdd, VectorMultiplyAdd or Vector2MultiplyAdd; n a
    // multiple of Kernel::width. SSE only: four rows at a time, the rest one
    // by one.
    template <typename Kernel>
    static void addSums(const float* w, size_t stride, const float* x, int n, int rows, float* out);

    // Vector2MultiplyAdd's sums, eight rows at a time with AVX, the rest as
    // addSums<Vector2MultiplyAdd>. n a multiple of 8; only where hasAvx().
    static void addSumsVector2Avx(const float* w, size_t stride, const float* x, int n, int rows,
                                  float* out);

    // addSumsVector2Avx where hasAvx(), else addSums<Kernel>: what the layer
    // runs.
    template <typename Kernel>
    static void addSumsFastest(const float* w, size_t stride, const float* x, int n, int rows,
                               float* out);
};

} // namespace nn

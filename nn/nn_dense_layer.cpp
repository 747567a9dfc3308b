#include "nn/nn_dense_layer.h"

#include <pmmintrin.h>
#include <type_traits>
#include <utility>

namespace nn {

namespace {

// (x0 + x1) + (x2 + x3), the vector families' horizontal sum.
inline float hsum(__m128 v) {
    const __m128 pairs = _mm_hadd_ps(v, v);
    return _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs));
}

// The sums of four consecutive weights rows with x at once, each row in its
// own lanes exactly as Kernel::sum would add it (Vector: one set of four
// lanes, Vector2: sets A and B), so every result has the bits of
// Kernel::sum(w + r * stride, x, n). Interleaving the rows' independent
// additions keeps the adder busy where one row would wait on its latency.
// n is a multiple of Kernel::width; loads are unaligned.
template <typename Kernel>
void sumFourRows(const float* w, size_t stride, const float* x, int n, float* sums) {
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
        sums[0] = hsum(a0);
        sums[1] = hsum(a1);
        sums[2] = hsum(a2);
        sums[3] = hsum(a3);
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
        sums[0] = hsum(a0) + hsum(b0);
        sums[1] = hsum(a1) + hsum(b1);
        sums[2] = hsum(a2) + hsum(b2);
        sums[3] = hsum(a3) + hsum(b3);
    }
}

} // namespace

DenseLayer::DenseLayer(Parts&& parts) : WeightedLayer(std::move(parts)) {}

std::unique_ptr<Layer> DenseLayer::create(std::istream& stream) {
    return createAs<DenseLayer>(stream, 2, 1);
}

bool DenseLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    if (!checkInputRank(in, 1)) return false;
    if (in.dims()[0] != weights_.dims()[1])
        return reportInputMismatch("Input tensor dims[0] must be the same as weights dims[1]", in);
    data.out = biases_;
    withKernel(int(weights_.dims()[1]), data.dispatcher,
               [&](auto kernel) { multiplyAddImpl<decltype(kernel)>(weights_, data); });
    activation_->apply(data.out);
    return true;
}

// Parts over the units; each writes its own rows of out. The vector kernels
// take four rows at a time; Kernel::sum, the reference, does the rest.
template <typename Kernel>
void DenseLayer::multiplyAddImpl(const Tensor& weights, LayerData& data) const {
    const int inputs = int(weights.dims()[1]);
    const int units = int(weights.size() / size_t(inputs));
    const float* w = weights.data();
    const float* x = data.in.data();
    float* y = data.out.data();
    data.dispatcher.run(units, [=](int start, int end) {
        int u = start;
        if constexpr (!std::is_same_v<Kernel, ScalarMultiplyAdd>) {
            for (; u + 4 <= end; u += 4) {
                float sums[4];
                sumFourRows<Kernel>(w + size_t(u) * inputs, size_t(inputs), x, inputs, sums);
                for (int r = 0; r < 4; ++r) y[u + r] = sums[r] + y[u + r];
            }
        }
        for (; u < end; ++u) y[u] = Kernel::sum(w + size_t(u) * inputs, x, inputs) + y[u];
    });
}

} // namespace nn

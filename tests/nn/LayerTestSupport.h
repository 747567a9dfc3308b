#pragma once
// Layer tests' support: a plain re-statement of the engine's summation
// orders and kernel choice and straightforward per-output loops of the
// weighted layers, written without the engine's kernels so that the layers
// can be checked bit for bit (the test program is built without
// floating-point contraction like the engine); and helpers that build a
// layer from its record and apply it. Tensors are built and read with
// NnTestSupport.h's helpers.
#include "nn/nn_dispatcher.h"
#include "nn/nn_layer.h"
#include "nn/nn_tensor.h"
#include "tests/nn/NnTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace layerref {

enum class Kind { Scalar, Vector, Vector2 };

inline Kind choose(int L, int threads) {
    const int q = L / threads;
    if (q != 0 && q % 8 == 0 && L % 8 == 0) return Kind::Vector2;
    if (q != 0 && q % 4 == 0 && L % 4 == 0) return Kind::Vector;
    return Kind::Scalar;
}

inline float sum(Kind kind, const float* a, const float* b, int n) {
    if (kind == Kind::Scalar) {
        float s = 0.0f;
        for (int k = 0; k < n; ++k) s = s + a[k] * b[k];
        return s;
    }
    float lanes[2][4] = {};
    for (int k = 0; k < n; ++k) {
        const int set = kind == Kind::Vector2 ? (k % 8) / 4 : 0;
        float& lane = lanes[set][k % 4];
        lane = lane + a[k] * b[k];
    }
    auto hsum = [](const float* x) { return (x[0] + x[1]) + (x[2] + x[3]); };
    return kind == Kind::Vector2 ? hsum(lanes[0]) + hsum(lanes[1]) : hsum(lanes[0]);
}

// w: (units, inputs), x: (inputs) -> (units); the bias follows the sum.
inline std::vector<float> dense(const std::vector<float>& w, const std::vector<float>& b,
                                const std::vector<float>& x, int threads) {
    const int inputs = int(x.size());
    const Kind kind = choose(inputs, threads);
    std::vector<float> y(b.size());
    for (size_t u = 0; u < b.size(); ++u) y[u] = sum(kind, &w[u * inputs], x.data(), inputs) + b[u];
    return y;
}

// w: (filters, kernel, channels), x: (steps, channels) -> (steps - kernel + 1, filters)
inline std::vector<float> conv1d(const std::vector<float>& w, const std::vector<float>& b,
                                 const std::vector<float>& x, int kernel, int channels,
                                 int threads) {
    const int steps = int(x.size()) / channels, filters = int(b.size());
    const int L = kernel * channels, outSteps = steps - kernel + 1;
    const Kind kind = choose(L, threads);
    std::vector<float> y(size_t(outSteps) * filters);
    for (int i = 0; i < outSteps; ++i)
        for (int f = 0; f < filters; ++f)
            y[i * filters + f] = b[f] + sum(kind, &x[i * channels], &w[f * L], L);
    return y;
}

// w: (filters, kr, kc, channels), x: (rows, cols, channels) -> (rows-kr+1, cols-kc+1, filters)
inline std::vector<float> conv2d(const std::vector<float>& w, const std::vector<float>& b,
                                 const std::vector<float>& x, int rows, int cols, int channels,
                                 int kr, int kc, int threads) {
    const int filters = int(b.size()), L = kc * channels;
    const int outRows = rows - kr + 1, outCols = cols - kc + 1;
    const Kind kind = choose(L, threads);
    std::vector<float> y(size_t(outRows) * outCols * filters);
    for (int i = 0; i < outRows; ++i)
        for (int j = 0; j < outCols; ++j)
            for (int f = 0; f < filters; ++f) {
                float s = b[f];
                for (int r = 0; r < kr; ++r)
                    s = s + sum(kind, &x[((i + r) * cols + j) * channels], &w[(f * kr + r) * L], L);
                y[(i * outCols + j) * filters + f] = s;
            }
    return y;
}

// w: (outSteps, filters, L), b: (outSteps, filters), x: (outSteps + L/channels - 1, channels)
inline std::vector<float> locallyConnected1d(const std::vector<float>& w,
                                             const std::vector<float>& b,
                                             const std::vector<float>& x, int outSteps, int filters,
                                             int L, int channels, int threads) {
    const Kind kind = choose(L, threads);
    std::vector<float> y(size_t(outSteps) * filters);
    for (int s = 0; s < outSteps; ++s)
        for (int f = 0; f < filters; ++f)
            y[s * filters + f] =
                b[s * filters + f] + sum(kind, &x[s * channels], &w[(s * filters + f) * L], L);
    return y;
}

// Values spread over several orders of magnitude, so that different
// summation orders round differently.
inline std::vector<float> spread(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
    std::uniform_int_distribution<int> expo(-6, 6);
    std::vector<float> v(n);
    for (auto& x : v) x = mant(gen) * float(1 << (expo(gen) + 6)) / 64.0f;
    return v;
}

// The layer of a record (ID then payload); null when it does not load.
inline std::unique_ptr<nn::Layer> layerOf(const nntest::ModelBytes& record) {
    std::istringstream stream = record.stream();
    return nn::Layer::create(stream);
}

struct Applied {
    bool ok = false;
    nn::Tensor out;
    nntest::Messages messages;
};

// One apply of layer to a copy of in on a pool of `threads`.
inline Applied applyTo(const nn::Layer& layer, const nn::Tensor& in, int threads = 1) {
    nn::Dispatcher pool{unsigned(threads)};
    nn::Tensor input = in;
    Applied r;
    nn::LayerData data(input, r.out, pool);
    r.messages = nntest::reportsOf([&] { r.ok = layer.apply(data); });
    return r;
}

// Applies layer to a zero input of dims, which it must reject with the one
// report message, leaving an output that already held values as it was.
inline void expectRejects(const nn::Layer& layer, const nn::Tensor::Dims& dims,
                          const std::string& message) {
    SCOPED_TRACE(nn::formatDims(dims));
    nn::Dispatcher pool{1u};
    nn::Tensor in = nntest::tensorOf(dims);
    nn::Tensor out = nntest::tensorOf({2, 1}, {7, 8});
    bool ok = true;
    nn::LayerData data(in, out, pool);
    EXPECT_EQ(nntest::reportsOf([&] { ok = layer.apply(data); }), nntest::Messages({message}));
    EXPECT_FALSE(ok);
    EXPECT_EQ(out.dims(), nn::Tensor::Dims({2, 1})) << "out must be untouched";
    EXPECT_EQ(nntest::valuesOf(out), std::vector<float>({7, 8})) << "out must be untouched";
}

// Index of the first element whose bits differ, -1 when all are identical.
inline long firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (!nntest::sameBits(a[i], b[i])) return long(i);
    return -1;
}

} // namespace layerref

#include "nn/nn_lstm_layer.h"

#include "nn/nn_model.h"
#include "tests/nn/LayerTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>

namespace {

using layerref::applyTo;
using layerref::layerOf;
using nntest::tensorOf;
using nntest::valuesOf;

constexpr uint32_t kLstm = 10, kSigmoid = 6, kTanh = 7, kHardSigmoid = 8;

// The twelve tensors wi ui bi wf uf bf wc uc bc wo uo bo.
struct LstmWeights {
    int inputs = 0, units = 0;
    std::array<std::vector<uint32_t>, 12> dims;
    std::array<std::vector<float>, 12> values;
};

// Weights of the shapes the layer expects; spread values scaled into the
// activations' working range, or zeros for seed 0.
LstmWeights lstmWeights(int inputs, int units, uint32_t seed) {
    LstmWeights w;
    w.inputs = inputs;
    w.units = units;
    for (int n = 0; n < 12; ++n) {
        const uint32_t u = uint32_t(units);
        w.dims[n] = n % 3 == 0   ? std::vector<uint32_t>{u, uint32_t(inputs)}
                    : n % 3 == 1 ? std::vector<uint32_t>{u, u}
                                 : std::vector<uint32_t>{1, u};
        size_t count = 1;
        for (uint32_t d : w.dims[n]) count *= d;
        w.values[n] = seed ? layerref::spread(count, seed * 100 + n) : std::vector<float>(count);
        for (float& v : w.values[n]) v *= 0.0625f;
    }
    return w;
}

nntest::ModelBytes lstmRecord(const LstmWeights& w, uint32_t inner, uint32_t activation,
                              uint32_t returnSequences) {
    nntest::ModelBytes r;
    r.u32(kLstm);
    for (int n = 0; n < 12; ++n) {
        for (uint32_t d : w.dims[n]) r.u32(d);
        for (float v : w.values[n]) r.f32(v);
    }
    r.u32(inner).u32(activation).u32(returnSequences);
    return r;
}

float activate(uint32_t id, float x) {
    if (id == kTanh) return std::tanh(x);
    if (id == kHardSigmoid) return x <= -2.5f ? 0.0f : x >= 2.5f ? 1.0f : x * 0.2f + 0.5f;
    const float e = std::exp(-std::fabs(x));
    return x < 0 ? e / (e + 1) : 1 / (e + 1);
}

// The step of the layer written out per unit, in the layer's order of
// roundings: gate = (x.w + b) + h.u; c = f*c + i*cc; h = o * act(c). The
// layer's one-thread pool makes the kernel depend on the inner length only.
std::vector<float> lstmReference(const LstmWeights& w, uint32_t inner, uint32_t act,
                                 const std::vector<float>& x, bool returnSequences) {
    const int units = w.units, inputs = w.inputs;
    const int steps = int(x.size()) / inputs;
    const layerref::Kind kx = layerref::choose(inputs, 1), kh = layerref::choose(units, 1);
    std::vector<float> h(units), c(units), out;
    std::array<std::vector<float>, 4> gates;
    for (int t = 0; t < steps; ++t) {
        const float* row = &x[size_t(t) * inputs];
        for (int g = 0; g < 4; ++g) {
            const auto &wg = w.values[g * 3], &ug = w.values[g * 3 + 1], &bg = w.values[g * 3 + 2];
            gates[g].resize(units);
            for (int u = 0; u < units; ++u) {
                const float xw = layerref::sum(kx, row, &wg[size_t(u) * inputs], inputs) + bg[u];
                const float hu = layerref::sum(kh, h.data(), &ug[size_t(u) * units], units);
                gates[g][u] = activate(g == 2 ? act : inner, xw + hu);
            }
        }
        for (int u = 0; u < units; ++u) {
            const float fc = gates[1][u] * c[u], icc = gates[0][u] * gates[2][u];
            c[u] = fc + icc;
            h[u] = gates[3][u] * activate(act, c[u]);
        }
        if (returnSequences || t == steps - 1) out.insert(out.end(), h.begin(), h.end());
    }
    return out;
}

TEST(LstmLayerTest, ZeroWeightsKeepTheStateAtZero) {
    auto layer = layerOf(lstmRecord(lstmWeights(1, 1, 0), kHardSigmoid, kTanh, 0));
    ASSERT_TRUE(layer);
    const layerref::Applied r = applyTo(*layer, tensorOf({3, 1}, {1, -2, 3}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({1}));
    EXPECT_EQ(valuesOf(r.out), std::vector<float>({0}));
}

TEST(LstmLayerTest, OutputDims) {
    struct Case {
        uint32_t returnSequences;
        uint64_t steps;
        nn::Tensor::Dims dims;
    } cases[] = {
        {1, 1, {4}}, {1, 3, {3, 4}}, {0, 1, {4}}, {0, 3, {4}}, {7, 2, {2, 4}}, // nonzero is true
    };
    for (const Case& c : cases) {
        auto layer = layerOf(lstmRecord(lstmWeights(2, 4, 1), kSigmoid, kTanh, c.returnSequences));
        ASSERT_TRUE(layer);
        const layerref::Applied r = applyTo(*layer, tensorOf({c.steps, 2}));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.out.dims(), c.dims) << c.returnSequences << " " << c.steps;
    }
}

TEST(LstmLayerTest, RejectsInputOfWrongShape) {
    auto layer = layerOf(lstmRecord(lstmWeights(3, 2, 1), kSigmoid, kTanh, 1));
    ASSERT_TRUE(layer);
    struct Case {
        std::vector<uint64_t> dims;
        std::string message;
    } cases[] = {
        {{5}, "Input tensor dims count must be 2 (input dims: [5])"},
        {{4, 2},
         "Input tensor dims[1] must be the same as wi dims[1] (input dims: [4, 2]) "
         "(wi dims: [2, 3])"},
        {{0, 3}, "Input tensor has no steps (input dims: [0, 3])"},
    };
    for (const Case& c : cases) layerref::expectRejects(*layer, c.dims, c.message);
}

TEST(LstmLayerTest, LoadFailuresReportTheirChain) {
    const std::string full = lstmRecord(lstmWeights(3, 2, 1), kSigmoid, kTanh, 1).str();
    // Offsets into the record (after the 4-byte ID): wi is 8 + 24 bytes,
    // ui and uc 8 + 16, bi and bc 8 + 8.
    const size_t wi = 4, ui = wi + 32, gate = 32 + 24 + 16, uc = wi + 2 * gate + 32;
    const size_t activations = wi + 4 * gate;
    struct Case {
        size_t cut;
        nntest::Messages messages;
    } cases[] = {
        {wi + 2, {"Parse failed: 2 - 4", "Stride parse failed", "wi tensor parse failed"}},
        {ui + 8 + 4, {"Parse failed: 4 - 16", "Data parse failed", "ui tensor parse failed"}},
        {uc + 8 + 8, {"Parse failed: 8 - 16", "Data parse failed", "uc tensor parse failed"}},
        {activations + 4 * 0,
         {"Parse failed: 0 - 4", "Activation ID parse failed", "Activation layer parse failed"}},
        {activations + 4 * 1,
         {"Parse failed: 0 - 4", "Activation ID parse failed", "Activation layer parse failed"}},
        {activations + 4 * 2, {"Parse failed: 0 - 4", "Return sequences parse failed"}},
    };
    for (const Case& c : cases) {
        nntest::ModelBytes cut;
        cut.raw(full.substr(0, c.cut));
        EXPECT_EQ(nntest::reportsOf([&] { EXPECT_FALSE(layerOf(cut)); }), c.messages) << c.cut;
    }
    // Inside a model file the model's own reports follow the layer's chain.
    const std::string model = nntest::ModelBytes().u32(1).str() + full.substr(0, uc + 8 + 8);
    EXPECT_EQ(nntest::reportsOf([&] {
                  std::istringstream stream(model);
                  EXPECT_FALSE(nn::Model::create(stream));
              }),
              nntest::Messages({"Parse failed: 8 - 16", "Data parse failed",
                                "uc tensor parse failed", "Layer parse failed"}));
    nntest::ModelBytes badActivation;
    badActivation.raw(full.substr(0, activations)).u32(kSigmoid).u32(10).u32(1);
    EXPECT_EQ(
        nntest::reportsOf([&] { EXPECT_FALSE(layerOf(badActivation)); }),
        nntest::Messages({"Unknown activation layer ID: 10", "Activation layer parse failed"}));
}

TEST(LstmLayerTest, RejectsInconsistentWeightShapes) {
    struct Case {
        int tensor;
        std::vector<uint32_t> dims;
        std::string message;
    } cases[] = {
        {3, {2, 4}, "Invalid wf tensor dims (wf dims: [2, 4]) (expected dims: [2, 3])"},
        {6, {3, 3}, "Invalid wc tensor dims (wc dims: [3, 3]) (expected dims: [2, 3])"},
        {7, {2, 3}, "Invalid uc tensor dims (uc dims: [2, 3]) (expected dims: [2, 2])"},
        {1, {1, 4}, "Invalid ui tensor dims (ui dims: [1, 4]) (expected dims: [2, 2])"},
        {8, {1, 3}, "Invalid bc tensor dims (bc dims: [1, 3]) (expected dims: [1, 2])"},
        // units come from bo: every other tensor then disagrees, wi first.
        {11, {1, 3}, "Invalid wi tensor dims (wi dims: [2, 3]) (expected dims: [3, 3])"},
    };
    for (const Case& c : cases) {
        LstmWeights w = lstmWeights(3, 2, 1);
        w.dims[c.tensor] = c.dims;
        w.values[c.tensor].assign(size_t(c.dims[0]) * c.dims[1], 0.5f);
        const nntest::ModelBytes record = lstmRecord(w, kSigmoid, kTanh, 1);
        EXPECT_EQ(nntest::reportsOf([&] { EXPECT_FALSE(layerOf(record)); }),
                  nntest::Messages({c.message}));
    }
    // Biases stored as (units, 1) still hold units values.
    LstmWeights w = lstmWeights(3, 2, 1);
    w.dims[2] = {2, 1};
    EXPECT_TRUE(layerOf(lstmRecord(w, kSigmoid, kTanh, 1)));
}

struct LstmShape {
    int inputs, units, steps;
    uint32_t inner;
    bool returnSequences;
    int threads;
};

class LstmLayerBits : public testing::TestWithParam<LstmShape> {};

// The prediction's pool must not change a float: the layer runs on its own
// one-thread pool.
TEST_P(LstmLayerBits, MatchReferenceOrder) {
    const LstmShape s = GetParam();
    const LstmWeights w = lstmWeights(s.inputs, s.units, 2);
    std::vector<float> x = layerref::spread(size_t(s.steps) * s.inputs, 3);
    for (float& v : x) v *= 0.0625f;
    auto layer = layerOf(lstmRecord(w, s.inner, kTanh, s.returnSequences));
    ASSERT_TRUE(layer);
    const layerref::Applied r =
        applyTo(*layer, tensorOf({uint64_t(s.steps), uint64_t(s.inputs)}, x), s.threads);
    ASSERT_TRUE(r.ok);
    const std::vector<float> expected = lstmReference(w, s.inner, kTanh, x, s.returnSequences);
    EXPECT_EQ(layerref::firstDifference(valuesOf(r.out), expected), -1);
}

std::vector<LstmShape> lstmShapes() {
    // Inner lengths 13 and 3 (Scalar), 4 and 12 (Vector), 16, 32 and 8 (Vector2).
    const LstmShape base[] = {
        {13, 20, 7, kSigmoid, true, 1},
        {16, 32, 5, kHardSigmoid, false, 1},
        {8, 4, 9, kHardSigmoid, true, 1},
        {3, 12, 4, kSigmoid, false, 1},
    };
    std::vector<LstmShape> shapes;
    for (LstmShape s : base)
        for (int threads : {1, 8, 12, 16}) {
            s.threads = threads;
            shapes.push_back(s);
        }
    return shapes;
}

INSTANTIATE_TEST_SUITE_P(Shapes, LstmLayerBits, testing::ValuesIn(lstmShapes()),
                         [](const testing::TestParamInfo<LstmShape>& p) {
                             return std::to_string(p.param.inputs) + "in_" +
                                    std::to_string(p.param.units) + "units_" +
                                    std::to_string(p.param.threads) + "threads";
                         });

} // namespace

#include "nn/nn_activation_layer.h"

#include "nn/nn_dispatcher.h"
#include "tests/nn/NnTestSupport.h"

#include <cmath>
#include <limits>
#include <math.h>
#include <typeinfo>
#include <vector>

namespace {

using nntest::Messages;
using nntest::ModelBytes;
using nntest::reportsOf;
using nntest::sameBits;

// Bit for bit, any NaN matching any NaN.
bool sameValue(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || sameBits(a, b);
}

// Keeps libm calls in the expectations at run time: the compiler would fold
// constant arguments with its own (differently rounded) arithmetic.
float rt(float x) {
    volatile float v = x;
    return v;
}

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

std::unique_ptr<nn::ActivationLayer> activation(uint32_t id) {
    std::istringstream stream(ModelBytes().u32(id).str());
    return nn::ActivationLayer::create(stream);
}

std::vector<float> applied(uint32_t id, const std::vector<float>& values) {
    nn::Tensor t(values.size());
    for (size_t i = 0; i < values.size(); ++i) t[i] = values[i];
    activation(id)->apply(t);
    return std::vector<float>(t.data(), t.data() + t.size());
}

struct ActivationCase {
    const char* name;
    uint32_t id;
    std::vector<float> in, out;
};

class ActivationValueTest : public testing::TestWithParam<ActivationCase> {};

TEST_P(ActivationValueTest, GivesTheExpectedValues) {
    const ActivationCase& c = GetParam();
    const std::vector<float> got = applied(c.id, c.in);
    ASSERT_EQ(got.size(), c.out.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(sameValue(got[i], c.out[i]))
            << c.name << " of " << c.in[i] << " gave " << got[i] << ", expected " << c.out[i];
}

const float kFifthOf1 = 1.0f * 0.2f + 0.5f;

INSTANTIATE_TEST_SUITE_P(
    Functions, ActivationValueTest,
    testing::Values(ActivationCase{"linear", 1, {-3, 0, 2.5f, kNaN}, {-3, 0, 2.5f, kNaN}},
                    ActivationCase{"relu", 2, {-1, 0, 3, -0.0f, kNaN}, {0, 0, 3, 0, 0}},
                    ActivationCase{"elu", 3, {-1, 0, 2}, {expm1f(rt(-1.0f)), 0, 2}},
                    ActivationCase{"softplus",
                                   4,
                                   {0, -2, 100, 1000},
                                   {log1pf(rt(1.0f)), log1pf(expf(rt(-2.0f))), 100, 1000}},
                    ActivationCase{"softsign", 5, {-3, 0, 1, kInf}, {-0.75f, 0, 0.5f, kNaN}},
                    ActivationCase{"sigmoid",
                                   6,
                                   {0, 2, -2},
                                   {0.5f, 1.0f / (expf(rt(-2.0f)) + 1.0f),
                                    expf(rt(-2.0f)) / (expf(rt(-2.0f)) + 1.0f)}},
                    ActivationCase{"tanh", 7, {0, 0.5f, -20}, {0, tanhf(rt(0.5f)), -1}},
                    ActivationCase{
                        "hard sigmoid", 8, {-3, -2.5f, 0, 1, 2.5f}, {0, 0, 0.5f, kFifthOf1, 1}},
                    ActivationCase{"softmax", 9, {0, 0, 0, 0}, {0.25f, 0.25f, 0.25f, 0.25f}},
                    ActivationCase{"softmax, no maximum subtracted", 9, {1000}, {kNaN}}));

TEST(ActivationLayerTest, SigmoidOfLargeNegativeInputsIsTinyAndPositive) {
    for (float x : {-50.0f, -80.0f, -1e6f}) {
        const float y = applied(6, {x})[0];
        EXPECT_FALSE(std::isnan(y)) << x;
        EXPECT_GE(y, 0.0f) << x;
        EXPECT_LT(y, 1e-20f) << x;
    }
    EXPECT_GT(applied(6, {-50.0f})[0], 0.0f);
}

TEST(ActivationLayerTest, SoftPlusOnlyReplacesTheOverflowingResults) {
    // Up to where expf stays finite the result is log1pf(expf(x)) exactly.
    for (float x : {-20.0f, 10.0f, 88.0f})
        EXPECT_TRUE(sameBits(applied(4, {x})[0], log1pf(expf(rt(x)))));
    EXPECT_EQ(applied(4, {89.0f})[0], 89.0f);
}

// Values that probe the vector paths' special cases.
std::vector<float> probeValues() {
    std::vector<float> v = {-0.0f,   0.0f, kNaN,  kInf,   -kInf, 1e-40f,
                            -1e-40f, 3.0f, -2.0f, 0.125f, -7.5f, 1e30f};
    return v;
}

TEST(ActivationLayerTest, VectorPathsEqualTheScalarOnes) {
    // A multiple of 4 takes the SSE path; one element at a time the scalar one.
    for (uint32_t id : {2u, 5u}) {
        const std::vector<float> in = probeValues();
        const std::vector<float> vectorResult = applied(id, in);
        for (size_t i = 0; i < in.size(); ++i)
            EXPECT_TRUE(sameBits(vectorResult[i], applied(id, {in[i]})[0]))
                << id << " at " << in[i];
    }
    // SoftMax: 8 elements (vector scaling) against the same sum, scaled one by one.
    const std::vector<float> in = {0.5f, -1, 2, 0.25f, -3, 1, 0, 1.5f};
    const std::vector<float> eight = applied(9, in);
    float sum = 0;
    std::vector<float> e(in.size());
    for (size_t i = 0; i < in.size(); ++i) sum = sum + (e[i] = expf(rt(in[i])));
    const float r = 1.0f / sum;
    for (size_t i = 0; i < in.size(); ++i) EXPECT_TRUE(sameBits(eight[i], e[i] * r)) << i;
    std::vector<float> seven(in.begin(), in.end() - 1);
    EXPECT_EQ(applied(9, seven).size(), 7u);
}

TEST(ActivationLayerTest, LayerApplyHandsTheInputThroughInPlace) {
    nn::Dispatcher pool(1);
    nn::Tensor in;
    in.resize(2, 2);
    in[0] = -1;
    in[3] = 4;
    nn::Tensor out(7);
    nn::LayerData data(in, out, pool);
    const std::unique_ptr<nn::Layer> relu = activation(2);
    EXPECT_TRUE(relu->apply(data));
    EXPECT_EQ(out.dims(), (nn::Tensor::Dims{2, 2}));
    EXPECT_EQ(std::vector<float>(out.data(), out.data() + 4), (std::vector<float>{0, 0, 0, 4}));
}

TEST(ActivationLayerTest, CreateMapsEachIdToItsClass) {
    const std::type_info* classes[] = {
        &typeid(nn::LinearActivationLayer),   &typeid(nn::ReluActivationLayer),
        &typeid(nn::EluActivationLayer),      &typeid(nn::SoftPlusActivationLayer),
        &typeid(nn::SoftSignActivationLayer), &typeid(nn::SigmoidActivationLayer),
        &typeid(nn::TanhActivationLayer),     &typeid(nn::HardSigmoidActivationLayer),
        &typeid(nn::SoftMaxActivationLayer)};
    for (uint32_t id = 1; id <= 9; ++id) {
        std::unique_ptr<nn::ActivationLayer> layer = activation(id);
        ASSERT_TRUE(layer) << id;
        EXPECT_EQ(typeid(*layer), *classes[id - 1]) << id;
    }
}

TEST(ActivationLayerTest, CreateReportsUnknownAndMissingIds) {
    const struct {
        std::string bytes;
        Messages messages;
    } cases[] = {{ModelBytes().u32(0).str(), {"Unknown activation layer ID: 0"}},
                 {ModelBytes().u32(10).str(), {"Unknown activation layer ID: 10"}},
                 {"\1", {"Parse failed: 1 - 4", "Activation ID parse failed"}}};
    for (const auto& c : cases) {
        std::istringstream stream(c.bytes);
        std::unique_ptr<nn::ActivationLayer> layer;
        EXPECT_EQ(reportsOf([&] { layer = nn::ActivationLayer::create(stream); }), c.messages);
        EXPECT_FALSE(layer);
    }
}

} // namespace

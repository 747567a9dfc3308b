#include "nn/nn_conv1d_layer.h"

#include "tests/nn/LayerTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using layerref::applyTo;
using layerref::layerOf;
using nntest::tensorOf;
using nntest::valuesOf;

constexpr uint32_t kConv1D = 2, kLinear = 1, kTanh = 7;

nntest::ModelBytes conv1dRecord(uint32_t filters, uint32_t kernel, uint32_t channels,
                                const std::vector<float>& w, const std::vector<float>& b,
                                uint32_t activation = kLinear) {
    nntest::ModelBytes r;
    r.u32(kConv1D).tensor({filters, kernel, channels}, w).tensor({uint32_t(b.size())}, b);
    r.u32(activation);
    return r;
}

TEST(Conv1DLayerTest, SlidesTheKernelOverSteps) {
    auto layer = layerOf(conv1dRecord(1, 2, 1, {1, 1}, {0}));
    ASSERT_TRUE(layer);
    const layerref::Applied r = applyTo(*layer, tensorOf({4, 1}, {1, 2, 3, 4}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({3, 1}));
    EXPECT_EQ(valuesOf(r.out), std::vector<float>({3, 5, 7}));
}

TEST(Conv1DLayerTest, FiltersBiasesAndActivation) {
    // Two filters over two channels, kernel 1: f0 = c0 - c1 + 1, f1 = 2 * c1, then tanh.
    auto layer = layerOf(conv1dRecord(2, 1, 2, {1, -1, 0, 2}, {1, 0}, kTanh));
    ASSERT_TRUE(layer);
    const layerref::Applied r = applyTo(*layer, tensorOf({2, 2}, {0.5f, 0.25f, -1, 0}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({2, 2}));
    EXPECT_EQ(valuesOf(r.out), std::vector<float>({std::tanh(1.25f), std::tanh(0.5f),
                                                   std::tanh(0.0f), std::tanh(0.0f)}));
}

TEST(Conv1DLayerTest, RejectsInputOfWrongShape) {
    auto layer = layerOf(conv1dRecord(1, 3, 2, std::vector<float>(6, 1), {0}));
    ASSERT_TRUE(layer);
    struct Case {
        std::vector<uint64_t> dims;
        std::string message;
    } cases[] = {
        {{4}, "Input tensor dims count must be 2 (input dims: [4])"},
        {{4, 3},
         "Input tensor dims[1] must be the same as weights dims[2] (input dims: [4, 3]) "
         "(weights dims: [1, 3, 2])"},
        {{2, 2},
         "Input tensor dims[0] must not be less than weights dims[1] (input dims: [2, 2]) "
         "(weights dims: [1, 3, 2])"},
    };
    for (const Case& c : cases) layerref::expectRejects(*layer, c.dims, c.message);
    // A kernel exactly as long as the input gives one step.
    const layerref::Applied r = applyTo(*layer, tensorOf({3, 2}));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({1, 1}));
}

struct Conv1DShape {
    int channels, kernel, threads;
};

class Conv1DLayerBits : public testing::TestWithParam<Conv1DShape> {};

TEST_P(Conv1DLayerBits, MatchReferenceOrder) {
    const auto [channels, kernel, threads] = GetParam();
    const int filters = 5, steps = 41;
    const std::vector<float> w = layerref::spread(size_t(filters) * kernel * channels, 6);
    const std::vector<float> b = layerref::spread(filters, 7);
    const std::vector<float> x = layerref::spread(size_t(steps) * channels, 8);
    auto layer = layerOf(conv1dRecord(filters, kernel, channels, w, b));
    ASSERT_TRUE(layer);
    const layerref::Applied r =
        applyTo(*layer, tensorOf({uint64_t(steps), uint64_t(channels)}, x), threads);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({uint64_t(steps - kernel + 1), uint64_t(filters)}));
    EXPECT_EQ(layerref::firstDifference(valuesOf(r.out),
                                        layerref::conv1d(w, b, x, kernel, channels, threads)),
              -1);
}

std::vector<Conv1DShape> conv1dShapes() {
    // Windows of 3 channels start off the 16-byte grid; L = 24 and 12 pick
    // the vector kernels at low thread counts, 48 and 96 at high ones.
    std::vector<Conv1DShape> shapes;
    for (auto [channels, kernel] : {std::pair{3, 8}, {3, 4}, {3, 32}, {1, 5}, {4, 4}, {8, 12}})
        for (int threads : {1, 8, 12, 16}) shapes.push_back({channels, kernel, threads});
    return shapes;
}

INSTANTIATE_TEST_SUITE_P(Shapes, Conv1DLayerBits, testing::ValuesIn(conv1dShapes()),
                         [](const testing::TestParamInfo<Conv1DShape>& p) {
                             return std::to_string(p.param.channels) + "ch_" +
                                    std::to_string(p.param.kernel) + "k_" +
                                    std::to_string(p.param.threads) + "threads";
                         });

} // namespace

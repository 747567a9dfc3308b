#include "nn/nn_locally_connected1d_layer.h"

#include "tests/nn/LayerTestSupport.h"

#include <gtest/gtest.h>

namespace {

using layerref::applyTo;
using layerref::layerOf;
using nntest::tensorOf;
using nntest::valuesOf;

constexpr uint32_t kLocallyConnected1D = 4, kLinear = 1;

nntest::ModelBytes lc1dRecord(uint32_t steps, uint32_t filters, uint32_t L,
                              const std::vector<float>& w, const std::vector<float>& b,
                              uint32_t biasSteps = 0) {
    nntest::ModelBytes r;
    r.u32(kLocallyConnected1D).tensor({steps, filters, L}, w);
    r.tensor({biasSteps ? biasSteps : steps, filters}, b).u32(kLinear);
    return r;
}

TEST(LocallyConnected1DLayerTest, EveryStepHasItsOwnWeights) {
    // 3 output steps, 1 filter, kernel 2 over 1 channel: step s weights (s + 1, 1), bias s.
    auto layer = layerOf(lc1dRecord(3, 1, 2, {1, 1, 2, 1, 3, 1}, {0, 1, 2}));
    ASSERT_TRUE(layer);
    const layerref::Applied r = applyTo(*layer, tensorOf({4, 1}, {1, 2, 3, 4}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({3, 1}));
    EXPECT_EQ(valuesOf(r.out), std::vector<float>({3, 8, 15}));
}

TEST(LocallyConnected1DLayerTest, InputStepsFollowTheKernelOffset) {
    // Weights (3, 2, 4): with 2 channels the kernel is 2, the offset 1.
    auto layer = layerOf(lc1dRecord(3, 2, 4, std::vector<float>(24, 1), std::vector<float>(6)));
    ASSERT_TRUE(layer);
    const std::string weights = " (weights dims: [3, 2, 4])";
    const layerref::Applied accepted = applyTo(*layer, tensorOf({4, 2}));
    EXPECT_TRUE(accepted.ok);
    EXPECT_EQ(accepted.out.dims(), nn::Tensor::Dims({3, 2}));
    struct Case {
        std::vector<uint64_t> dims;
        std::string message;
    } cases[] = {
        {{5, 2},
         "Input tensor dims[0] must be the same as weights dims[0] + offset "
         "(input dims: [5, 2])" +
             weights + " (offset: 1)"},
        // 1 channel: kernel 4, offset 3.
        {{4, 1},
         "Input tensor dims[0] must be the same as weights dims[0] + offset "
         "(input dims: [4, 1])" +
             weights + " (offset: 3)"},
        {{8}, "Input tensor dims count must be 2 (input dims: [8])"},
        // Windows of 4 floats would not cover whole steps of 3 channels, and
        // 0 or more than 4 channels leave no kernel at all.
        {{3, 3}, "Input tensor dims[1] must divide weights dims[2] (input dims: [3, 3])" + weights},
        {{4, 0}, "Input tensor dims[1] must divide weights dims[2] (input dims: [4, 0])" + weights},
        {{3, 8}, "Input tensor dims[1] must divide weights dims[2] (input dims: [3, 8])" + weights},
    };
    for (const Case& c : cases) layerref::expectRejects(*layer, c.dims, c.message);
}

TEST(LocallyConnected1DLayerTest, RejectsBiasesShorterThanTheOutput) {
    nntest::Messages messages = nntest::reportsOf([] {
        EXPECT_FALSE(layerOf(lc1dRecord(3, 2, 4, std::vector<float>(24), {0, 0, 0, 0}, 2)));
    });
    EXPECT_EQ(messages, nntest::Messages({"Invalid biases tensor dims (biases dims: [2, 2]) "
                                          "(weights dims: [3, 2, 4])"}));
}

struct Lc1dShape {
    int channels, kernel, threads;
};

class LocallyConnected1DLayerBits : public testing::TestWithParam<Lc1dShape> {};

TEST_P(LocallyConnected1DLayerBits, MatchReferenceOrder) {
    const auto [channels, kernel, threads] = GetParam();
    const int steps = 23, filters = 4, L = kernel * channels;
    const std::vector<float> w = layerref::spread(size_t(steps) * filters * L, 12);
    const std::vector<float> b = layerref::spread(size_t(steps) * filters, 13);
    const std::vector<float> x = layerref::spread(size_t(steps + kernel - 1) * channels, 14);
    auto layer = layerOf(lc1dRecord(steps, filters, L, w, b));
    ASSERT_TRUE(layer);
    const layerref::Applied r =
        applyTo(*layer, tensorOf({uint64_t(steps + kernel - 1), uint64_t(channels)}, x), threads);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(layerref::firstDifference(
                  valuesOf(r.out),
                  layerref::locallyConnected1d(w, b, x, steps, filters, L, channels, threads)),
              -1);
}

std::vector<Lc1dShape> lc1dShapes() {
    std::vector<Lc1dShape> shapes;
    for (auto [channels, kernel] : {std::pair{3, 8}, {3, 4}, {3, 32}, {2, 3}, {8, 8}})
        for (int threads : {1, 8, 12, 16}) shapes.push_back({channels, kernel, threads});
    return shapes;
}

INSTANTIATE_TEST_SUITE_P(Shapes, LocallyConnected1DLayerBits, testing::ValuesIn(lc1dShapes()),
                         [](const testing::TestParamInfo<Lc1dShape>& p) {
                             return std::to_string(p.param.channels) + "ch_" +
                                    std::to_string(p.param.kernel) + "k_" +
                                    std::to_string(p.param.threads) + "threads";
                         });

} // namespace

#include "nn/nn_conv2d_layer.h"

#include "tests/nn/LayerTestSupport.h"

#include <gtest/gtest.h>

namespace {

using layerref::applyTo;
using layerref::layerOf;
using nntest::tensorOf;
using nntest::valuesOf;

constexpr uint32_t kConv2D = 3, kLinear = 1, kRelu = 2;

nntest::ModelBytes conv2dRecord(uint32_t filters, uint32_t rows, uint32_t columns,
                                uint32_t channels, const std::vector<float>& w,
                                const std::vector<float>& b, uint32_t activation = kLinear) {
    nntest::ModelBytes r;
    r.u32(kConv2D).tensor({filters, rows, columns, channels}, w);
    r.tensor({uint32_t(b.size())}, b).u32(activation);
    return r;
}

TEST(Conv2DLayerTest, TwoByTwoKernelOverThreeByThree) {
    // Filter 0 sums the 2 x 2 window, filter 1 takes its top-left minus its
    // bottom-right, then ReLU.
    auto layer = layerOf(conv2dRecord(2, 2, 2, 1, {1, 1, 1, 1, 1, 0, 0, -1}, {0, 0}, kRelu));
    ASSERT_TRUE(layer);
    const layerref::Applied r = applyTo(*layer, tensorOf({3, 3, 1}, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({2, 2, 2}));
    EXPECT_EQ(valuesOf(r.out), std::vector<float>({12, 0, 16, 0, 24, 0, 28, 0}));
}

TEST(Conv2DLayerTest, RejectsInputOfWrongShape) {
    auto layer = layerOf(conv2dRecord(1, 2, 3, 2, std::vector<float>(12, 1), {0}));
    ASSERT_TRUE(layer);
    const std::string weights = " (weights dims: [1, 2, 3, 2])";
    struct Case {
        std::vector<uint64_t> dims;
        std::string message;
    } cases[] = {
        {{4, 4}, "Input tensor dims count must be 3 (input dims: [4, 4])"},
        {{4, 4, 3},
         "Input tensor dims[2] must be the same as weights dims[3] (input dims: [4, 4, 3])" +
             weights},
        {{1, 4, 2},
         "Input tensor dims[0] and dims[1] must not be less than weights dims[1] and "
         "dims[2] (input dims: [1, 4, 2])" +
             weights},
        {{4, 2, 2},
         "Input tensor dims[0] and dims[1] must not be less than weights dims[1] and "
         "dims[2] (input dims: [4, 2, 2])" +
             weights},
    };
    for (const Case& c : cases) layerref::expectRejects(*layer, c.dims, c.message);
}

struct Conv2DShape {
    int channels, kernelRows, kernelColumns, threads;
};

class Conv2DLayerBits : public testing::TestWithParam<Conv2DShape> {};

TEST_P(Conv2DLayerBits, MatchReferenceOrder) {
    const auto [channels, kr, kc, threads] = GetParam();
    const int filters = 3, rows = 19, columns = 37;
    const std::vector<float> w = layerref::spread(size_t(filters) * kr * kc * channels, 9);
    const std::vector<float> b = layerref::spread(filters, 10);
    const std::vector<float> x = layerref::spread(size_t(rows) * columns * channels, 11);
    auto layer = layerOf(conv2dRecord(filters, kr, kc, channels, w, b));
    ASSERT_TRUE(layer);
    const layerref::Applied r = applyTo(
        *layer, tensorOf({uint64_t(rows), uint64_t(columns), uint64_t(channels)}, x), threads);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({uint64_t(rows - kr + 1), uint64_t(columns - kc + 1),
                                              uint64_t(filters)}));
    EXPECT_EQ(
        layerref::firstDifference(
            valuesOf(r.out), layerref::conv2d(w, b, x, rows, columns, channels, kr, kc, threads)),
        -1);
}

std::vector<Conv2DShape> conv2dShapes() {
    // L = kernel columns x channels: 24 and 12 with 3 channels (unaligned
    // windows) pick the vector kernels on one thread, 96 with 3 channels on
    // 8 (Vector) and 12 threads (Vector2); 8 with one channel, 64 with 8
    // channels.
    std::vector<Conv2DShape> shapes;
    for (auto s : {Conv2DShape{3, 2, 8, 0},
                   {3, 3, 4, 0},
                   {3, 2, 32, 0},
                   {1, 2, 8, 0},
                   {8, 2, 8, 0},
                   {2, 1, 3, 0}})
        for (int threads : {1, 8, 12, 16})
            shapes.push_back({s.channels, s.kernelRows, s.kernelColumns, threads});
    return shapes;
}

INSTANTIATE_TEST_SUITE_P(Shapes, Conv2DLayerBits, testing::ValuesIn(conv2dShapes()),
                         [](const testing::TestParamInfo<Conv2DShape>& p) {
                             return std::to_string(p.param.channels) + "ch_" +
                                    std::to_string(p.param.kernelRows) + "x" +
                                    std::to_string(p.param.kernelColumns) + "_" +
                                    std::to_string(p.param.threads) + "threads";
                         });

} // namespace

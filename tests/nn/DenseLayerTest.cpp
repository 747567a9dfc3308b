#include "nn/nn_dense_layer.h"

#include "tests/nn/LayerTestSupport.h"

#include <gtest/gtest.h>

namespace {

using layerref::applyTo;
using layerref::layerOf;
using nntest::tensorOf;
using nntest::valuesOf;

constexpr uint32_t kDense = 1, kLinear = 1, kRelu = 2;

nntest::ModelBytes denseRecord(uint32_t units, uint32_t inputs, const std::vector<float>& w,
                               const std::vector<float>& b, uint32_t activation = kLinear) {
    nntest::ModelBytes r;
    r.u32(kDense).tensor({units, inputs}, w).tensor({uint32_t(b.size())}, b).u32(activation);
    return r;
}

TEST(DenseLayerTest, BiasAfterSumThenActivation) {
    const std::vector<float> w = {1, 2, 3, 4, 5, 6};
    struct Case {
        std::vector<float> biases;
        uint32_t activation;
        std::vector<float> expected;
    } cases[] = {
        {{0.5f, 0, -1}, kLinear, {3.5f, 7, 10}},
        {{0.5f, 0, -12}, kRelu, {3.5f, 7, 0}},
    };
    for (const Case& c : cases) {
        auto layer = layerOf(denseRecord(3, 2, w, c.biases, c.activation));
        ASSERT_TRUE(layer);
        const layerref::Applied r = applyTo(*layer, tensorOf({2}, {1, 1}));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.out.dims(), nn::Tensor::Dims({3}));
        EXPECT_EQ(valuesOf(r.out), c.expected);
    }
}

TEST(DenseLayerTest, RejectsInputOfWrongShape) {
    auto layer = layerOf(denseRecord(3, 2, {1, 2, 3, 4, 5, 6}, {0, 0, 0}));
    ASSERT_TRUE(layer);
    struct Case {
        std::vector<uint64_t> dims;
        std::string message;
    } cases[] = {
        {{2, 1}, "Input tensor dims count must be 1 (input dims: [2, 1])"},
        {{3},
         "Input tensor dims[0] must be the same as weights dims[1] (input dims: [3]) "
         "(weights dims: [3, 2])"},
    };
    for (const Case& c : cases) layerref::expectRejects(*layer, c.dims, c.message);
}

// The sums of the spread values round differently in each family's order,
// so a wrong kernel choice or order shows as different bits below.
TEST(DenseLayerTest, SpreadValuesSeparateTheSummationOrders) {
    const std::vector<float> a = layerref::spread(1024, 1), b = layerref::spread(1024, 2);
    int scalarVector = 0, vectorVector2 = 0;
    for (int row = 0; row < 32; ++row) {
        const float* x = &a[row * 32];
        const float* y = &b[row * 32];
        const float s = layerref::sum(layerref::Kind::Scalar, x, y, 32);
        const float v = layerref::sum(layerref::Kind::Vector, x, y, 32);
        const float v2 = layerref::sum(layerref::Kind::Vector2, x, y, 32);
        scalarVector += !nntest::sameBits(s, v);
        vectorVector2 += !nntest::sameBits(v, v2);
    }
    EXPECT_GT(scalarVector, 0);
    EXPECT_GT(vectorVector2, 0);
}

struct DenseShape {
    int inputs;
    int threads;
};

class DenseLayerBits : public testing::TestWithParam<DenseShape> {};

TEST_P(DenseLayerBits, MatchReferenceOrder) {
    const auto [inputs, threads] = GetParam();
    const int units = 37; // uneven parts at every thread count
    const std::vector<float> w = layerref::spread(size_t(units) * inputs, 3);
    const std::vector<float> b = layerref::spread(units, 4);
    const std::vector<float> x = layerref::spread(inputs, 5);
    auto layer = layerOf(denseRecord(units, uint32_t(inputs), w, b));
    ASSERT_TRUE(layer);
    const layerref::Applied r = applyTo(*layer, tensorOf({uint64_t(inputs)}, x), threads);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(layerref::firstDifference(valuesOf(r.out), layerref::dense(w, b, x, threads)), -1);
}

std::vector<DenseShape> denseShapes() {
    // 64, 128 and 100 inputs on 16 threads pick Vector, Vector2 and Scalar;
    // 12 and 36 pick Vector on one thread.
    std::vector<DenseShape> shapes;
    for (int inputs : {3, 12, 36, 64, 100, 128, 1024})
        for (int threads : {1, 8, 12, 16}) shapes.push_back({inputs, threads});
    return shapes;
}

INSTANTIATE_TEST_SUITE_P(Shapes, DenseLayerBits, testing::ValuesIn(denseShapes()),
                         [](const testing::TestParamInfo<DenseShape>& p) {
                             return std::to_string(p.param.inputs) + "inputs_" +
                                    std::to_string(p.param.threads) + "threads";
                         });

} // namespace

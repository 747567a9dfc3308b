#include "nn/nn_batch_normalization_layer.h"

#include "nn/nn_dispatcher.h"
#include "tests/nn/NnTestSupport.h"

#include <cmath>
#include <random>

namespace {

using nntest::Messages;
using nntest::ModelBytes;
using nntest::reportsOf;

std::unique_ptr<nn::Layer> load(const ModelBytes& bytes) {
    std::istringstream stream(bytes.str());
    return nn::BatchNormalizationLayer::create(stream);
}

TEST(BatchNormalizationLayerTest, ScalesAndOffsetsEachElement) {
    nn::Dispatcher pool(1);
    nn::Tensor in(2), out;
    in[0] = 3;
    in[1] = 4;
    nn::LayerData data(in, out, pool);
    ASSERT_TRUE(load(ModelBytes().tensor({2}, {2, 2}).tensor({2}, {1, 0}))->apply(data));
    EXPECT_EQ(out.dims(), nn::Tensor::Dims{2});
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(out[1], 8.0f);
}

TEST(BatchNormalizationLayerTest, SplitOverThePoolGivesTheSameFloats) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> v(-4, 4);
    std::vector<float> w(136), b(136), x(136);
    for (size_t i = 0; i < 136; ++i) w[i] = v(rng), b[i] = v(rng), x[i] = v(rng);
    const std::unique_ptr<nn::Layer> layer = load(ModelBytes().tensor({136}, w).tensor({136}, b));
    for (unsigned threads : {1u, 3u, 16u}) {
        nn::Dispatcher pool(threads);
        nn::Tensor in(136), out;
        for (size_t i = 0; i < 136; ++i) in[i] = x[i];
        nn::LayerData data(in, out, pool);
        ASSERT_TRUE(layer->apply(data));
        for (size_t i = 0; i < 136; ++i) {
            const float product = x[i] * w[i];
            EXPECT_TRUE(nntest::sameBits(out[i], product + b[i])) << threads << " at " << i;
        }
    }
}

TEST(BatchNormalizationLayerTest, RejectsAnInputOfOtherDims) {
    nn::Dispatcher pool(1);
    nn::Tensor in(3), out;
    nn::LayerData data(in, out, pool);
    bool ok = true;
    EXPECT_EQ(reportsOf([&] {
                  ok = load(ModelBytes().tensor({2}, {2, 2}).tensor({2}, {1, 0}))->apply(data);
              }),
              Messages{"Input and weights tensor dims are different (input dims: [3]) (weights "
                       "dims: [2])"});
    EXPECT_FALSE(ok);
    EXPECT_TRUE(out.dims().empty());
}

TEST(BatchNormalizationLayerTest, LoaderReportsEachFailure) {
    const struct {
        ModelBytes bytes;
        Messages messages;
    } cases[] = {
        {ModelBytes(),
         {"Parse failed: 0 - 4", "Stride parse failed", "Weights tensor parse failed"}},
        {ModelBytes().tensor({2}, {1, 2}).u32(2).f32(1),
         {"Parse failed: 4 - 8", "Data parse failed", "Biases tensor parse failed"}},
        {ModelBytes().tensor({2}, {1, 2}).tensor({3}, {1, 2, 3}), {"Invalid biases tensor dims"}},
    };
    for (const auto& c : cases) {
        std::unique_ptr<nn::Layer> layer;
        EXPECT_EQ(reportsOf([&] { layer = load(c.bytes); }), c.messages);
        EXPECT_FALSE(layer);
    }
}

} // namespace

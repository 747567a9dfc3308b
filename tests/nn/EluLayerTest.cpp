#include "nn/nn_elu_layer.h"

#include "nn/nn_dispatcher.h"
#include "tests/nn/NnTestSupport.h"

#include <math.h>

namespace {

TEST(EluLayerTest, ScalesTheNegativeSideByAlpha) {
    std::istringstream stream(nntest::ModelBytes().f32(2.0f).str());
    std::unique_ptr<nn::Layer> layer = nn::EluLayer::create(stream);
    ASSERT_TRUE(layer);
    nn::Dispatcher pool(1);
    nn::Tensor in(3), out;
    in[0] = -1;
    in[1] = 0;
    in[2] = 5;
    nn::LayerData data(in, out, pool);
    ASSERT_TRUE(layer->apply(data));
    volatile float minusOne = -1.0f; // a run-time libm call, as in the layer
    EXPECT_EQ(out.dims(), nn::Tensor::Dims{3});
    EXPECT_TRUE(nntest::sameBits(out[0], 2.0f * expm1f(minusOne)));
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 5.0f);
}

TEST(EluLayerTest, MissingAlphaIsReported) {
    std::istringstream stream("\0\0", std::ios::binary);
    std::unique_ptr<nn::Layer> layer;
    EXPECT_EQ(nntest::reportsOf([&] { layer = nn::EluLayer::create(stream); }),
              (nntest::Messages{"Parse failed: 0 - 4", "Alpha parse failed"}));
    EXPECT_FALSE(layer);
}

} // namespace

#include "nn/nn_flatten_layer.h"

#include "nn/nn_dispatcher.h"
#include "tests/nn/NnTestSupport.h"

namespace {

TEST(FlattenLayerTest, KeepsTheDataInOneDimension) {
    nn::Dispatcher pool(1);
    nn::Tensor in, out;
    in.resize(2, 3, 4);
    for (size_t i = 0; i < in.size(); ++i) in[i] = float(i);
    const float* block = in.data();
    nn::LayerData data(in, out, pool);
    ASSERT_TRUE(nn::FlattenLayer().apply(data));
    EXPECT_EQ(out.dims(), nn::Tensor::Dims{24});
    EXPECT_EQ(out.data(), block); // handed over, not copied
    for (size_t i = 0; i < 24; ++i) EXPECT_EQ(out[i], float(i));
}

} // namespace

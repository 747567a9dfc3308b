#include "nn/nn_max_pooling2d_layer.h"

#include "nn/nn_dispatcher.h"
#include "tests/nn/NnTestSupport.h"

#include <algorithm>
#include <limits>
#include <random>

namespace {

using nntest::Messages;
using nntest::ModelBytes;
using nntest::reportsOf;

std::unique_ptr<nn::Layer> pooling(uint32_t y, uint32_t x) {
    std::istringstream stream(ModelBytes().u32(y).u32(x).str());
    return nn::MaxPooling2DLayer::create(stream);
}

TEST(MaxPooling2DLayerTest, IgnoresRowsThatFillNoWholePool) {
    nn::Dispatcher pool(1);
    nn::Tensor in, out;
    in.resize(5, 4, 1);
    for (size_t i = 0; i < in.size(); ++i) in[i] = float(i % 7) - 3.0f;
    in[16] = 100; // fifth row: outside every pool
    nn::LayerData data(in, out, pool);
    ASSERT_TRUE(pooling(2, 2)->apply(data));
    EXPECT_EQ(out.dims(), (nn::Tensor::Dims{2, 2, 1}));
    // rows 0-1: -3 -2 -1 0 / 1 2 3 -3 ; rows 2-3: -2 -1 0 1 / 2 3 -3 -2
    EXPECT_EQ(std::vector<float>(out.data(), out.data() + 4), (std::vector<float>{2, 3, 3, 1}));
}

// Plain loops of the running maximum: out > in ? out : in from -infinity.
std::vector<float> referencePooling(const nn::Tensor& in, int py, int px) {
    const int rows = int(in.dims()[0]), cols = int(in.dims()[1]), ch = int(in.dims()[2]);
    const int outRows = rows / py, outCols = cols / px;
    std::vector<float> out(size_t(outRows * outCols * ch), -std::numeric_limits<float>::infinity());
    for (int r = 0; r < outRows; ++r)
        for (int c = 0; c < outCols; ++c)
            for (int y = 0; y < py; ++y)
                for (int x = 0; x < px; ++x)
                    for (int k = 0; k < ch; ++k) {
                        float& o = out[size_t((r * outCols + c) * ch + k)];
                        const float v = in[size_t(((r * py + y) * cols + c * px + x) * ch + k)];
                        o = o > v ? o : v;
                    }
    return out;
}

TEST(MaxPooling2DLayerTest, EveryKernelAndSplitMatchesThePlainLoop) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> value(-5, 5);
    const struct {
        unsigned threads;
        uint64_t channels;
    } cases[] = {{1, 8}, {2, 8}, {16, 8}, {1, 3}, {3, 12}, {8, 1}};
    for (const auto& c : cases) {
        nn::Dispatcher pool(c.threads);
        nn::Tensor in, out;
        in.resize(9, 7, c.channels);
        for (size_t i = 0; i < in.size(); ++i) in[i] = value(rng);
        in[5] = std::numeric_limits<float>::quiet_NaN();
        const std::vector<float> expected = referencePooling(in, 2, 3);
        nn::LayerData data(in, out, pool);
        ASSERT_TRUE(pooling(2, 3)->apply(data));
        ASSERT_EQ(out.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_TRUE(nntest::sameBits(out[i], expected[i]))
                << "threads " << c.threads << " channels " << c.channels << " at " << i;
    }
}

TEST(MaxPooling2DLayerTest, RejectsInputsWithoutThreeDimensions) {
    nn::Dispatcher pool(1);
    nn::Tensor in, out(2);
    in.resize(4, 4);
    nn::LayerData data(in, out, pool);
    bool ok = true;
    EXPECT_EQ(reportsOf([&] { ok = pooling(2, 2)->apply(data); }),
              Messages{"Input tensor dims count must be 3 (input dims: [4, 4])"});
    EXPECT_FALSE(ok);
    EXPECT_EQ(out.dims(), nn::Tensor::Dims{2});
}

TEST(MaxPooling2DLayerTest, LoaderReportsMissingAndInvalidPoolSizes) {
    const struct {
        std::string bytes;
        Messages messages;
    } cases[] = {
        {"", {"Parse failed: 0 - 4", "Pool size Y parse failed"}},
        {ModelBytes().u32(2).str(), {"Parse failed: 0 - 4", "Pool size X parse failed"}},
        {ModelBytes().u32(0).u32(2).str(), {"Invalid pool size: 0 x 2"}},
        {ModelBytes().u32(2).u32(0).str(), {"Invalid pool size: 2 x 0"}},
        {ModelBytes().u32(0x80000000u).u32(1).str(), {"Invalid pool size: 2147483648 x 1"}},
    };
    for (const auto& c : cases) {
        std::istringstream stream(c.bytes);
        std::unique_ptr<nn::Layer> layer;
        EXPECT_EQ(reportsOf([&] { layer = nn::MaxPooling2DLayer::create(stream); }), c.messages);
        EXPECT_FALSE(layer);
    }
}

} // namespace

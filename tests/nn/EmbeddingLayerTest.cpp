#include "nn/nn_embedding_layer.h"

#include "nn/nn_dispatcher.h"
#include "tests/nn/NnTestSupport.h"

#include <limits>

namespace {

using nntest::Messages;
using nntest::ModelBytes;
using nntest::reportsOf;

std::unique_ptr<nn::Layer> table3x2() {
    std::istringstream stream(ModelBytes().tensor({3, 2}, {1, 2, 3, 4, 5, 6}).str());
    return nn::EmbeddingLayer::create(stream);
}

nn::Tensor indices(const std::vector<float>& values) {
    return nntest::tensorOf({values.size()}, values);
}

TEST(EmbeddingLayerTest, CopiesTheNamedRows) {
    // The offset is index * columns in float32, truncated toward zero: a
    // fraction may start a row mid-row, and offsets in (-1, 0) give row 0.
    const struct {
        std::vector<float> indices, values;
    } cases[] = {
        {{2, 0}, {5, 6, 1, 2}},     {{1.9f}, {4, 5}}, // offset 3.8 -> 3
        {{0.5f}, {2, 3}},                             // offset 1
        {{-0.25f}, {1, 2}},                           // offset -0.5 -> 0
        {{-0.0f, 2}, {1, 2, 5, 6}},
    };
    nn::Dispatcher pool(1);
    for (const auto& c : cases) {
        nn::Tensor in = indices(c.indices), out;
        nn::LayerData data(in, out, pool);
        ASSERT_TRUE(table3x2()->apply(data)) << c.indices[0];
        EXPECT_EQ(out.dims(), (nn::Tensor::Dims{c.indices.size(), 2}));
        EXPECT_EQ(nntest::valuesOf(out), c.values) << c.indices[0];
    }
}

TEST(EmbeddingLayerTest, NoIndicesGiveAnEmptyOutput) {
    nn::Dispatcher pool(1);
    nn::Tensor in = indices({}), out;
    nn::LayerData data(in, out, pool);
    ASSERT_TRUE(table3x2()->apply(data));
    EXPECT_EQ(out.dims(), (nn::Tensor::Dims{0, 2}));
    EXPECT_EQ(out.size(), 0u);
}

TEST(EmbeddingLayerTest, RejectsBadInputsAndLeavesTheOutput) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        std::vector<float> values;
        bool twoDims;
        Messages messages;
    } cases[] = {
        {{0, 3}, false, {"Embedding index out of range: 3 (weights dims: [3, 2])"}},
        {{-1}, false, {"Embedding index out of range: -1 (weights dims: [3, 2])"}},
        {{-0.5f}, false, {"Embedding index out of range: -0.5 (weights dims: [3, 2])"}},
        {{2.5f}, false, {"Embedding index out of range: 2.5 (weights dims: [3, 2])"}},
        {{nan}, false, {"Embedding index out of range: nan (weights dims: [3, 2])"}},
        {{1e30f}, false, {"Embedding index out of range: 1e+30 (weights dims: [3, 2])"}},
        {{0, 1}, true, {"Input tensor dims count must be 1 (input dims: [1, 2])"}},
    };
    nn::Dispatcher pool(1);
    for (const auto& c : cases) {
        nn::Tensor in = indices(c.values), out(5);
        if (c.twoDims) in.resize(1, 2);
        nn::LayerData data(in, out, pool);
        bool ok = true;
        EXPECT_EQ(reportsOf([&] { ok = table3x2()->apply(data); }), c.messages);
        EXPECT_FALSE(ok);
        EXPECT_EQ(out.dims(), nn::Tensor::Dims{5});
    }
}

TEST(EmbeddingLayerTest, MissingWeightsAreReported) {
    std::istringstream stream(ModelBytes().u32(3).str());
    std::unique_ptr<nn::Layer> layer;
    EXPECT_EQ(
        reportsOf([&] { layer = nn::EmbeddingLayer::create(stream); }),
        (Messages{"Parse failed: 0 - 4", "Stride parse failed", "Weights tensor parse failed"}));
    EXPECT_FALSE(layer);
}

} // namespace

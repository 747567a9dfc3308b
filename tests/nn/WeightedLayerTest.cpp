// Loading of the four weighted layers, and reuse of every layer's storage
// across predictions.
#include "nn/nn_dispatcher.h"
#include "nn/nn_model.h"
#include "nn/nn_predict_scratch.h"
#include "tests/nn/LayerTestSupport.h"
#include "tests/support/AllocCounter.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kLinear = 1, kRelu = 2, kSigmoid = 6, kTanh = 7;

struct WeightedKind {
    const char* name;
    uint32_t id;
    uint32_t weightsRank, biasesRank;
};

const WeightedKind kKinds[] = {
    {"Dense", 1, 2, 1},
    {"Conv1D", 2, 3, 1},
    {"Conv2D", 3, 4, 1},
    {"LocallyConnected1D", 4, 3, 2},
};

// A tensor record with every dimension 2 (or 0 for the first, when asked).
void squareTensor(nntest::ModelBytes& r, uint32_t rank, uint32_t first = 2) {
    r.u32(first);
    for (uint32_t d = 1; d < rank; ++d) r.u32(2);
    for (uint32_t n = 0; n < (1u << rank); ++n) r.f32(float(n));
}

class WeightedLayerLoad : public testing::TestWithParam<WeightedKind> {};

TEST_P(WeightedLayerLoad, ReportsEachFailure) {
    const WeightedKind k = GetParam();
    nntest::ModelBytes weights, biases;
    squareTensor(weights, k.weightsRank);
    squareTensor(biases, k.biasesRank);
    const std::string id = nntest::ModelBytes().u32(k.id).str();
    const std::string w = weights.str(), b = biases.str();
    const std::string wantedData = std::to_string(4u << k.weightsRank);
    const std::string wDims = k.weightsRank == 2   ? "[2, 2]"
                              : k.weightsRank == 3 ? "[2, 2, 2]"
                                                   : "[2, 2, 2, 2]";
    nntest::ModelBytes zeroDim;
    squareTensor(zeroDim, k.weightsRank, 0);
    nntest::ModelBytes shortBiases;
    shortBiases.u32(1);
    if (k.biasesRank == 2) shortBiases.u32(1);
    shortBiases.f32(0);
    struct Case {
        std::string bytes;
        nntest::Messages messages;
    } cases[] = {
        {id + w.substr(0, 2),
         {"Parse failed: 2 - 4", "Stride parse failed", "Weights tensor parse failed"}},
        {id + zeroDim.str(), {"Invalid stride value: 0", "Weights tensor parse failed"}},
        {id + w.substr(0, 4 * k.weightsRank + 4),
         {"Parse failed: 4 - " + wantedData, "Data parse failed", "Weights tensor parse failed"}},
        {id + w, {"Parse failed: 0 - 4", "Stride parse failed", "Biases tensor parse failed"}},
        {id + w + b,
         {"Parse failed: 0 - 4", "Activation ID parse failed", "Activation layer parse failed"}},
        {id + w + b + nntest::ModelBytes().u32(0).str(),
         {"Unknown activation layer ID: 0", "Activation layer parse failed"}},
        {id + w + shortBiases.str() + nntest::ModelBytes().u32(kLinear).str(),
         {"Invalid biases tensor dims (biases dims: " +
          std::string(k.biasesRank == 2 ? "[1, 1]" : "[1]") + ") (weights dims: " + wDims + ")"}},
    };
    for (const Case& c : cases) {
        nntest::ModelBytes record;
        record.raw(c.bytes);
        EXPECT_EQ(nntest::reportsOf([&] { EXPECT_FALSE(layerref::layerOf(record)); }), c.messages)
            << c.messages.back();
    }
    nntest::ModelBytes good;
    good.raw(id + w + b).u32(kRelu);
    EXPECT_TRUE(layerref::layerOf(good));
}

INSTANTIATE_TEST_SUITE_P(Kinds, WeightedLayerLoad, testing::ValuesIn(kKinds),
                         [](const testing::TestParamInfo<WeightedKind>& p) {
                             return std::string(p.param.name);
                         });

// LSTM (returning sequences) -> Conv1D -> LocallyConnected1D -> flatten ->
// Dense: after the first prediction the same shapes need no allocation and
// no thread, and give the same floats.
TEST(LayerStorageReuse, SecondPredictionAllocatesNothing) {
    nntest::ModelBytes m;
    m.u32(5);
    // LSTM: 3 inputs, 4 units.
    m.u32(10);
    for (int g = 0; g < 4; ++g) {
        m.tensor({4, 3}, layerref::spread(12, 20 + g));
        m.tensor({4, 4}, layerref::spread(16, 30 + g));
        m.tensor({1, 4}, layerref::spread(4, 40 + g));
    }
    m.u32(kSigmoid).u32(kTanh).u32(1);
    // Conv1D: 5 filters, kernel 3, 4 channels: [10, 4] -> [8, 5].
    m.u32(2).tensor({5, 3, 4}, layerref::spread(60, 50)).tensor({5}, layerref::spread(5, 51));
    m.u32(kRelu);
    // LocallyConnected1D: 6 steps, 2 filters, kernel 3 x 5 channels: -> [6, 2].
    m.u32(4).tensor({6, 2, 15}, layerref::spread(180, 52));
    m.tensor({6, 2}, layerref::spread(12, 53)).u32(kTanh);
    m.u32(6); // flatten -> [12]
    m.u32(1).tensor({3, 12}, layerref::spread(36, 54)).tensor({3}, layerref::spread(3, 55));
    m.u32(kSigmoid);
    auto model = nn::Model::create(m.str().data(), m.str().size());
    ASSERT_TRUE(model);

    const nn::Tensor in = nntest::tensorOf({10, 3}, layerref::spread(30, 56));
    nn::Dispatcher pool(4);
    nn::PredictScratch scratch;
    nn::Tensor out;
    ASSERT_TRUE(model->predict(in, out, pool, scratch));
    ASSERT_EQ(out.dims(), nn::Tensor::Dims({3}));
    const std::vector<float> first = nntest::valuesOf(out);

    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter allocations;
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(model->predict(in, out, pool, scratch));
    EXPECT_EQ(allocations.Count(), 0);
    EXPECT_EQ(testsupport::ThreadCount(), threads);
    EXPECT_EQ(layerref::firstDifference(nntest::valuesOf(out), first), -1);
}

} // namespace

#include "nn/nn_model.h"

#include "nn/nn_dispatcher.h"
#include "tests/nn/NnTestSupport.h"
#include "tests/support/AllocCounter.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using nntest::Messages;
using nntest::ModelBytes;
using nntest::reportsOf;
using nntest::sameBits;
using nntest::tensorOf;
using nntest::valuesOf;

// A file in the temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& bytes) {
        path_ = testing::TempDir() + "nn_model_test_" + std::to_string(getpid()) + "_" +
                std::to_string(counter_++) + ".model";
        std::ofstream(path_, std::ios::binary) << bytes;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    static int counter_;
    std::string path_;
};
int TempFile::counter_ = 0;

std::unique_ptr<nn::Model> fromBytes(const std::string& bytes) {
    return nn::Model::create(bytes.data(), bytes.size());
}

struct BrokenCase {
    const char* name;
    std::string bytes;
    Messages messages; // the loader's chain, before the entry point's own line
};

std::vector<BrokenCase> brokenCases() {
    return {
        {"empty file", "", {"Parse failed: 0 - 4", "Layers count parse failed"}},
        {"zero layer count", ModelBytes().u32(0).str(), {"Invalid layers count: 0"}},
        {"layer id 5",
         ModelBytes().u32(1).u32(5).str(),
         {"Unknown layer ID: 5", "Layer parse failed"}},
        {"layer id 13",
         ModelBytes().u32(1).u32(13).str(),
         {"Unknown layer ID: 13", "Layer parse failed"}},
        {"layer id 0",
         ModelBytes().u32(1).u32(0).str(),
         {"Unknown layer ID: 0", "Layer parse failed"}},
        {"fewer layers than counted",
         ModelBytes().u32(2).u32(6).str(),
         {"Parse failed: 0 - 4", "Layer ID parse failed", "Layer parse failed"}},
        {"layer id cut short",
         ModelBytes().u32(1).raw(std::string("\6\0", 2)).str(),
         {"Parse failed: 2 - 4", "Layer ID parse failed", "Layer parse failed"}},
        {"elu without alpha",
         ModelBytes().u32(1).u32(7).str(),
         {"Parse failed: 0 - 4", "Alpha parse failed", "Layer parse failed"}},
        {"unknown activation",
         ModelBytes().u32(2).u32(6).u32(8).u32(10).str(),
         {"Unknown activation layer ID: 10", "Layer parse failed"}},
        {"weights dims cut short",
         ModelBytes().u32(1).u32(12).str(),
         {"Parse failed: 0 - 4", "Stride parse failed", "Weights tensor parse failed",
          "Layer parse failed"}},
        {"weights data cut short",
         ModelBytes().u32(1).u32(11).u32(2).u32(2).f32(1).f32(2).str(),
         {"Parse failed: 8 - 16", "Data parse failed", "Weights tensor parse failed",
          "Layer parse failed"}},
        {"dense weights cut short",
         ModelBytes().u32(1).u32(1).u32(4).str(),
         {"Parse failed: 0 - 4", "Stride parse failed", "Weights tensor parse failed",
          "Layer parse failed"}},
        {"pool size zero",
         ModelBytes().u32(1).u32(9).u32(0).u32(2).str(),
         {"Invalid pool size: 0 x 2", "Layer parse failed"}},
    };
}

TEST(ModelTest, BrokenBuffersGiveTheLoadersChain) {
    for (const BrokenCase& c : brokenCases()) {
        std::unique_ptr<nn::Model> model;
        Messages expected = c.messages;
        expected.push_back("Parse failed: ");
        EXPECT_EQ(reportsOf([&] { model = fromBytes(c.bytes); }), expected) << c.name;
        EXPECT_FALSE(model) << c.name;
    }
}

TEST(ModelTest, BrokenFilesGiveTheLoadersChainAndThePath) {
    for (const BrokenCase& c : brokenCases()) {
        TempFile file(c.bytes);
        std::unique_ptr<nn::Model> model;
        Messages expected = c.messages;
        expected.push_back("File parse failed: " + file.path());
        EXPECT_EQ(reportsOf([&] { model = nn::Model::create(file.path()); }), expected) << c.name;
        EXPECT_FALSE(model) << c.name;
    }
}

TEST(ModelTest, MissingPathIsReported) {
    const std::string path = testing::TempDir() + "no_such_dir/none.model";
    std::unique_ptr<nn::Model> model;
    EXPECT_EQ(reportsOf([&] { model = nn::Model::create(path); }),
              Messages{"File open failed: " + path});
    EXPECT_FALSE(model);
}

// batch norm (4) -> relu -> flatten -> ELU alpha 0.5
ModelBytes smallModel() {
    return ModelBytes()
        .u32(4)
        .u32(12)
        .tensor({4}, {2, -1, 0.5f, 3})
        .tensor({4}, {0.25f, 1, -2, 0})
        .u32(8)
        .u32(2)
        .u32(6)
        .u32(7)
        .f32(0.5f);
}

TEST(ModelTest, BufferAndFileLoadTheSameModelAndTrailingBytesAreIgnored) {
    const std::string bytes = smallModel().raw("trailing garbage").str();
    TempFile file(bytes);
    std::unique_ptr<nn::Model> fromFile, fromMemory;
    EXPECT_TRUE(reportsOf([&] {
                    fromFile = nn::Model::create(file.path());
                    fromMemory = fromBytes(bytes);
                }).empty());
    ASSERT_TRUE(fromFile);
    ASSERT_TRUE(fromMemory);
    EXPECT_EQ(fromFile->layersCount(), 4u);
    EXPECT_EQ(fromMemory->layersCount(), 4u);
    nn::Dispatcher pool(2);
    nn::Tensor a, b;
    ASSERT_TRUE(fromFile->predict(tensorOf({4}, {1, 1, 1, 1}), a, pool));
    ASSERT_TRUE(fromMemory->predict(tensorOf({4}, {1, 1, 1, 1}), b, pool));
    // 1*2+0.25, relu(1*-1+1), relu(0.5-2), 3
    EXPECT_EQ(valuesOf(a), (std::vector<float>{2.25f, 0, 0, 3}));
    EXPECT_EQ(valuesOf(b), valuesOf(a));
}

TEST(ModelTest, FlattenModelPredictsItsInputFlat) {
    std::unique_ptr<nn::Model> model = fromBytes(ModelBytes().u32(1).u32(6).str());
    ASSERT_TRUE(model);
    nn::Tensor out;
    ASSERT_TRUE(model->predict(tensorOf({2, 3}, {1, 2, 3, 4, 5, 6}), out));
    EXPECT_EQ(out.dims(), nn::Tensor::Dims{6});
    EXPECT_EQ(valuesOf(out), (std::vector<float>{1, 2, 3, 4, 5, 6}));
}

TEST(ModelTest, ALayerRejectingItsInputFailsThePrediction) {
    // flatten, then max pooling, which needs three dimensions
    std::unique_ptr<nn::Model> model =
        fromBytes(ModelBytes().u32(2).u32(6).u32(9).u32(1).u32(1).str());
    ASSERT_TRUE(model);
    nn::Tensor out;
    bool ok = true;
    EXPECT_EQ(
        reportsOf([&] {
            ok = model->predict(tensorOf({2, 3}, {}), out);
        }),
        (Messages{"Input tensor dims count must be 3 (input dims: [6])", "Layer apply failed"}));
    EXPECT_FALSE(ok);
}

TEST(ModelTest, AnInputWithoutDimensionsRunsNoLayer) {
    std::unique_ptr<nn::Model> model = fromBytes(smallModel().str());
    ASSERT_TRUE(model);
    nn::Tensor out = tensorOf({3}, {7, 8, 9});
    nn::Dispatcher pool(1);
    nn::PredictScratch scratch;
    for (int form = 0; form < 2; ++form) {
        bool ok = true;
        EXPECT_EQ(reportsOf([&] {
                      ok = form == 0 ? model->predict(nn::Tensor(), out, pool)
                                     : model->predict(nn::Tensor(), out, pool, scratch);
                  }),
                  Messages{"Input tensor is not valid"});
        EXPECT_FALSE(ok);
        EXPECT_EQ(valuesOf(out), (std::vector<float>{7, 8, 9}));
    }
}

TEST(ModelTest, AWorkerPoolThatCouldNotStartFailsThePrediction) {
    std::unique_ptr<nn::Model> model = fromBytes(ModelBytes().u32(1).u32(6).str());
    ASSERT_TRUE(model);
    nn::Dispatcher::failThreadStartsForTesting(1);
    std::unique_ptr<nn::Dispatcher> pool;
    reportsOf([&] { pool.reset(new nn::Dispatcher(4)); });
    nn::Dispatcher::failThreadStartsForTesting(0);
    nn::Tensor out;
    bool ok = true;
    EXPECT_EQ(reportsOf([&] {
                  ok = model->predict(tensorOf({2}, {1, 2}), out, *pool);
              }),
              Messages{"Worker pool is not running"});
    EXPECT_FALSE(ok);
    // The form that builds its own pool of the hardware thread count.
    if (std::thread::hardware_concurrency() > 1) {
        nn::Dispatcher::failThreadStartsForTesting(1, 1);
        ok = true;
        const Messages messages = reportsOf([&] {
            ok = model->predict(tensorOf({2}, {1, 2}), out);
        });
        nn::Dispatcher::failThreadStartsForTesting(0);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].rfind("Worker thread start failed: ", 0), 0u) << messages[0];
        EXPECT_EQ(messages[1], "Worker pool is not running");
        EXPECT_FALSE(ok);
    }
}

// A dense record, units x inputs, with random weights and biases.
ModelBytes& dense(ModelBytes& bytes, uint32_t units, uint32_t inputs, uint32_t activation,
                  unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> v(-1, 1);
    std::vector<float> w(units * inputs), b(units);
    for (float& x : w) x = v(rng);
    for (float& x : b) x = v(rng);
    return bytes.u32(1).tensor({units, inputs}, w).tensor({units}, b).u32(activation);
}

// dense 16 -> 8 with relu, then a sigmoid activation layer
std::string denseModel() {
    ModelBytes bytes;
    bytes.u32(2);
    return dense(bytes, 8, 16, 2, 21).u32(8).u32(6).str();
}

TEST(ModelTest, AllPredictFormsGiveTheSameFloats) {
    std::unique_ptr<nn::Model> model = fromBytes(denseModel());
    ASSERT_TRUE(model);
    std::vector<float> input(16);
    for (size_t i = 0; i < 16; ++i) input[i] = float(i) / 7.0f - 1.0f;
    nn::Tensor plain, pooled, scratched;
    nn::Dispatcher pool; // the hardware thread count, as the plain form uses
    nn::PredictScratch scratch;
    ASSERT_TRUE(model->predict(tensorOf({16}, input), plain));
    ASSERT_TRUE(model->predict(tensorOf({16}, input), pooled, pool));
    const nn::Tensor in = tensorOf({16}, input);
    ASSERT_TRUE(model->predict(in, scratched, pool, scratch));
    ASSERT_EQ(plain.dims(), nn::Tensor::Dims{8});
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_TRUE(sameBits(pooled[i], plain[i])) << i;
        EXPECT_TRUE(sameBits(scratched[i], plain[i])) << i;
    }
    // in and out may be one tensor
    nn::Tensor same = tensorOf({16}, input);
    ASSERT_TRUE(model->predict(same, same, pool, scratch));
    EXPECT_EQ(valuesOf(same), valuesOf(plain));
}

struct ChainCase {
    const char* name;
    std::string bytes;
    uint64_t inputs;
};

std::vector<ChainCase> chainCases() {
    ModelBytes twoDense, reluDense;
    dense(twoDense.u32(2), 24, 16, 2, 5);
    dense(twoDense, 8, 24, 6, 6);
    dense(reluDense.u32(2).u32(8).u32(2), 8, 16, 7, 7);
    return {
        {"dense, sigmoid", denseModel(), 16},
        {"dense, dense", twoDense.str(), 16},
        {"relu, dense", reluDense.str(), 16},
        {"flatten", ModelBytes().u32(1).u32(6).str(), 16},
        {"batch norm, relu, flatten, elu", smallModel().str(), 4},
    };
}

TEST(ModelTest, RepeatedPredictionsWithScratchAllocateNothing) {
    // After the first prediction of each scratch nothing allocates, whatever
    // the chain's length and pass-through layers, and also when several
    // scratches (one per model, as the mask predictor keeps them) write one
    // shared output tensor.
    for (const ChainCase& c : chainCases())
        for (unsigned threads : {1u, 4u}) {
            std::unique_ptr<nn::Model> model = fromBytes(c.bytes);
            ASSERT_TRUE(model) << c.name;
            nn::Dispatcher pool(threads);
            nn::PredictScratch scratches[3];
            nn::Tensor in(c.inputs), out, expected;
            in.fill(0.5f);
            ASSERT_TRUE(model->predict(nn::Tensor(in), expected, pool));
            for (nn::PredictScratch& scratch : scratches)
                ASSERT_TRUE(model->predict(in, out, pool, scratch)) << c.name;
            const int threadCount = testsupport::ThreadCount();
            testsupport::AllocCounter counter;
            for (int frame = 0; frame < 5; ++frame)
                for (nn::PredictScratch& scratch : scratches) {
                    in[0] = float(frame % 2);
                    ASSERT_TRUE(model->predict(in, out, pool, scratch)) << c.name;
                }
            EXPECT_EQ(counter.Count(), 0) << c.name << ", " << threads << " threads";
            EXPECT_EQ(testsupport::ThreadCount(), threadCount) << c.name;
            in[0] = 0.5f;
            ASSERT_TRUE(model->predict(in, out, pool, scratches[1]));
            ASSERT_EQ(out.dims(), expected.dims()) << c.name;
            for (size_t i = 0; i < out.size(); ++i)
                EXPECT_TRUE(sameBits(out[i], expected[i])) << c.name << " at " << i;
        }
}

TEST(ModelTest, AFailedScratchPredictionLeavesTheOutputAndTheScratchUsable) {
    // relu, then max pooling 1 x 1, which needs three dimensions
    std::unique_ptr<nn::Model> model =
        fromBytes(ModelBytes().u32(2).u32(8).u32(2).u32(9).u32(1).u32(1).str());
    ASSERT_TRUE(model);
    nn::Dispatcher pool(1);
    nn::PredictScratch scratch;
    nn::Tensor out = tensorOf({2}, {7, 8});
    bool ok = true;
    EXPECT_EQ(
        reportsOf([&] {
            ok = model->predict(tensorOf({2, 3}), out, pool, scratch);
        }),
        (Messages{"Input tensor dims count must be 3 (input dims: [2, 3])", "Layer apply failed"}));
    EXPECT_FALSE(ok);
    EXPECT_EQ(out.dims(), nn::Tensor::Dims{2});
    EXPECT_EQ(valuesOf(out), (std::vector<float>{7, 8}));
    ASSERT_TRUE(model->predict(tensorOf({1, 1, 2}, {-3, 4}), out, pool, scratch));
    EXPECT_EQ(out.dims(), (nn::Tensor::Dims{1, 1, 2}));
    EXPECT_EQ(valuesOf(out), (std::vector<float>{0, 4}));
}

} // namespace

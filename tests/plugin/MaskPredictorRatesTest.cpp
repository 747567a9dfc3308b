#include "plugin/MaskPredictor.h"

#include "plugin/StemResampler.h"
#include "tests/support/AllocCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

struct RateCase {
    double rate;
    int block;
};

std::vector<RateCase> AllCases() {
    std::vector<RateCase> cases;
    for (double rate : {22050.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0})
        for (int block : {64, 441, 512, 4096}) cases.push_back({rate, block});
    return cases;
}

double Signal(int channel, long t) {
    return std::sin(0.0123 * t + channel) + 0.3 * std::sin(0.31 * t);
}

class MaskPredictorRatesTest : public ::testing::TestWithParam<RateCase> {};

// Over 1000 blocks every host sample reaches the 44100 Hz stream: the stream
// equals one resampler fed the same signal in blocks of another size (up to
// the read position's rounding, which drifts with the cutting; a lost sample
// would show as an error of the signal's own size), its length stays within
// 2 samples of the ideal, and nothing piles up inside the resamplers.
TEST_P(MaskPredictorRatesTest, StreamIsContinuousAndTracksTheHostInput) {
    const RateCase c = GetParam();
    constexpr int kBlocks = 1000;
    MaskPredictor predictor(2048, nullptr, 4, 1, 44100.0);
    predictor.SetHostSampleRate(c.rate);

    std::vector<double> stream[2];
    KIT_TypedBuf<double> blocks[2];
    long fed = 0;
    int maxBuffered = 0;
    for (int b = 0; b < kBlocks; ++b) {
        for (int ch = 0; ch < 2; ++ch) {
            blocks[ch].Resize(c.block, false);
            for (int i = 0; i < c.block; ++i) blocks[ch][i] = Signal(ch, fed + i);
        }
        predictor.ProcessInputBlock({&blocks[0], &blocks[1]}, nullptr);
        for (int ch = 0; ch < 2; ++ch) {
            stream[ch].insert(stream[ch].end(), blocks[ch].Get(),
                              blocks[ch].Get() + blocks[ch].GetSize());
            maxBuffered =
                std::max(maxBuffered, predictor.GetInputResampler(ch).GetBufferedFrames());
        }
        fed += c.block;

        const double ideal = fed * 44100.0 / c.rate;
        ASSERT_LE(std::fabs(stream[0].size() - ideal), 2.0) << "after block " << b;
        ASSERT_EQ(stream[0].size(), stream[1].size());
    }
    EXPECT_LE(maxBuffered, 2);

    if (c.rate == 44100.0) {
        for (long t = 0; t < fed; ++t) ASSERT_EQ(Signal(0, t), stream[0][t]);
        return;
    }
    // Reference: the same resampler settings fed in blocks of another size,
    // every output taken.
    StreamResampler reference;
    ConfigureStemResampler(reference, c.rate, 44100.0);
    std::vector<double> expected;
    std::vector<double> out(4096);
    constexpr int kReferenceBlock = 997;
    for (long t = 0; t < fed; t += kReferenceBlock) {
        const int n = static_cast<int>(std::min<long>(kReferenceBlock, fed - t));
        double* in = nullptr;
        ASSERT_EQ(n, reference.ResamplePrepare(n, 1, &in));
        for (int i = 0; i < n; ++i) in[i] = Signal(0, t + i);
        const int produced = reference.ResampleOut(out.data(), n, static_cast<int>(out.size()), 1);
        expected.insert(expected.end(), out.begin(), out.begin() + produced);
    }
    ASSERT_LE(std::fabs(static_cast<double>(expected.size()) - stream[0].size()), 1.0);
    const size_t n = std::min(stream[0].size(), expected.size());
    for (size_t i = 0; i < n; ++i) ASSERT_NEAR(expected[i], stream[0][i], 1e-6) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(RatesAndBlocks, MaskPredictorRatesTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<RateCase>& info) {
                             return std::to_string(static_cast<int>(info.param.rate)) + "Hz_" +
                                    std::to_string(info.param.block);
                         });

// Prepared for the largest host block, the input path allocates nothing from
// its first block on, gives the stream of an unprepared predictor, and no
// converted block exceeds the size PrepareBlocks announced (the engine sizes
// its block copies by it).
TEST(MaskPredictorRates, PreparedBlocksAllocateNothingFromTheFirst) {
    for (double rate : {22050.0, 32000.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        SCOPED_TRACE(rate);
        MaskPredictor prepared(2048, nullptr, 4, 1, 44100.0), plain(2048, nullptr, 4, 1, 44100.0);
        prepared.SetHostSampleRate(rate);
        plain.SetHostSampleRate(rate);
        const int room = prepared.PrepareBlocks(4096);
        ASSERT_GE(room, 4096);
        KIT_TypedBuf<double> blocks[2][2];
        for (auto& pair : blocks)
            for (KIT_TypedBuf<double>& b : pair) {
                b.Resize(room);
                b.Resize(0, false);
            }
        const MultichannelProcess::SampleBufs mains[2] = {{&blocks[0][0], &blocks[0][1]},
                                                          {&blocks[1][0], &blocks[1][1]}};
        long fed = 0;
        testsupport::AllocCounter counter;
        int64_t allocations = 0;
        for (int b = 0; b < 40; ++b) {
            const int n = b % 2 ? 4096 : 64;
            for (auto& pair : blocks)
                for (int ch = 0; ch < 2; ++ch) {
                    pair[ch].Resize(n, false);
                    for (int i = 0; i < n; ++i) pair[ch][i] = Signal(ch, fed + i);
                }
            fed += n;
            counter.Reset();
            prepared.ProcessInputBlock(mains[0], nullptr);
            allocations += counter.Count();
            plain.ProcessInputBlock(mains[1], nullptr);
            for (int ch = 0; ch < 2; ++ch) {
                ASSERT_LE(blocks[0][ch].GetSize(), room);
                ASSERT_EQ(blocks[1][ch].GetSize(), blocks[0][ch].GetSize());
                ASSERT_TRUE(std::equal(blocks[0][ch].Get(),
                                       blocks[0][ch].Get() + blocks[0][ch].GetSize(),
                                       blocks[1][ch].Get()));
            }
        }
        EXPECT_EQ(allocations, 0);
    }
}

TEST(MaskPredictorRates, AtTheStftRateBlocksPassUnchanged) {
    MaskPredictor predictor(2048, nullptr, 4, 1, 44100.0);
    KIT_TypedBuf<double> block;
    block.Resize(300);
    for (int i = 0; i < 300; ++i) block[i] = i * 0.5;
    predictor.ProcessInputBlock({&block}, nullptr);
    ASSERT_EQ(300, block.GetSize());
    for (int i = 0; i < 300; ++i) EXPECT_EQ(i * 0.5, block[i]);
}

TEST(MaskPredictorRates, ResetStartsNewStreams) {
    MaskPredictor predictor(2048, nullptr, 4, 1, 44100.0);
    predictor.SetHostSampleRate(48000.0);
    KIT_TypedBuf<double> first, second;
    const auto feed = [&](KIT_TypedBuf<double>& block) {
        block.Resize(512, false);
        for (int i = 0; i < 512; ++i) block[i] = std::sin(0.02 * i);
        predictor.ProcessInputBlock({&block}, nullptr);
    };
    feed(first);
    feed(second); // continues the stream: differs from a fresh start
    predictor.Reset();
    KIT_TypedBuf<double> again;
    feed(again);
    ASSERT_EQ(first.GetSize(), again.GetSize());
    for (int i = 0; i < first.GetSize(); ++i) EXPECT_EQ(first[i], again[i]);
    const bool secondRepeatsFirst =
        first.GetSize() == second.GetSize() &&
        std::equal(first.Get(), first.Get() + first.GetSize(), second.Get());
    EXPECT_FALSE(secondRepeatsFirst);
}

} // namespace

#include "toolkit/FftProcessObj16.h"

#include "tests/support/AllocCounter.h"
#include "toolkit/DspUtilsAnalysis.h"
#include "toolkit/ProcessObj.h"
#include "toolkit/ProcessObjChannel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <vector>

namespace {

using Buffers = FftProcessObj16::Buffers;
using Signal = std::vector<double>;

constexpr int kN = 2048;
constexpr int kHop = kN / 4;

Signal Noise(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Signal s(static_cast<size_t>(n));
    for (double& v : s) v = u(rng);
    return s;
}

KIT_TypedBuf<double> Slice(const Signal& s, int start, int n) {
    KIT_TypedBuf<double> b;
    b.Set(s.data() + start, n);
    return b;
}

// The plug-in's engine: stereo, no side-chain, Hann analysis and synthesis.
std::unique_ptr<FftProcessObj16> MakeStereo(std::vector<ProcessObj*> objs = {},
                                            int freqRes = 1) {
    auto engine = std::make_unique<FftProcessObj16>(objs, 2, 0, kN, 4, 44100, freqRes);
    engine->SetAnalysisWindow(-1, 1);
    engine->SetSynthesisWindow(-1, 1);
    engine->SetKeepSynthesisEnergy(-1, false);
    return engine;
}

struct Output {
    std::vector<Signal> out; // per channel
    std::vector<bool> returned;
};

// Feeds the channels in blocks of blockSize (the last one shorter).
Output Feed(FftProcessObj16& engine, const std::vector<Signal>& in, int blockSize,
            int numOutputs = -1) {
    const int channels = static_cast<int>(in.size());
    const int total = static_cast<int>(in[0].size());
    if (numOutputs < 0) numOutputs = channels;
    Output run;
    run.out.assign(numOutputs, Signal());
    Buffers inputs(channels), outputs(numOutputs);
    for (int start = 0; start < total; start += blockSize) {
        const int n = std::min(blockSize, total - start);
        for (int c = 0; c < channels; ++c) inputs[c] = Slice(in[c], start, n);
        run.returned.push_back(engine.Process(inputs, {}, &outputs));
        for (int c = 0; c < numOutputs; ++c) {
            EXPECT_EQ(outputs[c].GetSize(), n);
            run.out[c].insert(run.out[c].end(), outputs[c].Get(), outputs[c].Get() + n);
        }
    }
    return run;
}

class EngineLatency : public ::testing::TestWithParam<int> {};

TEST_P(EngineLatency, IdentityChainDelaysTheInputWithinTheWindowRipple) {
    const int latency = GetParam();
    auto engine = MakeStereo();
    if (latency != kN) engine->SetLatency(latency);
    EXPECT_EQ(engine->GetLatency(512), latency);
    const std::vector<Signal> in = {Noise(kN * 10, 1), Noise(kN * 10, 2)};
    const Output run = Feed(*engine, in, 512);
    for (int c = 0; c < 2; ++c) {
        for (int t = 0; t < latency; ++t) ASSERT_EQ(run.out[c][t], 0.0) << t;
        // The first N - hop samples of real output lack a full overlap.
        for (size_t t = latency + kN - kHop; t < in[c].size(); ++t) {
            const double x = in[c][t - latency];
            ASSERT_NEAR(run.out[c][t], x, 2.4e-5 * std::fabs(x) + 1e-12)
                << "channel " << c << " t " << t;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Delays, EngineLatency, ::testing::Values(kN, 2560));

TEST(FftProcessObj16, FirstFourBlocksOf512AreZeroAndFalse) {
    auto engine = MakeStereo();
    const std::vector<Signal> in = {Noise(512 * 8, 3), Noise(512 * 8, 4)};
    const Output run = Feed(*engine, in, 512);
    const std::vector<bool> expect = {false, false, false, false, true, true, true, true};
    EXPECT_EQ(run.returned, expect);
    for (int t = 0; t < 2048; ++t) ASSERT_EQ(run.out[0][t], 0.0);
}

TEST(FftProcessObj16, OutputDoesNotDependOnTheBlockSize) {
    const std::vector<Signal> in = {Noise(12288, 5), Noise(12288, 6)};
    auto reference = MakeStereo();
    const Output expect = Feed(*reference, in, 512);
    for (int blockSize : {1, 100, 4096}) {
        auto engine = MakeStereo();
        const Output run = Feed(*engine, in, blockSize);
        for (int c = 0; c < 2; ++c)
            EXPECT_TRUE(run.out[c] == expect.out[c]) << "block size " << blockSize;
    }
}

TEST(FftProcessObj16, SilenceGivesExactZeros) {
    auto engine = MakeStereo();
    const std::vector<Signal> in = {Signal(kN * 4, 0.0), Signal(kN * 4, 0.0)};
    const Output run = Feed(*engine, in, 512);
    EXPECT_TRUE(run.returned.back());
    for (double v : run.out[0]) ASSERT_EQ(v, 0.0);
}

TEST(FftProcessObj16, NoInputsRunsOnZerosSizedLikeTheOutputs) {
    auto engine = MakeStereo();
    Buffers outputs(2);
    bool last = false;
    for (int block = 0; block < 5; ++block) {
        for (auto& o : outputs) o = Slice(Noise(512, 7), 0, 512); // stale contents
        last = engine->Process({}, {}, &outputs);
    }
    EXPECT_TRUE(last);
    EXPECT_EQ(outputs[1].GetSize(), 512);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(outputs[1][i], 0.0);
}

TEST(FftProcessObj16, ZeroChannels) {
    FftProcessObj16 engine({}, 0, 0, 1024, 4, 44100, 1);
    EXPECT_EQ(engine.GetLatency(512), 1024);
    EXPECT_EQ(engine.GetNumChannels(), 0);
    Buffers in(1), out(1);
    in[0] = Slice(Noise(512, 8), 0, 512);
    EXPECT_TRUE(engine.Process(in, {}, &out));
}

TEST(FftProcessObj16, InputBlocksBeyondTheChannelsAreIgnored) {
    auto engine = MakeStereo();
    const std::vector<Signal> in = {Noise(kN * 3, 9), Noise(kN * 3, 10), Noise(kN * 3, 11)};
    auto twoChannels = MakeStereo();
    const Output expect = Feed(*twoChannels, {in[0], in[1]}, 512);
    const Output run = Feed(*engine, in, 512, 2);
    EXPECT_TRUE(run.out[0] == expect.out[0]);
    EXPECT_TRUE(run.out[1] == expect.out[1]);
}

// A processor that touches every stage the way a real one would.
class Gain : public ProcessObj {
public:
    using ProcessObj::ProcessObj;
    void ProcessSpectrum(KIT_TypedBuf<ComplexValue>* s,
                         const KIT_TypedBuf<ComplexValue>*) override {
        for (int i = 0; i < s->GetSize(); ++i) (*s)[i] = {(*s)[i].re * 0.5, (*s)[i].im * 0.5};
    }
};

class Observer : public MultichannelProcess {
public:
    double energy = 0;
    void ProcessSpectrum(const SpectrumBufs& mains, const SpectrumCopies*) override {
        for (const auto* s : mains) energy += (*s)[1].re;
    }
};

TEST(FftProcessObj16, BlocksAllocateNothingAndStartNoThreadAfterTheFirst) {
    Gain left(kN), right(kN);
    Observer observer;
    auto engine = MakeStereo({&left, &right});
    engine->AddMultichannelProcess(&observer);
    Buffers inputs(2), outputs(2);
    const Signal noise = Noise(512 * 600, 12);
    auto block = [&](int b) {
        for (int c = 0; c < 2; ++c) {
            inputs[c].Resize(512, false);
            std::copy(noise.begin() + b * 512, noise.begin() + (b + 1) * 512, inputs[c].Get());
        }
        return engine->Process(inputs, {}, &outputs);
    };
    for (int b = 0; b < 16; ++b) block(b);
    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter counter;
    int delivered = 0;
    for (int b = 16; b < 600; ++b) delivered += block(b);
    EXPECT_EQ(counter.Count(), 0);
    EXPECT_EQ(delivered, 600 - 16);
    EXPECT_EQ(testsupport::ThreadCount(), threads);
}

struct UnreadCase {
    const char* name;
    int mains, sides;
    int numOutputs; // -1: outputs null
};

void PrintTo(const UnreadCase& c, std::ostream* os) {
    *os << c.name;
}

// Channels that nobody reads: a main channel without an output buffer, every
// main channel when no outputs are given, and side-chain channels always.
class EngineUnreadChannels : public ::testing::TestWithParam<UnreadCase> {};

TEST_P(EngineUnreadChannels, StayBoundedOverTenMinutes) {
    const UnreadCase c = GetParam();
    FftProcessObj16 engine({}, c.mains, c.sides, kN, 4, 44100, 1);
    engine.SetAnalysisWindow(-1, 1);
    engine.SetSynthesisWindow(-1, 1);
    constexpr int kBlock = 1024;
#if defined(__SANITIZE_ADDRESS__)
    const int seconds = 60; // same growth per block, a tenth of the run time
#else
    const int seconds = 600;
#endif
    const int blocks = seconds * 44100 / kBlock;
    Buffers inputs(c.mains), scInputs(c.sides), outputs(std::max(c.numOutputs, 0));
    Buffers* out = c.numOutputs < 0 ? nullptr : &outputs;
    const Signal noise = Noise(2 * kBlock, 13);
    for (auto& in : inputs) in = Slice(noise, 0, kBlock);
    for (auto& sc : scInputs) sc = Slice(noise, kBlock, kBlock);
    for (int b = 0; b < 8; ++b) engine.Process(inputs, scInputs, out);
    testsupport::AllocCounter counter;
    int largest = 0;
    for (int b = 8; b < blocks; ++b) {
        EXPECT_TRUE(engine.Process(inputs, scInputs, out));
        for (int ch = std::max(c.numOutputs, 0); ch < engine.GetNumChannels(); ++ch)
            largest = std::max(largest, engine.GetChannel(ch)->GetOutputFifo().GetSize());
    }
    EXPECT_LE(largest, kN + kBlock);
    EXPECT_EQ(counter.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, EngineUnreadChannels,
                         ::testing::Values(UnreadCase{"OneOutputOfTwo", 2, 0, 1},
                                           UnreadCase{"NoOutputs", 2, 0, -1},
                                           UnreadCase{"SideChainBesideARead", 1, 1, 1},
                                           UnreadCase{"SideChainWithoutOutputs", 1, 1, -1}),
                         [](const ::testing::TestParamInfo<UnreadCase>& info) {
                             return info.param.name;
                         });

TEST(FftProcessObj16, NegativeLatencyCountsAsZero) {
    auto engine = MakeStereo();
    engine->SetLatency(-100);
    EXPECT_EQ(engine->GetLatency(512), 0);
    EXPECT_EQ(engine->GetChannel(1)->GetLatency(), 0);
}

} // namespace

namespace {

// Halves the rate of the main channels' input blocks (keeps every second
// sample), as a converter from a host rate twice the STFT rate does.
class HalveInput : public MultichannelProcess {
public:
    void ProcessInputBlock(const SampleBufs& mains, const SampleCopies*) override {
        for (KIT_TypedBuf<double>* block : mains) {
            const int half = block->GetSize() / 2;
            for (int i = 0; i < half; ++i) (*block)[i] = (*block)[2 * i];
            block->Resize(half, false);
        }
    }
};

// Doubles every output hop (each sample twice): back to the host rate.
class DoubleHops : public ProcessObj {
public:
    explicit DoubleHops(int bufferSize) : ProcessObj(bufferSize) { mCopy.Resize(bufferSize); }
    void ProcessOutputHop(KIT_TypedBuf<double>* hop) override {
        const int n = hop->GetSize();
        if (n > mCopy.GetSize()) return;
        std::copy(hop->Get(), hop->Get() + n, mCopy.Get());
        hop->Resize(2 * n, false);
        for (int i = 0; i < n; ++i) (*hop)[2 * i] = (*hop)[2 * i + 1] = mCopy[i];
    }

private:
    KIT_TypedBuf<double> mCopy;
};

struct ReserveCase {
    const char* name;
    bool twiceTheRate; // input halved, hops doubled
    int numOutputs;    // 1: the second channel is drained
    std::vector<int> blocks;
    int freqRes = 1;   // 2: frames zero-padded to twice the size
};

void PrintTo(const ReserveCase& c, std::ostream* os) {
    *os << c.name;
}

class EngineReserve : public ::testing::TestWithParam<ReserveCase> {};

// Reserved for the largest block, the engine allocates nothing from its
// first block on, whatever the mix of block sizes, and gives bit for bit the
// output of an engine that grew its buffers as the blocks came.
TEST_P(EngineReserve, FirstBlocksAllocateNothingAndOutputIsUnchanged) {
    const ReserveCase c = GetParam();
    constexpr int kMaxBlock = 4096;
    const int hopOut = c.twiceTheRate ? 2 * kHop : kHop;
    DoubleHops objs[4] = {DoubleHops(kN), DoubleHops(kN), DoubleHops(kN), DoubleHops(kN)};
    HalveInput halve[2];
    std::unique_ptr<FftProcessObj16> engines[2];
    for (int e = 0; e < 2; ++e) {
        std::vector<ProcessObj*> channelObjs;
        if (c.twiceTheRate) channelObjs = {&objs[2 * e], &objs[2 * e + 1]};
        engines[e] = MakeStereo(channelObjs, c.freqRes);
        if (c.twiceTheRate) {
            engines[e]->AddMultichannelProcess(&halve[e]);
            engines[e]->SetLatency(2 * (kN + kN / 4));
        }
    }
    FftProcessObj16& reserved = *engines[0];
    reserved.Reserve(kMaxBlock, kMaxBlock, hopOut);

    const Signal noise = Noise(kMaxBlock * 2, 14);
    std::vector<Buffers> inputs, outputs(2);
    for (int n : c.blocks) {
        inputs.emplace_back(2);
        inputs.back()[0] = Slice(noise, 0, n);
        inputs.back()[1] = Slice(noise, n, n);
    }
    for (Buffers& out : outputs) {
        out.resize(c.numOutputs);
        for (KIT_TypedBuf<double>& b : out) b.Resize(kMaxBlock);
    }
    testsupport::AllocCounter counter;
    int64_t allocations = 0;
    for (int b = 0; b < 60; ++b) {
        const Buffers& in = inputs[b % inputs.size()];
        counter.Reset();
        reserved.Process(in, {}, &outputs[0]);
        allocations += counter.Count();
        engines[1]->Process(in, {}, &outputs[1]);
        for (int ch = 0; ch < c.numOutputs; ++ch)
            ASSERT_TRUE(std::equal(outputs[0][ch].Get(), outputs[0][ch].Get() + in[0].GetSize(),
                                   outputs[1][ch].Get()))
                << "block " << b << " channel " << ch;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_GT(DspUtils::ComputeAvgAbs(outputs[0][0]), 0.01);

    // A reset keeps the room.
    reserved.Reset();
    counter.Reset();
    for (int b = 0; b < 20; ++b) reserved.Process(inputs[b % inputs.size()], {}, &outputs[0]);
    EXPECT_EQ(counter.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, EngineReserve,
                         ::testing::Values(ReserveCase{"Steady", false, 2, {512}},
                                           ReserveCase{"Varying", false, 2, {64, 4096, 441}},
                                           ReserveCase{"TwiceTheRate", true, 2, {64, 4096, 1000}},
                                           ReserveCase{"OneOutput", true, 1, {4096, 64}},
                                           ReserveCase{"FreqRes2", false, 2, {64, 4096, 441}, 2}),
                         [](const ::testing::TestParamInfo<ReserveCase>& info) {
                             return info.param.name;
                         });

} // namespace

#include "plugin/Stemvolta.h"

#include "tests/plugin/ModelFileWriter.h"
#include "tests/plugin/StemvoltaTestHost.h"
#include "tests/plugin/TestResources.h"
#include "tests/support/AllocCounter.h"
#include "toolkit/ProcessObjChannel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using testmodels::HostBlock;
using testmodels::Peak;
using testmodels::PlaySource;
using testmodels::Recording;
using testmodels::TestResources;
using testmodels::TestStemvolta;

constexpr double kPi = 3.14159265358979323846;

// A mix band-limited below 20 kHz; channel 1 differs from channel 0.
double Mix(int channel, long t, double rate) {
    static const double kHz[] = {220.0, 1234.5, 5000.0, 12000.0, 19000.0};
    static const double kAmp[] = {0.3, 0.2, 0.15, 0.1, 0.05};
    double v = 0.0;
    for (int i = 0; i < 5; ++i) v += kAmp[i] * std::sin(2 * kPi * kHz[i] * t / rate + channel + i);
    return v;
}

// Four models; stem k's masks are all masks[k].
std::unique_ptr<TestStemvolta> MakePlug(TestResources& resources,
                                        const std::vector<float>& masks = {1, 1, 1, 1}) {
    for (int k = 0; k < 4; ++k) resources.SetModel(k, testmodels::ConstantMaskModel(masks[k]));
    return std::make_unique<TestStemvolta>(resources.NewGraphics());
}

// The mix, with silence where silent(t).
template <typename Silent>
Recording Play(Stemvolta& plug, int channels, int block, int blocks, double rate, Silent silent) {
    return PlaySource(plug, channels, block, blocks,
                      [&](int c, long t) { return silent(t) ? 0.0 : Mix(c, t, rate); });
}

Recording Play(Stemvolta& plug, int channels, int block, int blocks, double rate) {
    return Play(plug, channels, block, blocks, rate, [](long) { return false; });
}

// The first block after a reset enters the chain faded in over its first half.
void FadeIn(std::vector<double>& signal, int block) {
    for (int j = 0; j < block / 2; ++j)
        signal[j] *= 0.5 * (1.0 - std::cos(2.0 * kPi * j / (block - 1)));
}

class StemvoltaTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(resources.Ok()); }
    TestResources resources;
};

struct IdentityCase {
    int channels;
    int block;
};

class StemvoltaIdentityTest : public ::testing::TestWithParam<IdentityCase> {};

// Masks all 1 and levels at 0 dB: the output is the (faded-in) input delayed
// by the reported latency, within the windows' overlap-add ripple, apart
// from the first 1536 samples, which fewer frames overlap.
TEST_P(StemvoltaIdentityTest, OutputIsTheDelayedInput) {
    TestResources resources;
    auto plug = MakePlug(resources);
    const IdentityCase c = GetParam();
    plug->Start(44100.0, c.block, c.channels);
    ASSERT_EQ(2560, plug->GetLatency());
    Recording run = Play(*plug, c.channels, c.block, 80000 / c.block, 44100.0);
    const long n = static_cast<long>(run.out[0].size());
    for (int ch = 0; ch < c.channels; ++ch) {
        FadeIn(run.in[ch], c.block);
        const double tolerance = 3e-5 * Peak(run.in[ch]);
        for (long t = 0; t < 2560; ++t) ASSERT_EQ(0.0, run.out[ch][t]) << t;
        for (long t = 1536; t + 2560 < n; ++t)
            ASSERT_NEAR(run.in[ch][t], run.out[ch][t + 2560], tolerance)
                << "channel " << ch << " t " << t;
    }
}

// The host starting its transport resets the plug-in from the audio thread:
// the latency starts again (zeros) and the first block after it is faded in
// (with 4096-sample blocks the fade reaches past the first 1536 samples,
// which fewer frames overlap).
TEST(StemvoltaResetTest, TransportStartRestartsLatencyAndFadeIn) {
    constexpr int kBlock = 4096, kBefore = 30, kAfter = 12;
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(44100.0, kBlock, 2);
    const Recording before = Play(*plug, 2, kBlock, kBefore, 44100.0);
    ASSERT_GT(Peak(before.out[0]), 0.1);
    plug->transportRunning = true;
    // The stream goes on where it stopped.
    Recording after = PlaySource(*plug, 2, kBlock, kAfter, [](int c, long t) {
        return Mix(c, t + static_cast<long>(kBefore) * kBlock, 44100.0);
    });
    const long n = static_cast<long>(after.out[0].size());
    for (int ch = 0; ch < 2; ++ch) {
        for (long t = 0; t < 2560; ++t) ASSERT_EQ(0.0, after.out[ch][t]) << t;
        FadeIn(after.in[ch], kBlock);
        const double tolerance = 3e-5 * Peak(after.in[ch]);
        for (long t = 1536; t + 2560 < n; ++t)
            ASSERT_NEAR(after.in[ch][t], after.out[ch][t + 2560], tolerance)
                << "channel " << ch << " t " << t;
    }

    // That reset runs on the audio thread: it must not allocate.
    HostBlock host(2, kBlock);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kBlock; ++i) host.in[c][i] = Mix(c, i, 44100.0);
    testsupport::AllocCounter counter;
    for (bool running : {false, true, true}) {
        plug->transportRunning = running;
        host.Process(*plug);
    }
    EXPECT_EQ(0, counter.Count());
}

INSTANTIATE_TEST_SUITE_P(Layouts, StemvoltaIdentityTest,
                         ::testing::Values(IdentityCase{2, 512}, IdentityCase{2, 441},
                                           IdentityCase{1, 512}, IdentityCase{2, 4096}));

} // namespace

namespace {

struct RateCase {
    double rate;
    int latency;
};

class StemvoltaRateTest : public ::testing::TestWithParam<RateCase> {};

// Away from 44100 Hz the chain runs through the two rate converters: the
// first `latency` output samples are exactly zero, and the input comes out
// delayed by the latency plus the converters' own fraction of a sample (their
// low-pass sections), within their linear-interpolation error.
TEST_P(StemvoltaRateTest, OutputIsTheInputDelayedByTheLatency) {
    const RateCase c = GetParam();
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(c.rate, 512, 2);
    ASSERT_EQ(c.latency, plug->GetLatency());
    ASSERT_EQ(c.latency, plug->GetEngine()->GetLatency());

    const auto lowMix = [&](long t) {
        return 0.5 * std::sin(2 * kPi * 200.0 * t / c.rate) +
               0.3 * std::sin(2 * kPi * 700.0 * t / c.rate + 1.0);
    };
    HostBlock host(2, 512);
    std::vector<double> in, out;
    const int blocks = static_cast<int>(c.rate * 1.5 / 512);
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < 512; ++i) host.in[0][i] = host.in[1][i] = lowMix(b * 512L + i);
        host.Process(*plug);
        in.insert(in.end(), host.in[0].begin(), host.in[0].end());
        out.insert(out.end(), host.out[0].begin(), host.out[0].end());
    }
    for (int t = 0; t < c.latency; ++t) ASSERT_EQ(0.0, out[t]) << t;

    // The best fractional delay, by linear interpolation of the input.
    const long from = c.latency + 4 * 2048;
    double bestDelay = 0.0, bestError = 1e9;
    for (double d = c.latency; d <= c.latency + 4.0; d += 0.05) {
        double error = 0.0;
        for (long t = from; t < static_cast<long>(out.size()); ++t) {
            const double x = t - d;
            const long i = static_cast<long>(std::floor(x));
            const double f = x - i;
            error = std::max(error, std::fabs(out[t] - (in[i] * (1 - f) + in[i + 1] * f)));
        }
        if (error < bestError) {
            bestError = error;
            bestDelay = d;
        }
    }
    EXPECT_LT(bestDelay - c.latency, 3.0);
    EXPECT_LT(bestError, 2e-3);
}

INSTANTIATE_TEST_SUITE_P(Rates, StemvoltaRateTest,
                         ::testing::Values(RateCase{48000.0, 2787}, RateCase{88200.0, 5120},
                                           RateCase{96000.0, 5573}, RateCase{32000.0, 1858},
                                           RateCase{22050.0, 1280}));

} // namespace

namespace {

// Output of leadSilentBlocks silent blocks and then the mix from its start.
std::vector<double> OutputAfterSilence(int block, int blocks, int leadSilentBlocks) {
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(44100.0, block, 2);
    const long lead = static_cast<long>(leadSilentBlocks) * block;
    Recording run = PlaySource(*plug, 2, block, blocks, [&](int c, long t) {
        return t < lead ? 0.0 : Mix(c, t - lead, 44100.0);
    });
    return std::vector<double>(run.out[0].begin() + lead, run.out[0].end());
}

// Silence bypasses the chain and leaves its state alone: a plug that first
// sees silent blocks then plays exactly as one that got the sound at once
// (fade-in included), even with blocks that do not divide the hop.
TEST(StemvoltaBypassTest, LeadingSilenceDoesNotReachTheChain) {
    const std::vector<double> direct = OutputAfterSilence(441, 60, 0);
    const std::vector<double> afterSilence = OutputAfterSilence(441, 70, 10);
    ASSERT_EQ(direct.size(), afterSilence.size());
    for (size_t i = 0; i < direct.size(); ++i) ASSERT_EQ(direct[i], afterSilence[i]) << i;
}

// The mix, a gap of silent blocks [gapFrom, gapTo), then the mix again from
// a fixed point of its own (so the returning sound does not depend on when
// it returns).
Recording PlayWithGap(Stemvolta& plug, int block, int blocks, int gapFrom, int gapTo) {
    const long from = static_cast<long>(gapFrom) * block, to = static_cast<long>(gapTo) * block;
    return PlaySource(plug, 2, block, blocks, [&](int c, long t) {
        if (t < from) return Mix(c, t, 44100.0);
        return t < to ? 0.0 : Mix(c, t - to + 100000, 44100.0);
    });
}

// After the sound stops the chain keeps running (its delayed tail comes out)
// until input and previous output are both silent; from then on it is
// bypassed, and it takes up the sound again when it returns.
TEST(StemvoltaBypassTest, EngagesOnlyWhenInputAndOutputAreSilent) {
    constexpr int kBlock = 441;
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(44100.0, kBlock, 2);
    const Recording run = PlayWithGap(*plug, kBlock, 110, 40, 70);
    const long soundEnd = 40L * kBlock;
    const double peak = Peak(run.in[0]);
    // The tail: the end of the sound, delayed, while the input is already
    // silent (the abrupt end is not band-limited: a loose bound).
    for (long t = soundEnd; t < soundEnd + 2560; ++t)
        ASSERT_NEAR(run.in[0][t - 2560], run.out[0][t], 1e-2 * peak) << t;
    // Silent output well before the sound returns.
    for (long t = 60L * kBlock; t < 70L * kBlock; ++t) ASSERT_EQ(0.0, run.out[0][t]) << t;
    // The sound is taken up again, delayed by the latency.
    for (long t = 70L * kBlock + 2560 + 1536; t < 110L * kBlock; ++t)
        ASSERT_NEAR(run.in[0][t - 2560], run.out[0][t], 3e-5 * peak) << t;

    // A shorter gap (still long enough for the bypass to engage) of a length
    // that shifts the STFT's framing: only a chain that saw neither of the
    // bypassed stretches gives the returning sound bit for bit the same.
    TestResources otherResources;
    auto other = MakePlug(otherResources);
    other->Start(44100.0, kBlock, 2);
    const Recording shorter = PlayWithGap(*other, kBlock, 96, 40, 56);
    for (long i = 0; i < 40L * kBlock; ++i)
        ASSERT_EQ(run.out[0][70L * kBlock + i], shorter.out[0][56L * kBlock + i]) << i;
}

// A sound shorter than the latency, then silence: the chain must not be
// bypassed while the sound is still inside it. The sound comes out after the
// latency, exactly as from a chain that is never bypassed (a host whose
// output buffers hold junk on entry defeats the bypass), and is not held back
// until the next sound arrives.
TEST(StemvoltaBypassTest, ShortSoundIsNotTrappedBySilence) {
    constexpr int kBlock = 512, kBurstBlocks = 2, kSilentBlocks = 100, kBlocks = 130;
    constexpr long kToneStart = static_cast<long>(kBurstBlocks + kSilentBlocks) * kBlock;
    const auto source = [](int c, long t) {
        if (t < kBurstBlocks * kBlock) return Mix(c, t, 44100.0);
        return t < kToneStart ? 0.0 : 0.5 * Mix(c, t + 5000, 44100.0);
    };
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(44100.0, kBlock, 2);
    const Recording run = PlaySource(*plug, 2, kBlock, kBlocks, source);

    TestResources referenceResources;
    auto reference = MakePlug(referenceResources);
    reference->Start(44100.0, kBlock, 2);
    HostBlock host(2, kBlock);
    std::vector<double> expected;
    for (int b = 0; b < kBlocks; ++b) {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < kBlock; ++i) {
                host.in[c][i] = source(c, static_cast<long>(b) * kBlock + i);
                host.out[c][i] = 1.0;
            }
        host.Process(*reference);
        expected.insert(expected.end(), host.out[0].begin(), host.out[0].end());
    }

    // The burst comes out after the latency; then zeros until the first frame
    // that holds the tone (which spreads over the frame) does.
    const long burstEnd = 2560 + kBurstBlocks * kBlock + 2048;
    const long quietEnd = kToneStart + 2560 - 2048;
    std::vector<double> burst(expected.begin() + 2560, expected.begin() + burstEnd);
    EXPECT_GT(Peak(burst), 0.1);
    for (long t = burstEnd; t < quietEnd; ++t) ASSERT_EQ(0.0, expected[t]) << t;
    for (long t = 0; t < quietEnd; ++t) ASSERT_EQ(expected[t], run.out[0][t]) << t;
    // The tone alone follows, delayed (its abrupt start: a loose bound).
    const double peak = Peak(run.in[0]);
    for (long t = kToneStart + 2560; t < static_cast<long>(run.out[0].size()); ++t)
        ASSERT_NEAR(run.in[0][t - 2560], run.out[0][t], 1e-2 * peak) << t;
}

} // namespace

namespace {

struct LevelCase {
    double levelDb;
    int stem;            // the stem whose level is set
    double expectedGain; // of the output against the input
};

class StemvoltaLevelTest : public ::testing::TestWithParam<LevelCase> {};

// Masks that give everything to stem 0: its level scales the output, the
// other stems' levels do nothing.
TEST_P(StemvoltaLevelTest, StemLevelScalesItsShare) {
    const LevelCase c = GetParam();
    TestResources resources;
    auto plug = MakePlug(resources, {1, 0, 0, 0});
    plug->Start(44100.0, 512, 2);
    plug->SetParam(Stemvolta::kVocal + c.stem, c.levelDb);
    const Recording run = Play(*plug, 2, 512, 60, 44100.0);
    for (int ch = 0; ch < 2; ++ch) {
        std::vector<double> in = run.in[ch];
        FadeIn(in, 512);
        const double peak = Peak(in);
        for (long t = 1536; t + 2560 < static_cast<long>(in.size()); ++t)
            ASSERT_NEAR(c.expectedGain * in[t], run.out[ch][t + 2560],
                        3e-5 * peak * std::max(1.0, c.expectedGain))
                << t;
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, StemvoltaLevelTest,
                         ::testing::Values(LevelCase{-120.0, 0, 1e-6},
                                           LevelCase{12.0, 0, std::exp(12.0 * 0.1151292546497)},
                                           LevelCase{-6.0, 0, std::exp(-6.0 * 0.1151292546497)},
                                           LevelCase{12.0, 1, 1.0}, LevelCase{-120.0, 3, 1.0}));

TEST(StemvoltaLevelTest, MinimumLevelSilencesTheStem) {
    TestResources resources;
    auto plug = MakePlug(resources, {1, 0, 0, 0});
    plug->Start(44100.0, 512, 2);
    plug->SetParam(Stemvolta::kVocal, -120.0);
    const Recording run = Play(*plug, 2, 512, 40, 44100.0);
    const double peakIn = Peak(run.in[0]);
    const double peakOut = Peak(run.out[0]);
    EXPECT_LT(peakOut, peakIn * 1e-5); // below -100 dB
    EXPECT_NEAR(3.981, std::exp(12.0 * 0.1151292546497), 1e-3);
}

struct ParamCase {
    int index;
    double value;
    double gain[4], threshold[4], softHard;
};

class StemvoltaParamTest : public ::testing::TestWithParam<ParamCase> {};

// Each parameter's derived value reaches the plug-in and both processors;
// the others keep their start values (levels 0 dB, sensitivities 100 %).
TEST_P(StemvoltaParamTest, DerivedValuesReachBothProcessors) {
    const ParamCase c = GetParam();
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(44100.0, 512, 2);
    if (c.index >= 0 && c.index < Stemvolta::kNumParams)
        plug->SetParam(c.index, c.value);
    else
        plug->OnParamChange(c.index);
    ASSERT_EQ(2, plug->NProcessors());
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(c.gain[k], plug->GetStemGain(k), 1e-3 * c.gain[k]) << k;
        EXPECT_NEAR(c.threshold[k], plug->GetStemThreshold(k), 1e-15) << k;
        for (int p = 0; p < 2; ++p) {
            EXPECT_EQ(plug->GetStemGain(k), plug->GetProcessor(p)->GetStemGain(k));
            EXPECT_EQ(plug->GetStemThreshold(k), plug->GetProcessor(p)->GetStemThreshold(k));
        }
    }
    EXPECT_DOUBLE_EQ(c.softHard, plug->GetSoftHard());
    for (int p = 0; p < 2; ++p)
        EXPECT_EQ(plug->GetSoftHard(), plug->GetProcessor(p)->GetSoftHard());
}

INSTANTIATE_TEST_SUITE_P(
    Params, StemvoltaParamTest,
    ::testing::Values(ParamCase{Stemvolta::kVocal, -120.0, {1e-6, 1, 1, 1}, {0, 0, 0, 0}, 0.0},
                      ParamCase{Stemvolta::kDrums, 12.0, {1, 1, 3.981, 1}, {0, 0, 0, 0}, 0.0},
                      ParamCase{Stemvolta::kOther, -6.0, {1, 1, 1, 0.501}, {0, 0, 0, 0}, 0.0},
                      ParamCase{Stemvolta::kBassSensitivity, 0.0, {1, 1, 1, 1}, {0, 1, 0, 0}, 0.0},
                      ParamCase{
                          Stemvolta::kOtherSensitivity, 37.5, {1, 1, 1, 1}, {0, 0, 0, 0.625}, 0.0},
                      ParamCase{Stemvolta::kSoftHard, 50.0, {1, 1, 1, 1}, {0, 0, 0, 0}, 0.5},
                      // Parameters 9 to 12 and unknown indexes change nothing.
                      ParamCase{9, 50.0, {1, 1, 1, 1}, {0, 0, 0, 0}, 0.0},
                      ParamCase{12, 50.0, {1, 1, 1, 1}, {0, 0, 0, 0}, 0.0},
                      ParamCase{-1, 0.0, {1, 1, 1, 1}, {0, 0, 0, 0}, 0.0},
                      ParamCase{13, 0.0, {1, 1, 1, 1}, {0, 0, 0, 0}, 0.0}));

TEST(StemvoltaSetupTest, ParametersPresetAndLatency) {
    TestResources resources;
    auto plug = MakePlug(resources);
    EXPECT_EQ(13, plug->NParams());
    EXPECT_STREQ("QX Stemvolta", plug->GetEffectName());
    EXPECT_STREQ("Corvena", plug->GetMfrName());
    EXPECT_EQ(328965, plug->GetEffectVersion(false));
    EXPECT_TRUE(plug->LegalIO(1, 1));
    EXPECT_TRUE(plug->LegalIO(2, 2));
    EXPECT_FALSE(plug->LegalIO(1, 2));
    ASSERT_EQ(1, plug->NPresets());
    EXPECT_STREQ("-", plug->GetPresetName(0));
    // Before any reset the chain is rated for 44100 Hz.
    EXPECT_EQ(2560, plug->GetLatency());
    // Start values before the host's parameter reset.
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(0.0, plug->GetStemGain(k));
        EXPECT_EQ(1.0, plug->GetStemThreshold(k));
    }

    const IParam* level = plug->GetParam(Stemvolta::kVocal);
    EXPECT_NEAR(0.5, level->GetNormalized(0.0), 1e-9);
    EXPECT_NEAR(0.0, level->GetNormalized(-120.0), 1e-12);
    EXPECT_NEAR(1.0, level->GetNormalized(12.0), 1e-12);
    EXPECT_EQ(100.0, plug->GetParam(Stemvolta::kDrumsSensitivity)->Value());
    EXPECT_EQ(0.0, plug->GetParam(Stemvolta::kSoftHard)->Value());
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(plug->GetPredictor()->HasModel(k));
}

TEST(StemvoltaSetupTest, LatencyFollowsTheSampleRate) {
    TestResources resources;
    auto plug = MakePlug(resources);
    const std::pair<double, int> table[] = {
        {44100.0, 2560}, {48000.0, 2787}, {88200.0, 5120}, {96000.0, 5573}};
    for (const auto& [rate, latency] : table) {
        plug->Start(rate, 512, 2);
        EXPECT_EQ(latency, plug->GetLatency()) << rate;
        EXPECT_EQ(latency, plug->GetEngine()->GetLatency()) << rate;
        EXPECT_EQ(rate, plug->GetPredictor()->GetHostSampleRate());
        EXPECT_EQ(rate, plug->GetProcessor(0)->GetHostSampleRate());
        EXPECT_EQ(rate, plug->GetProcessor(1)->GetHostSampleRate());
    }
}

struct HostRateCase {
    double rate;
    int latency;
    bool runsAt44100; // a rate the chain refuses
};

void PrintTo(const HostRateCase& c, std::ostream* os) {
    *os << c.rate << " Hz";
}

class StemvoltaHostRateTest : public ::testing::TestWithParam<HostRateCase> {};

// Sample rates no host uses (not a number, zero, negative, absurdly low or
// high) run the chain as at 44100 Hz: the same latency and, bit for bit, the
// same output. The limits of the accepted range are taken as they are.
TEST_P(StemvoltaHostRateTest, RefusedRatesRunAsAt44100) {
    const HostRateCase c = GetParam();
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(c.rate, 512, 2);
    ASSERT_EQ(c.latency, plug->GetLatency());
    ASSERT_EQ(c.latency, plug->GetEngine()->GetLatency());
    const double chainRate = c.runsAt44100 ? 44100.0 : c.rate;
    EXPECT_EQ(chainRate, plug->GetPredictor()->GetHostSampleRate());
    EXPECT_EQ(chainRate, plug->GetProcessor(0)->GetHostSampleRate());
    const Recording run = Play(*plug, 2, 512, 100 + 2 * c.latency / 512, 44100.0);
    EXPECT_GT(Peak(run.out[0]), 0.1);
    if (!c.runsAt44100) return;
    TestResources otherResources;
    auto at44100 = MakePlug(otherResources);
    at44100->Start(44100.0, 512, 2);
    const Recording expected = Play(*at44100, 2, 512, 110, 44100.0);
    for (int ch = 0; ch < 2; ++ch) ASSERT_TRUE(expected.out[ch] == run.out[ch]) << ch;
}

INSTANTIATE_TEST_SUITE_P(
    Rates, StemvoltaHostRateTest,
    ::testing::Values(HostRateCase{0.0, 2560, true}, HostRateCase{-1.0, 2560, true},
                      HostRateCase{std::nan(""), 2560, true}, HostRateCase{1.0, 2560, true},
                      HostRateCase{7999.0, 2560, true}, HostRateCase{1e9, 2560, true},
                      HostRateCase{8000.0, 465, false}, HostRateCase{768000.0, 44582, false}));

TEST(StemvoltaSetupTest, WithoutResourcesTheOutputIsSilent) {
    auto plug = std::make_unique<TestStemvolta>(nullptr);
    plug->Start(44100.0, 512, 2);
    const Recording run = Play(*plug, 2, 512, 20, 44100.0);
    EXPECT_EQ(0.0, Peak(run.out[0]));
    EXPECT_EQ(0.0, Peak(run.out[1]));
}

TEST(StemvoltaSetupTest, BlocksWithoutInputOrOutputAreLeftAlone) {
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(44100.0, 64, 2);
    std::vector<double> in(64, 0.5), out(64, 7.0);
    double* noInputs[2] = {nullptr, nullptr};
    double* outputs[2] = {out.data(), nullptr};
    plug->ProcessDoubleReplacing(noInputs, outputs, 64);
    EXPECT_EQ(7.0, out[10]);
    double* inputs[2] = {in.data(), nullptr};
    double* noOutputs[2] = {nullptr, nullptr};
    plug->ProcessDoubleReplacing(inputs, noOutputs, 64);
    plug->SetOutputChannelConnections(0, 2, false);
    plug->ProcessDoubleReplacing(inputs, outputs, 64);
    EXPECT_EQ(7.0, out[10]);
}

struct AllocCase {
    double rate;
    int block;
    int channels;
};

class StemvoltaAllocTest : public ::testing::TestWithParam<AllocCase> {};

TEST_P(StemvoltaAllocTest, BlocksAllocateNothingAfterTheFirst) {
    const AllocCase c = GetParam();
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(c.rate, c.block, c.channels);
    HostBlock host(c.channels, c.block);
    long t = 0;
    const auto block = [&] {
        for (int ch = 0; ch < c.channels; ++ch)
            for (int i = 0; i < c.block; ++i) host.in[ch][i] = Mix(ch, t + i, c.rate);
        t += c.block;
        host.Process(*plug);
    };
    for (int b = 0; b < 40; ++b) block();
    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter counter;
    for (int b = 0; b < 300; ++b) block();
    EXPECT_EQ(0, counter.Count());
    // The net count misses a pool started and joined within a frame; the
    // predictions run on the audio thread itself.
    EXPECT_EQ(threads, testsupport::ThreadCount());
    EXPECT_EQ(1, plug->GetPredictor()->GetPredictionThreads());
    EXPECT_GT(Peak(host.out[0]), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Layouts, StemvoltaAllocTest,
                         ::testing::Values(AllocCase{44100.0, 512, 2}, AllocCase{48000.0, 441, 2},
                                           AllocCase{96000.0, 512, 1}, AllocCase{22050.0, 256, 2}));

#if defined(__SANITIZE_ADDRESS__)
constexpr double kMonoMinutes = 1.0; // the sanitizers are ten times slower
#else
constexpr double kMonoMinutes = 10.0;
#endif

// Mono: the second channel of the engine has no host output; its finished
// samples must not pile up. Over ten minutes of audio nothing allocates and
// that channel's output FIFO stays within a few hops.
TEST(StemvoltaMonoTest, MemoryStaysBounded) {
    TestResources resources;
    auto plug = MakePlug(resources);
    constexpr int kBlock = 512;
    plug->Start(48000.0, kBlock, 1);
    HostBlock host(1, kBlock);
    const long blocks = static_cast<long>(kMonoMinutes * 60 * 48000 / kBlock);
    testsupport::AllocCounter counter;
    int maxFifo = 0;
    for (long b = 0; b < blocks; ++b) {
        for (int i = 0; i < kBlock; ++i) host.in[0][i] = Mix(0, b * kBlock + i, 48000.0);
        if (b == 50) counter.Reset();
        host.Process(*plug);
        maxFifo = std::max(maxFifo, plug->GetEngine()->GetChannel(1)->GetOutputFifo().GetSize());
    }
    EXPECT_EQ(0, counter.Count());
    EXPECT_LE(maxFifo, 4 * 2048);
    EXPECT_GT(Peak(host.out[0]), 0.1);
}

} // namespace

namespace {

struct PreparedCase {
    const char* name;
    double rate;
    int channels;
    int small, large; // block sizes in turn; the reset is for the large one
};

void PrintTo(const PreparedCase& c, std::ostream* os) {
    *os << c.name;
}

class StemvoltaPreparedTest : public ::testing::TestWithParam<PreparedCase> {};

// A reset for the host's largest block prepares the whole chain: from the
// very first block on, blocks of that size and much smaller ones, in turn,
// allocate nothing and start no thread.
TEST_P(StemvoltaPreparedTest, BlocksAllocateNothingFromTheFirst) {
    const PreparedCase c = GetParam();
    TestResources resources;
    auto plug = MakePlug(resources);
    plug->Start(c.rate, c.large, c.channels);
    HostBlock small(c.channels, c.small), large(c.channels, c.large);
    long t = 0;
    std::vector<int64_t> counts;
    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter counter;
    for (int b = 0; b < 80; ++b) {
        HostBlock& host = b % 2 ? large : small;
        const int n = static_cast<int>(host.in[0].size());
        for (int ch = 0; ch < c.channels; ++ch)
            for (int i = 0; i < n; ++i) host.in[ch][i] = Mix(ch, t + i, c.rate);
        t += n;
        counter.Reset();
        host.Process(*plug);
        counts.push_back(counter.Count());
    }
    std::string perBlock;
    for (size_t b = 0; b < counts.size(); ++b)
        if (counts[b] != 0) perBlock += " b" + std::to_string(b) + ":" + std::to_string(counts[b]);
    EXPECT_TRUE(perBlock.empty()) << "allocations by block:" << perBlock;
    EXPECT_EQ(threads, testsupport::ThreadCount());
    EXPECT_GT(Peak(large.out[0]), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Rates, StemvoltaPreparedTest,
                         ::testing::Values(PreparedCase{"Steady44100", 44100.0, 2, 512, 512},
                                           PreparedCase{"Varying44100", 44100.0, 2, 64, 4096},
                                           PreparedCase{"Varying48000", 48000.0, 2, 64, 4096},
                                           PreparedCase{"Varying96000", 96000.0, 2, 64, 4096},
                                           PreparedCase{"Varying22050", 22050.0, 2, 64, 4096},
                                           PreparedCase{"Mono48000", 48000.0, 1, 64, 4096},
                                           PreparedCase{"Odd192000", 192000.0, 2, 441, 1000}),
                         [](const ::testing::TestParamInfo<PreparedCase>& info) {
                             return info.param.name;
                         });

} // namespace

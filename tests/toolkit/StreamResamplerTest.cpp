#include "toolkit/StreamResampler.h"

#include "tests/support/AllocCounter.h"
#include "toolkit/ResamplerBiquad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The separation plug-in's configuration, in both of its directions.
void ConfigureLikePlugin(StreamResampler& r, double inRate, double outRate) {
    r.Reset(0);
    r.SetMode(true, 1, false, 0, 0);
    r.filterQ = 0.707f;
    r.filterPos = 0.693f;
    r.feedMode = true;
    r.SetRates(inRate, outRate);
}

// Feeds an interleaved stream through r in feed mode, block sizes taken in
// turn from `blocks`, and returns everything it produced.
std::vector<double> Stream(StreamResampler& r, const std::vector<double>& in, int channels,
                           const std::vector<int>& blocks) {
    std::vector<double> out;
    std::vector<double> chunk;
    const int frames = static_cast<int>(in.size()) / channels;
    int at = 0;
    for (size_t b = 0; at < frames; ++b) {
        const int n = std::min(blocks[b % blocks.size()], frames - at);
        double* dst = nullptr;
        const int granted = r.ResamplePrepare(n, channels, &dst);
        EXPECT_EQ(granted, n);
        std::copy(in.begin() + static_cast<long>(at) * channels,
                  in.begin() + static_cast<long>(at + granted) * channels, dst);
        const int room = static_cast<int>(n / r.GetRatio()) + 8;
        chunk.assign(static_cast<size_t>(room) * channels, 0.0);
        const int produced = r.ResampleOut(chunk.data(), granted, room, channels);
        EXPECT_LT(produced, room) << "output capped: the stream would lose frames";
        out.insert(out.end(), chunk.begin(),
                   chunk.begin() + static_cast<long>(produced) * channels);
        at += granted;
    }
    return out;
}

std::vector<double> Sine(double freq, double rate, int frames, int channels) {
    std::vector<double> s(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < channels; ++ch)
            s[static_cast<size_t>(i) * channels + ch] = std::sin(2 * kPi * freq * i / rate + ch);
    return s;
}

// RMS of channel 0 of frames [from, to).
double Rms(const std::vector<double>& s, int channels, int from, int to) {
    double sum = 0;
    for (int i = from; i < to; ++i)
        sum += s[static_cast<size_t>(i) * channels] * s[static_cast<size_t>(i) * channels];
    return std::sqrt(sum / (to - from));
}

std::vector<double> Noise(int samples, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> s(static_cast<size_t>(samples));
    for (double& v : s) v = dist(gen);
    return s;
}

// Plain model of the low-pass section: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
void ReferenceLowPass(std::vector<double>& s, int channels, int sections, double p, double q) {
    const double t = kPi * p, c = std::cos(t), alpha = std::sin(t) / (2 * q), k = 1 / (1 + alpha);
    const double b1 = (1 - c) * k, b0 = b1 / 2, b2 = b0, a1 = -2 * c * k, a2 = (1 - alpha) * k;
    const size_t frames = s.size() / channels;
    for (int ch = 0; ch < channels; ++ch)
        for (int sec = 0; sec < sections; ++sec) {
            double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
            for (size_t i = 0; i < frames; ++i) {
                double& v = s[i * channels + ch];
                const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
                x2 = x1, x1 = v, y2 = y1, y1 = y, v = y;
            }
        }
}

// Whole-buffer model of the point and linear modes with their low-pass.
std::vector<double> Reference(std::vector<double> in, int channels, double ratio, bool linear,
                              int sections, float pos, float q) {
    if (sections > 0 && ratio > 1) ReferenceLowPass(in, channels, sections, pos * (1 / ratio), q);
    const int frames = static_cast<int>(in.size()) / channels;
    std::vector<double> out;
    for (double x = 0; x < (linear ? frames - 1 : frames); x += ratio) {
        const int i = static_cast<int>(x);
        const double f = x - i;
        for (int ch = 0; ch < channels; ++ch) {
            const double a = in[static_cast<size_t>(i) * channels + ch];
            out.push_back(linear ? a * (1 - f) + in[static_cast<size_t>(i + 1) * channels + ch] * f
                                 : a);
        }
    }
    if (sections > 0 && ratio < 1) ReferenceLowPass(out, channels, sections, ratio * pos, q);
    return out;
}

struct ModeCase {
    bool linear;
    int filters;
    bool sinc;
    int length;
    int oversampling;
    int expectLength;
    int expectOversampling;
    int expectFilters;
    bool expectLinear;
};

class ResamplerSetMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ResamplerSetMode, NormalisesTheRequest) {
    const ModeCase c = GetParam();
    StreamResampler r;
    r.SetMode(c.linear, c.filters, c.sinc, c.length, c.oversampling);
    EXPECT_EQ(r.GetSincLength(), c.expectLength);
    EXPECT_EQ(r.GetSincOversampling(), c.expectOversampling);
    EXPECT_EQ(r.GetFilterCount(), c.expectFilters);
    EXPECT_EQ(r.GetLinearInterpolation(), c.expectLinear);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResamplerSetMode,
    ::testing::Values(ModeCase{true, 7, false, 0, 0, 0, 1, 4, true},   // sections capped
                      ModeCase{true, 1, true, 9, 1, 8, 1, 0, false},   // odd length, sinc wins
                      ModeCase{true, 1, true, 3, 5, 0, 1, 1, true},    // too short: no sinc
                      ModeCase{false, 0, false, 0, 0, 0, 1, 0, false}, // point sampling
                      ModeCase{true, -2, false, 0, 0, 0, 1, 0, true},  // negative count
                      ModeCase{true, 2, false, 64, 16, 0, 1, 2, true}, // length without sinc
                      ModeCase{true, 2, true, 4, 3, 4, 3, 0, false},   // shortest sinc
                      ModeCase{false, 1, true, 20000, 9000, 8192, 8192, 0, false})); // both capped

struct RatesCase {
    double in, out;
    double expectIn, expectOut;
};

class ResamplerSetRates : public ::testing::TestWithParam<RatesCase> {};

TEST_P(ResamplerSetRates, RaisesToOneAndStoresTheRatio) {
    const RatesCase c = GetParam();
    StreamResampler r;
    r.SetRates(c.in, c.out);
    EXPECT_EQ(r.GetInputRate(), c.expectIn);
    EXPECT_EQ(r.GetOutputRate(), c.expectOut);
    EXPECT_EQ(r.GetRatio(), c.expectIn / c.expectOut);
}

INSTANTIATE_TEST_SUITE_P(Table, ResamplerSetRates,
                         ::testing::Values(RatesCase{0.5, 0, 1, 1},
                                           RatesCase{48000, 44100, 48000, 44100},
                                           RatesCase{44100, 96000, 44100, 96000},
                                           RatesCase{-3, 44100, 1, 44100},
                                           RatesCase{NAN, 22050, 1, 22050}));

TEST(StreamResampler, RatioOneReturnsTheInputHeldBackByOneFrame) {
    StreamResampler r;
    ConfigureLikePlugin(r, 44100, 44100);
    const std::vector<double> in = Noise(2 * 1000, 1);
    std::vector<double> out;
    const int blocks[] = {100, 37, 512, 351};
    int at = 0, call = 0;
    for (int n : blocks) {
        double* dst = nullptr;
        ASSERT_EQ(r.ResamplePrepare(n, 2, &dst), n);
        std::copy(in.begin() + 2 * at, in.begin() + 2 * (at + n), dst);
        std::vector<double> chunk(2 * (n + 4));
        const int produced = r.ResampleOut(chunk.data(), n, n + 4, 2);
        EXPECT_EQ(produced, call == 0 ? n - 1 : n) << "call " << call;
        out.insert(out.end(), chunk.begin(), chunk.begin() + 2 * produced);
        at += n;
        ++call;
    }
    ASSERT_EQ(out.size(), in.size() - 2);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], in[i]) << i;
    EXPECT_EQ(r.GetLowPass(), nullptr) << "no section runs at ratio 1";
    EXPECT_DOUBLE_EQ(r.GetLatencySeconds(), 1 / 44100.0);
}

struct StreamCase {
    double inRate, outRate;
    bool linear;
    int filters;
    int channels;
};

class ResamplerMatchesModel : public ::testing::TestWithParam<StreamCase> {};

// The streamed output, in uneven blocks, equals the whole-buffer model:
// the low-pass runs over the input when downsampling and over the output
// when upsampling, and mono, stereo and other channel counts share the
// same arithmetic.
TEST_P(ResamplerMatchesModel, InUnevenBlocks) {
    const StreamCase c = GetParam();
    StreamResampler r;
    r.SetMode(c.linear, c.filters, false, 0, 0);
    r.feedMode = true;
    r.filterQ = 0.6f;
    r.filterPos = 0.8f;
    r.SetRates(c.inRate, c.outRate);
    r.Reset(0);
    const std::vector<double> in = Noise(3000 * c.channels, 7);
    const std::vector<double> got = Stream(r, in, c.channels, {1, 256, 77, 5, 1000});
    const std::vector<double> want =
        Reference(in, c.channels, r.GetRatio(), c.linear, c.filters, r.filterPos, r.filterQ);
    ASSERT_NEAR(static_cast<double>(got.size()), static_cast<double>(want.size()), c.channels);
    const size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i) ASSERT_NEAR(got[i], want[i], 1e-9) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ResamplerMatchesModel,
    ::testing::Values(StreamCase{48000, 44100, true, 1, 1}, StreamCase{48000, 44100, true, 1, 2},
                      StreamCase{96000, 44100, true, 3, 3}, StreamCase{44100, 48000, true, 1, 2},
                      StreamCase{64000, 44100, true, 2, 2}, StreamCase{22050, 44100, true, 4, 5},
                      StreamCase{88200, 44100, false, 0, 2},
                      StreamCase{33075, 44100, false, 2, 1}));

struct RateCase {
    double inRate, outRate;
    double expectPosition; // of the low-pass bank, -1 for none
};

// The settings are 32-bit floats: the sections see 0.693f, not 0.693.
const double kPluginPos = static_cast<double>(0.693f);

class ResamplerFilterSide : public ::testing::TestWithParam<RateCase> {};

TEST_P(ResamplerFilterSide, PositionFollowsTheLowerRate) {
    const RateCase c = GetParam();
    StreamResampler r;
    ConfigureLikePlugin(r, c.inRate, c.outRate);
    Stream(r, Noise(1024, 3), 1, {512});
    if (c.expectPosition < 0) {
        EXPECT_EQ(r.GetLowPass(), nullptr);
    } else {
        ASSERT_NE(r.GetLowPass(), nullptr);
        EXPECT_DOUBLE_EQ(r.GetLowPass()->GetLastPosition(), c.expectPosition);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerFilterSide,
                         ::testing::Values(RateCase{48000, 44100, kPluginPos * 44100 / 48000},
                                           RateCase{44100, 96000, kPluginPos * 44100 / 96000},
                                           RateCase{44100, 44100, -1}));

struct ToneCase {
    bool sinc;
    int sincLength;
    int oversampling;
};

class ResamplerTone : public ::testing::TestWithParam<ToneCase> {
protected:
    void Configure(StreamResampler& r, double inRate, double outRate) const {
        ConfigureLikePlugin(r, inRate, outRate);
        const ToneCase c = GetParam();
        if (c.sinc) r.SetMode(false, 0, true, c.sincLength, c.oversampling);
        r.Reset(0);
    }
};

TEST_P(ResamplerTone, RoundTripKeepsAmplitudeAndIgnoresBlockSize) {
    const std::vector<double> in = Sine(1000, 48000, 48000, 2);
    std::vector<double> results[2];
    const int blockSizes[2] = {512, 100};
    for (int k = 0; k < 2; ++k) {
        StreamResampler down, up;
        Configure(down, 48000, 44100);
        Configure(up, 44100, 48000);
        const std::vector<double> mid = Stream(down, in, 2, {blockSizes[k]});
        results[k] = Stream(up, mid, 2, {blockSizes[k]});
    }
    const int frames = static_cast<int>(std::min(results[0].size(), results[1].size()) / 2);
    ASSERT_GT(frames, 40000);
    for (int i = 0; i < 2 * frames; ++i) ASSERT_NEAR(results[0][i], results[1][i], 1e-9) << i;
    // Whole periods of the steady state.
    const int from = 2400, to = from + 48 * 750;
    const double db = 20 * std::log10(Rms(results[0], 2, from, to) / Rms(in, 2, from, to));
    EXPECT_NEAR(db, 0.0, 0.1);
}

TEST_P(ResamplerTone, AttenuatesWhatWouldAlias) {
    const std::vector<double> in = Sine(23000, 48000, 48000, 1);
    StreamResampler r;
    Configure(r, 48000, 44100);
    const std::vector<double> out = Stream(r, in, 1, {512});
    const double db = 20 * std::log10(Rms(out, 1, 4410, 40000) / Rms(in, 1, 0, 48000));
    EXPECT_LT(db, -30.0);
}

INSTANTIATE_TEST_SUITE_P(Modes, ResamplerTone,
                         ::testing::Values(ToneCase{false, 0, 0}, ToneCase{true, 64, 32},
                                           ToneCase{true, 128, 64}));

TEST(StreamResampler, SincAtRatioOneCentresTheFirstInputFrame) {
    StreamResampler r;
    r.SetMode(false, 0, true, 16, 8);
    r.feedMode = true;
    r.SetRates(44100, 44100);
    r.Reset(0);
    const std::vector<double> in = Noise(600, 5);
    const std::vector<double> out = Stream(r, in, 1, {128, 3});
    EXPECT_EQ(r.GetFilterLatency(), 7);
    EXPECT_EQ(r.GetSincTableLength(), 16);
    ASSERT_GT(out.size(), 500u);
    // The table is normalised so its slices sum to one on average; at ratio
    // 1 the taps between the centres vanish, leaving that normalisation gain.
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_NEAR(out[i], in[i], 1e-3 * std::fabs(in[i]) + 1e-12) << i;
}

// The zeros that centre the sinc table go in front of the stream once per
// Reset, also at ratios whose steps leave fewer frames buffered than the
// lead: the stream is the same in any block size, and a Reset starts it anew.
TEST(StreamResampler, SincLeadGoesInFrontOfTheFirstBlockOnly) {
    for (double inRate : {44100.0, 48000.0, 12 * 44100.0, 30 * 44100.0}) {
        StreamResampler r;
        r.SetMode(false, 0, true, 16, 8);
        r.feedMode = true;
        r.SetRates(inRate, 44100);
        r.Reset(0);
        const std::vector<double> in = Noise(6000, 8);
        const std::vector<double> small = Stream(r, in, 1, {5, 3, 11});
        EXPECT_EQ(r.GetFilterLatency(), 7) << inRate;
        r.Reset(0);
        const std::vector<double> large = Stream(r, in, 1, {64});
        EXPECT_EQ(r.GetFilterLatency(), 7) << inRate;
        ASSERT_EQ(small.size(), large.size()) << inRate;
        ASSERT_NEAR(static_cast<double>(small.size()), 6000 * 44100 / inRate, 18) << inRate;
        for (size_t i = 0; i < small.size(); ++i)
            ASSERT_NEAR(small[i], large[i], 1e-9) << inRate << " sample " << i;
    }
}

TEST(StreamResampler, LeavingSincModeFreesTheTable) {
    StreamResampler r;
    r.SetMode(false, 0, true, 32, 4);
    r.feedMode = true;
    r.Reset(0);
    Stream(r, Noise(200, 3), 1, {100});
    ASSERT_EQ(r.GetSincTableLength(), 32);
    r.SetMode(true, 1, false, 0, 0);
    EXPECT_EQ(r.GetSincTableLength(), 0);
    EXPECT_EQ(r.GetSincLength(), 0);
}

TEST(StreamResampler, BadChannelCountsChangeNothing) {
    for (int channels : {0, 65, -1}) {
        StreamResampler r;
        ConfigureLikePlugin(r, 48000, 44100);
        Stream(r, Noise(300, 2), 1, {300});
        const int buffered = r.GetBufferedFrames();
        const double position = r.GetFractionalPosition();
        double* dst = reinterpret_cast<double*>(&r); // any sentinel
        double* const sentinel = dst;
        EXPECT_EQ(r.ResamplePrepare(64, channels, &dst), 0);
        EXPECT_EQ(dst, sentinel);
        double out[8] = {};
        EXPECT_EQ(r.ResampleOut(out, 4, 4, channels), 0);
        EXPECT_EQ(r.GetBufferedFrames(), buffered);
        EXPECT_EQ(r.GetFractionalPosition(), position);
    }
}

// Feeding fewer frames than granted ends the stream: zeros are padded in so
// the last real frames come out, and nothing made of padding alone does.
TEST(StreamResampler, ShortFeedFlushesWithoutPaddingOutputs) {
    struct Case {
        double inRate, outRate;
    };
    for (Case c : {Case{44100, 44100}, Case{48000, 44100}, Case{44100, 48000}}) {
        StreamResampler r;
        r.SetMode(true, 0, false, 0, 0);
        r.feedMode = true;
        r.SetRates(c.inRate, c.outRate);
        r.Reset(0);
        const std::vector<double> in = Noise(140, 9);
        double* dst = nullptr;
        std::vector<double> out(400);
        ASSERT_EQ(r.ResamplePrepare(100, 1, &dst), 100);
        std::copy(in.begin(), in.begin() + 100, dst);
        int total = r.ResampleOut(out.data(), 100, 200, 1);
        ASSERT_EQ(r.ResamplePrepare(100, 1, &dst), 100);
        std::copy(in.begin() + 100, in.end(), dst);
        total += r.ResampleOut(out.data() + total, 40, 200, 1);
        // One output per step of the ratio that starts on a real frame.
        const double ratio = r.GetRatio();
        EXPECT_NEAR(total, 140 / ratio, 1.0) << c.inRate << " -> " << c.outRate;
        if (ratio == 1.0) {
            ASSERT_EQ(total, 140);
            for (int i = 0; i < 140; ++i) EXPECT_EQ(out[i], in[i]) << i;
        }
    }
}

TEST(StreamResampler, OutsideFeedModeGrantsEnoughForTheWantedOutput) {
    StreamResampler r;
    r.SetMode(true, 1, false, 0, 0);
    r.SetRates(48000, 44100);
    r.Reset(0);
    const std::vector<double> in = Sine(440, 48000, 20000, 1);
    std::vector<double> out(512);
    int at = 0, total = 0;
    for (int block = 0; block < 20; ++block) {
        double* dst = nullptr;
        const int granted = r.ResamplePrepare(512, 1, &dst);
        ASSERT_GE(granted, 4);
        std::copy(in.begin() + at, in.begin() + at + granted, dst);
        at += granted;
        const int produced = r.ResampleOut(out.data(), granted, 512, 1);
        EXPECT_EQ(produced, 512) << "block " << block;
        total += produced;
    }
    EXPECT_GT(at, total * r.GetRatio());
}

TEST(StreamResampler, ResetZeroesHistoriesAndKeepsSettings) {
    StreamResampler r;
    ConfigureLikePlugin(r, 48000, 44100);
    const std::vector<double> in = Noise(2000, 4);
    const std::vector<double> first = Stream(r, in, 1, {512});
    r.Reset(0);
    EXPECT_EQ(r.GetBufferedFrames(), 0);
    EXPECT_EQ(r.GetLowPass()->GetHistory(0).y1, 0.0);
    EXPECT_EQ(r.GetRatio(), 48000 / 44100.0);
    EXPECT_TRUE(r.feedMode);
    const std::vector<double> second = Stream(r, in, 1, {512});
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) ASSERT_EQ(first[i], second[i]) << i;
    // A start position that would read before the buffer starts at 0.
    r.Reset(-5);
    EXPECT_EQ(r.GetFractionalPosition(), 0.0);
}

TEST(StreamResampler, TurningTheSectionsOffDeletesTheBank) {
    StreamResampler r;
    ConfigureLikePlugin(r, 48000, 44100);
    Stream(r, Noise(600, 6), 1, {600});
    ASSERT_NE(r.GetLowPass(), nullptr);
    r.SetMode(true, 0, false, 0, 0);
    EXPECT_EQ(r.GetLowPass(), nullptr);
}

// After the largest block has been seen, no block allocates: plug-in
// settings in both directions, mono and stereo, and a sinc mode.
TEST(StreamResampler, BlocksAllocateNothingOnceWarm) {
    struct Case {
        double inRate, outRate;
        int channels;
        bool sinc;
    };
    for (Case c : {Case{48000, 44100, 1, false}, Case{44100, 48000, 1, false},
                   Case{96000, 44100, 2, false}, Case{48000, 44100, 2, true}}) {
        StreamResampler r;
        ConfigureLikePlugin(r, c.inRate, c.outRate);
        if (c.sinc) r.SetMode(false, 0, true, 32, 16);
        r.Reset(0);
        std::vector<double> block(2048 * c.channels, 0.25);
        std::vector<double> out(8192 * c.channels);
        auto run = [&](int n) {
            double* dst = nullptr;
            const int granted = r.ResamplePrepare(n, c.channels, &dst);
            std::copy(block.begin(), block.begin() + granted * c.channels, dst);
            r.ResampleOut(out.data(), granted, 8192, c.channels);
        };
        for (int i = 0; i < 4; ++i) run(2048);
        testsupport::AllocCounter counter;
        for (int n : {2048, 17, 512, 1, 2048, 1000}) run(n);
        EXPECT_EQ(counter.Count(), 0)
            << c.inRate << " -> " << c.outRate << " channels " << c.channels;
    }
}

// Reserve grants the room of the largest block ahead: the very first blocks
// allocate nothing, and the stream is the one an unreserved resampler gives.
TEST(StreamResampler, ReserveMakesTheFirstBlocksAllocationFree) {
    struct Case {
        double inRate, outRate;
        int channels;
        bool sinc, feed;
    };
    for (Case c : {Case{48000, 44100, 1, false, true}, Case{22050, 44100, 1, false, true},
                   Case{96000, 44100, 2, false, true}, Case{48000, 44100, 2, true, true},
                   Case{44100, 96000, 1, false, false}, Case{44100, 32000, 2, true, false}}) {
        SCOPED_TRACE(testing::Message()
                     << c.inRate << " -> " << c.outRate << " channels " << c.channels
                     << (c.sinc ? " sinc" : "") << (c.feed ? " feed" : ""));
        StreamResampler reserved, plain;
        for (StreamResampler* r : {&reserved, &plain}) {
            ConfigureLikePlugin(*r, c.inRate, c.outRate);
            if (c.sinc) r->SetMode(false, 0, true, 32, 16);
            r->feedMode = c.feed;
            r->Reset(0);
        }
        reserved.Reserve(2048, c.channels);
        const std::vector<double> in = Sine(1000.0, c.inRate, 2048 * 8, c.channels);
        std::vector<double> out[2];
        for (std::vector<double>& o : out) o.assign(static_cast<size_t>(8192) * c.channels, 0.0);
        int at = 0;
        testsupport::AllocCounter counter;
        int64_t allocations = 0;
        for (int n : {2048, 17, 512, 1, 2048, 1000, 2048, 64}) {
            int produced[2] = {0, 0}, granted[2] = {0, 0};
            int i = 0;
            for (StreamResampler* r : {&reserved, &plain}) {
                counter.Reset();
                double* dst = nullptr;
                granted[i] = r->ResamplePrepare(n, c.channels, &dst);
                ASSERT_GT(granted[i], 0);
                ASSERT_LE((at + granted[i]) * c.channels, static_cast<int>(in.size()));
                std::copy(in.begin() + static_cast<long>(at) * c.channels,
                          in.begin() + static_cast<long>(at + granted[i]) * c.channels, dst);
                produced[i] = r->ResampleOut(out[i].data(), granted[i], 8192, c.channels);
                if (r == &reserved) allocations += counter.Count();
                ++i;
            }
            ASSERT_EQ(granted[0], granted[1]);
            ASSERT_EQ(produced[0], produced[1]);
            ASSERT_TRUE(std::equal(out[0].begin(), out[0].begin() + produced[0] * c.channels,
                                   out[1].begin()));
            ASSERT_EQ(reserved.GetBufferedFrames(), plain.GetBufferedFrames());
            at += granted[0];
        }
        EXPECT_EQ(allocations, 0);
    }
}

TEST(ResamplerBiquad, ZeroAndSubnormalResultsBecomePositiveZero) {
    ResamplerBiquad f;
    f.Configure(0.5, 0.707);
    const double in[4] = {1e-310, -1e-310, 0.0, -0.0};
    double out[4] = {1, 1, 1, 1};
    f.Run(in, out, 4, 1, 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(out[i], 0.0) << i;
        EXPECT_FALSE(std::signbit(out[i])) << i;
    }
    EXPECT_EQ(f.GetHistory(0).y1, 0.0);
    EXPECT_EQ(f.GetHistory(0).y2, 0.0);
}

TEST(ResamplerBiquad, PassesDcStopsNyquistAndHalvesPowerAtTheCutoff) {
    for (double p : {0.1, 0.3, 0.6367, 0.9}) {
        ResamplerBiquad f;
        f.Configure(p, std::sqrt(0.5));
        std::vector<double> s(4000);
        for (size_t i = 0; i < s.size(); ++i) s[i] = 1.0;
        f.Run(s.data(), s.data(), 4000, 1, 0);
        EXPECT_NEAR(s.back(), 1.0, 1e-9) << p;
        for (size_t i = 0; i < s.size(); ++i) s[i] = (i % 2) ? -1.0 : 1.0;
        f.Run(s.data(), s.data(), 4000, 1, 1);
        EXPECT_NEAR(s.back(), 0.0, 1e-9) << p;
        for (size_t i = 0; i < s.size(); ++i) s[i] = std::sin(kPi * p * i);
        f.Run(s.data(), s.data(), 4000, 1, 2);
        EXPECT_NEAR(Rms(s, 1, 2000, 4000), std::sqrt(0.5) * std::sqrt(0.5), 2e-3) << p;
    }
}

TEST(ResamplerBiquad, HistorySetsAreIndependentAndQChangesApply) {
    ResamplerBiquad f;
    f.Configure(0.4, 0.707);
    std::vector<double> a = Noise(64, 11), b = a;
    std::vector<double> interleaved(128);
    for (int i = 0; i < 64; ++i) interleaved[2 * i] = interleaved[2 * i + 1] = a[i];
    f.Run(a.data(), a.data(), 64, 1, 5);
    f.Run(interleaved.data(), interleaved.data(), 64, 2, 6);
    f.Run(interleaved.data() + 1, interleaved.data() + 1, 64, 2, 7);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(interleaved[2 * i], a[i]);
        ASSERT_EQ(interleaved[2 * i + 1], a[i]);
    }
    // The stereo loop against the plain one, in two calls to carry history.
    std::vector<double> stereo(128), plain(128);
    const std::vector<double> noise = Noise(128, 12);
    stereo = plain = noise;
    f.RunStereo(stereo.data(), 40, 8, 9);
    f.RunStereo(stereo.data() + 80, 24, 8, 9);
    f.Run(plain.data(), plain.data(), 64, 2, 10);
    f.Run(plain.data() + 1, plain.data() + 1, 64, 2, 11);
    EXPECT_EQ(stereo, plain);
    // Same position, new Q: the response must change.
    f.Configure(0.4, 3.0);
    f.ClearHistories();
    f.Run(b.data(), b.data(), 64, 1, 5);
    EXPECT_NE(a, b);
}

} // namespace

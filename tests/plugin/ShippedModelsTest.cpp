// The model files the plug-in ships (plugin/resources, read from the
// repository root where the tests run): they load, each gives its stem a
// share of a mix, the four shares add up to the mix, and a prepared chain
// running them allocates nothing.
#include "framework/IGraphicsFolder.h"
#include "plugin/StemvoltaOfflineHost.h"
#include "tests/plugin/StemvoltaTestHost.h"
#include "tests/support/AllocCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using testmodels::HostBlock;

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 44100.0;
constexpr int kLatency = 2560;

std::unique_ptr<StemvoltaOfflineHost> MakeShippedPlug() {
    return std::make_unique<StemvoltaOfflineHost>(new IGraphicsFolder("plugin/resources"));
}

// A few seconds of something like music, below 12 kHz: a bass note, a
// chord, a hi-hat of decaying inharmonic partials on each beat and a voice-like tone with
// vibrato and harmonics. Channel 1 is a little quieter than channel 0.
double Song(int channel, long t) {
    const double s = t / kRate;
    double v = 0.3 * std::sin(2 * kPi * 55.0 * s);
    for (double f : {220.0, 277.2, 329.6}) v += 0.08 * std::sin(2 * kPi * f * s);
    const double vibrato = 440.0 * (1.0 + 0.01 * std::sin(2 * kPi * 5.5 * s));
    for (int h = 1; h <= 6; ++h) v += 0.12 / h * std::sin(2 * kPi * h * vibrato * s);
    const long beat = static_cast<long>(kRate / 2);
    const double decay = std::exp(-40.0 * static_cast<double>(t % beat) / kRate);
    for (double f : {3150.0, 4410.0, 5777.0, 7351.0, 9120.0}) v += 0.05 * decay * std::sin(2 * kPi * f * s);
    return channel ? 0.8 * v : v;
}

// Plays `blocks` blocks of 512 frames of the song; returns the output.
std::vector<std::vector<double>> Play(StemvoltaOfflineHost& plug, int blocks) {
    return testmodels::PlaySource(plug, 2, 512, blocks, Song).out;
}

double Energy(const std::vector<double>& v, size_t from) {
    double e = 0.0;
    for (size_t i = from; i < v.size(); ++i) e += v[i] * v[i];
    return e;
}

TEST(ShippedModelsTest, EachStemGetsAShareAndTheSharesAddUpToTheMix) {
    constexpr int kBlocks = 200; // about 2.3 s
    auto whole = MakeShippedPlug();
    whole->Start(kRate, 512, 2);
    const auto mix = Play(*whole, kBlocks);
    // With every stem at 0 dB the soft masks, divided by their sum, give
    // each bin back whole: the output is the input delayed.
    double peak = 0.0, worst = 0.0;
    for (long t = 2 * kLatency; t < static_cast<long>(mix[0].size()); ++t) {
        peak = std::max(peak, std::fabs(Song(0, t - kLatency)));
        worst = std::max(worst, std::fabs(mix[0][t] - Song(0, t - kLatency)));
    }
    EXPECT_LT(worst, 1e-3 * peak);

    const size_t from = 2 * kLatency;
    std::vector<double> sum(mix[0].size(), 0.0);
    for (int stem = 0; stem < 4; ++stem) {
        SCOPED_TRACE("stem " + std::to_string(stem));
        auto solo = MakeShippedPlug();
        solo->Start(kRate, 512, 2);
        for (int other = 0; other < 4; ++other)
            if (other != stem) solo->SetParam(Stemvolta::kVocal + other, -120.0);
        const auto share = Play(*solo, kBlocks);
        for (double x : share[0]) ASSERT_TRUE(std::isfinite(x));
        // A model that failed to load or to predict leaves its stem silent.
        EXPECT_GT(Energy(share[0], from), 1e-4 * Energy(mix[0], from));
        for (size_t i = 0; i < sum.size(); ++i) sum[i] += share[0][i];
    }
    // The three muted stems keep 1e-6 of their shares each.
    double err = 0.0;
    for (size_t i = from; i < sum.size(); ++i) err = std::max(err, std::fabs(sum[i] - mix[0][i]));
    EXPECT_LT(err, 1e-4 * peak);
}

// The shipped networks' layers (the logarithm lookup among them) reuse
// their buffers: once the chain is prepared for the host's largest block,
// blocks of that size and much smaller ones allocate nothing.
TEST(ShippedModelsTest, PreparedChainAllocatesNothing) {
    auto plug = MakeShippedPlug();
    plug->Start(48000.0, 4096, 2);
    HostBlock small(2, 64), large(2, 4096);
    long t = 0;
    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter counter;
    for (int b = 0; b < 40; ++b) {
        HostBlock& host = b % 2 ? large : small;
        const int n = static_cast<int>(host.in[0].size());
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i) host.in[c][i] = Song(c, t + i);
        t += n;
        counter.Reset();
        host.Process(*plug);
        EXPECT_EQ(0, counter.Count()) << "block " << b;
    }
    EXPECT_EQ(threads, testsupport::ThreadCount());
}

} // namespace

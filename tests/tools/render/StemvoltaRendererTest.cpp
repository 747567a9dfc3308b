#include "tools/render/StemvoltaRenderer.h"

#include "tests/plugin/ModelFileWriter.h"
#include "tests/plugin/TestResources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using testmodels::TestResources;
using ChannelList = StemvoltaRenderer::ChannelList;

constexpr double kPi = 3.14159265358979323846;
// The first samples are covered by fewer overlapping frames (and the first
// block is faded in): they are not compared.
constexpr int kSettle = 4096;

// Raised-cosine ramp over the last 2048 samples: a sound that stops dead
// spreads into the top bins, which the masks always remove.
double FadeOut(int t, int length) {
    const int left = length - 1 - t;
    return left >= 2048 ? 1.0 : 0.5 - 0.5 * std::cos(kPi * left / 2048.0);
}

// A stereo mix band-limited below 20 kHz that fades out at its end; channel
// 1 differs from channel 0.
ChannelList MakeMix(int channels, int length, double rate) {
    static const double kHz[] = {220.0, 1234.5, 5000.0, 12000.0};
    static const double kAmp[] = {0.3, 0.2, 0.15, 0.1};
    ChannelList mix(channels);
    for (int c = 0; c < channels; ++c) {
        mix[c].Resize(length);
        for (int t = 0; t < length; ++t) {
            double v = 0.0;
            for (int i = 0; i < 4; ++i)
                v += kAmp[i] * std::sin(2 * kPi * kHz[i] * t / rate + c + i);
            mix[c][t] = v * FadeOut(t, length);
        }
    }
    return mix;
}

// Largest |out - gain * in| over the settled samples of every channel.
double MaxError(const ChannelList& in, const ChannelList& out, double gain) {
    double worst = 0.0;
    for (size_t c = 0; c < in.size(); ++c)
        for (int t = kSettle; t < in[c].GetSize(); ++t)
            worst = std::max(worst, std::fabs(out[c][t] - gain * in[c][t]));
    return worst;
}

void WriteModels(TestResources& resources, const std::vector<float>& masks) {
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(resources.SetModel(k, testmodels::ConstantMaskModel(masks[k])));
}

struct GainCase {
    const char* name;
    std::vector<float> masks; // stem k's mask is masks[k] everywhere
    std::array<double, 4> levelsDb;
    double softHard; // %
    double gain;     // expected output / input
};

class RendererGainTest : public ::testing::TestWithParam<GainCase> {};

// The rendered sound is the input scaled by the masks and levels, sample for
// sample: the latency is gone and the tail is complete.
TEST_P(RendererGainTest, OutputIsTheAlignedScaledInput) {
    const GainCase& c = GetParam();
    TestResources resources;
    WriteModels(resources, c.masks);
    RenderSettings settings;
    settings.modelsDir = resources.Folder();
    settings.levelsDb = c.levelsDb;
    settings.softHard = c.softHard;
    const ChannelList in = MakeMix(2, 30000, 44100.0);
    ChannelList out;
    std::string error;
    StemvoltaRenderer renderer(settings);
    ASSERT_TRUE(renderer.Render(in, 44100.0, out, nullptr, error)) << error;
    EXPECT_EQ(2560, renderer.GetLatency());
    ASSERT_EQ(2u, out.size());
    ASSERT_EQ(in[0].GetSize(), out[0].GetSize());
    ASSERT_EQ(in[1].GetSize(), out[1].GetSize());
    EXPECT_LT(MaxError(in, out, c.gain), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, RendererGainTest,
    ::testing::Values(
        GainCase{"AllStemsAtZeroDb", {1, 1, 1, 1}, {0, 0, 0, 0}, 0, 1.0},
        GainCase{"SoloOfTheOnlyStem", {1, 0, 0, 0}, {0, -120, -120, -120}, 0, 1.0},
        GainCase{"SoloOfOneOfFourEqualStems", {1, 1, 1, 1}, {-120, 0, -120, -120}, 0, 0.25},
        GainCase{"SoloOfAnEmptyStem", {0, 1, 0, 0}, {0, -120, -120, -120}, 0, 0.0},
        GainCase{
            "PlusSixDb", {0, 0, 1, 0}, {-120, -120, 6, -120}, 0, std::exp(6 * 0.1151292546497)},
        GainCase{
            "HardTakesTheLargestMask", {0.2f, 0.9f, 0.5f, 0.1f}, {-120, 0, -120, -120}, 100, 1.0},
        GainCase{"HalfSoftHalfHard",
                 {0.2f, 0.9f, 0.5f, 0.1f},
                 {-120, 0, -120, -120},
                 50,
                 0.5 * (0.9 / 1.7) + 0.5}),
    [](const ::testing::TestParamInfo<GainCase>& info) { return std::string(info.param.name); });

// The host block size changes how the sound is cut, not the result.
TEST(RendererTest, BlockSizeDoesNotChangeTheResult) {
    TestResources resources;
    WriteModels(resources, {0.3f, 0.6f, 0.2f, 0.9f});
    const ChannelList in = MakeMix(2, 20011, 44100.0);
    RenderSettings settings;
    settings.modelsDir = resources.Folder();
    settings.levelsDb = {0, -6, -120, 3};
    ChannelList reference;
    std::string error;
    ASSERT_TRUE(StemvoltaRenderer(settings).Render(in, 44100.0, reference, nullptr, error))
        << error;
    for (int block : {64, 441, 1000, 4096}) {
        settings.blockSize = block;
        ChannelList out;
        ASSERT_TRUE(StemvoltaRenderer(settings).Render(in, 44100.0, out, nullptr, error)) << error;
        ASSERT_EQ(reference[0].GetSize(), out[0].GetSize()) << block;
        EXPECT_LT(MaxError(reference, out, 1.0), 1e-9) << "block " << block;
    }
}

// One channel in, one channel out, and away from 44100 Hz the sound stays in
// place: the rate converters add only a sample or two of their own delay
// beyond the reported latency (a misplaced block would leave an error of the
// signal's own size).
TEST(RendererTest, MonoAndOtherRates) {
    TestResources resources;
    WriteModels(resources, {1, 1, 1, 1});
    RenderSettings settings;
    settings.modelsDir = resources.Folder();
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        ChannelList in(1);
        in[0].Resize(static_cast<int>(rate));
        for (int t = 0; t < in[0].GetSize(); ++t)
            in[0][t] = (0.5 * std::sin(2 * kPi * 200.0 * t / rate) +
                        0.3 * std::sin(2 * kPi * 700.0 * t / rate + 1.0)) *
                       FadeOut(t, in[0].GetSize());
        ChannelList out;
        std::string error;
        ASSERT_TRUE(StemvoltaRenderer(settings).Render(in, rate, out, nullptr, error)) << error;
        ASSERT_EQ(1u, out.size());
        ASSERT_EQ(in[0].GetSize(), out[0].GetSize());
        double err = 0.0, sig = 0.0;
        for (int t = kSettle * 3; t < in[0].GetSize(); ++t) {
            err += (out[0][t] - in[0][t]) * (out[0][t] - in[0][t]);
            sig += in[0][t] * in[0][t];
        }
        EXPECT_LT(err, 1e-2 * sig) << rate;
    }
}

TEST(RendererTest, BadInputAndMissingModelsFailCleanly) {
    TestResources resources;
    WriteModels(resources, {1, 1, 1, 1});
    TestResources noModels;
    TestResources threeModels;
    for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(threeModels.SetModel(k, testmodels::ConstantMaskModel(1.0f)));
    ASSERT_TRUE(threeModels.SetCorruptModel(3));

    struct Case {
        const char* name;
        std::string models;
        int channels;
        int secondLength;
        double rate;
        int block;
        const char* message;
    };
    const Case cases[] = {
        {"no models", noModels.Folder(), 2, 1000, 44100, 512, "dnn-model-source0.model"},
        {"corrupt model", threeModels.Folder(), 2, 1000, 44100, 512, "dnn-model-source3.model"},
        {"missing folder", "/nonexistent/models", 2, 1000, 44100, 512, "cannot load"},
        {"no channel", resources.Folder(), 0, 0, 44100, 512, "one or two channels"},
        {"three channels", resources.Folder(), 3, 1000, 44100, 512, "one or two channels"},
        {"unequal channels", resources.Folder(), 2, 999, 44100, 512, "differ in length"},
        {"zero rate", resources.Folder(), 2, 1000, 0, 512, "sample rate"},
        {"zero block", resources.Folder(), 2, 1000, 44100, 0, "block size"},
    };
    for (const Case& c : cases) {
        ChannelList in(c.channels);
        for (int ch = 0; ch < c.channels; ++ch) in[ch].Resize(ch == 1 ? c.secondLength : 1000);
        RenderSettings settings;
        settings.modelsDir = c.models;
        settings.blockSize = c.block;
        ChannelList out;
        std::string error;
        EXPECT_FALSE(StemvoltaRenderer(settings).Render(in, c.rate, out, nullptr, error)) << c.name;
        EXPECT_NE(std::string::npos, error.find(c.message)) << c.name << ": " << error;
    }
}

// An empty sound renders to an empty sound.
TEST(RendererTest, EmptyInput) {
    TestResources resources;
    WriteModels(resources, {1, 1, 1, 1});
    RenderSettings settings;
    settings.modelsDir = resources.Folder();
    ChannelList in(2), out;
    std::string error;
    ASSERT_TRUE(StemvoltaRenderer(settings).Render(in, 44100.0, out, nullptr, error)) << error;
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(0, out[0].GetSize());
}

} // namespace

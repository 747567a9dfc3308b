#include "tools/render/OracleMaskSource.h"

#include "tests/plugin/ModelFileWriter.h"
#include "tests/plugin/TestResources.h"
#include "toolkit/AudioFile.h"
#include "tools/render/StemvoltaRenderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using testmodels::TestResources;
using ChannelList = StemvoltaRenderer::ChannelList;
using Stems = std::array<KIT_TypedBuf<double>, OracleMaskSource::kNumStems>;

// Half-spectrum magnitudes of the four stems, each constant over its bins.
Stems FlatMagnitudes(const std::array<double, 4>& levels) {
    Stems m;
    for (int k = 0; k < 4; ++k) {
        m[k].Resize(1024);
        for (int i = 0; i < 1024; ++i) m[k][i] = levels[k];
    }
    return m;
}

TEST(OracleMaskSourceTest, IdealMasksAreOneHotWithTiesToTheLowerStem) {
    struct Case {
        std::array<double, 4> levels;
        int winner;
    };
    const Case cases[] = {{{1, 2, 3, 4}, 3},
                          {{4, 3, 2, 1}, 0},
                          {{1, 5, 5, 2}, 1},
                          {{0, 0, 0, 0}, 0},
                          {{0, 0, 7, 7}, 2}};
    for (const Case& c : cases) {
        OracleMaskSource::MelMasks masks;
        OracleMaskSource::IdealMelMasks(FlatMagnitudes(c.levels), masks);
        for (int k = 0; k < 4; ++k) {
            ASSERT_EQ(MaskPredictor::kMaskMelBins, masks[k].GetSize());
            for (int b = 0; b < masks[k].GetSize(); ++b)
                ASSERT_EQ(k == c.winner ? 1.0 : 0.0, masks[k][b]) << k << " " << b;
        }
    }

    // Per bin at the mel resolution: stem 1 wins the low bins, stem 2 the high.
    Stems m = FlatMagnitudes({0, 0, 0, 0});
    for (int i = 0; i < 1024; ++i) (i < 100 ? m[1][i] : m[2][i]) = 1.0;
    OracleMaskSource::MelMasks masks;
    OracleMaskSource::IdealMelMasks(m, masks);
    EXPECT_EQ(1.0, masks[1][0]);
    EXPECT_EQ(0.0, masks[2][0]);
    EXPECT_EQ(0.0, masks[1][255]);
    EXPECT_EQ(1.0, masks[2][255]);
}

// Unit u = sigmoid(gain * (mel bin u of frame `plus` - of frame `minus`)):
// about 1 where that frame is the louder, 0 where it is the quieter.
testmodels::ModelFileWriter FrameComparison(int plus, int minus) {
    const int inputs = 1024, units = 256;
    std::vector<float> weights(static_cast<size_t>(inputs) * units, 0.0f);
    for (int u = 0; u < units; ++u) {
        weights[static_cast<size_t>(u) * inputs + plus * units + u] = 1e6f;
        weights[static_cast<size_t>(u) * inputs + minus * units + u] = -1e6f;
    }
    testmodels::ModelFileWriter w;
    w.Dense(units, inputs, weights, std::vector<float>(units, 0.0f), testmodels::kSigmoid);
    return w;
}

// Stem 0 is the sound and stem 1 the sound one hop (512 samples) later, so
// the ideal masks compare each frame of the sound with the one before. The
// same comparison made by networks on the predictor's own history (newest
// frame against the previous one) renders the same result only when the
// oracle's frames are the plug-in's, silent lead-in blocks included.
TEST(OracleMaskSourceTest, FramesLineUpWithThePluginsFrames) {
    constexpr int kLead = 5 * 512 + 100; // the first five blocks bypass the chain
    constexpr int kLength = 60000;
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 0.2);
    ChannelList mix(2);
    for (KIT_TypedBuf<double>& c : mix) c.Resize(kLength);
    for (int t = kLead; t < kLength; ++t) {
        // Bursts of noise whose level changes every 700 samples.
        const double level = 0.2 + 0.8 * ((t / 700) % 3) / 2.0;
        mix[0][t] = mix[1][t] = level * noise(rng);
    }
    Stems stems;
    for (KIT_TypedBuf<double>& s : stems) s.Resize(kLength);
    for (int t = 0; t < kLength; ++t) {
        stems[0][t] = mix[0][t];
        stems[1][t] = t >= 512 ? mix[0][t - 512] : 0.0;
    }

    TestResources resources;
    ASSERT_TRUE(resources.SetModel(0, FrameComparison(3, 2)));
    ASSERT_TRUE(resources.SetModel(1, FrameComparison(2, 3)));
    ASSERT_TRUE(resources.SetModel(2, testmodels::ConstantMaskModel(0.0f)));
    ASSERT_TRUE(resources.SetModel(3, testmodels::ConstantMaskModel(0.0f)));
    RenderSettings settings;
    settings.modelsDir = resources.Folder();
    settings.levelsDb = {0, -120, -120, -120};

    std::string error;
    ChannelList byNetworks, byOracle;
    ASSERT_TRUE(StemvoltaRenderer(settings).Render(mix, 44100.0, byNetworks, nullptr, error))
        << error;
    OracleMaskSource oracle(std::move(stems));
    ASSERT_TRUE(StemvoltaRenderer(settings).Render(mix, 44100.0, byOracle, &oracle, error))
        << error;
    EXPECT_EQ(0, oracle.GetMissedFrames());

    // Away from the first frames (whose history differs) the two agree, up to
    // the near-ties that the networks' 32-bit inputs decide otherwise (about
    // 0.2 % of the energy; stems shifted by 100 samples leave 9 %). The solo
    // keeps a fair share of the sound, so agreement is no accident.
    double diff = 0.0, kept = 0.0, sound = 0.0;
    for (int t = kLead + 8192; t < kLength; ++t) {
        diff += std::pow(byOracle[0][t] - byNetworks[0][t], 2);
        kept += byOracle[0][t] * byOracle[0][t];
        sound += mix[0][t] * mix[0][t];
    }
    EXPECT_GT(kept, 0.1 * sound);
    EXPECT_LT(diff, 1e-2 * kept);
}

// Tones in disjoint bands: the ideal masks take each stem out of the mix.
TEST(OracleMaskSourceTest, SeparatesStemsInDisjointBands) {
    constexpr int kLength = 44100;
    const double hz[4] = {3000.0, 110.0, 9000.0, 700.0};
    Stems stems;
    ChannelList mix(1);
    mix[0].Resize(kLength);
    for (int t = 0; t < kLength; ++t) mix[0][t] = 0.0;
    for (int k = 0; k < 4; ++k) {
        stems[k].Resize(kLength);
        for (int t = 0; t < kLength; ++t) {
            stems[k][t] = 0.2 * std::sin(2 * 3.14159265358979 * hz[k] * t / 44100.0 + k);
            mix[0][t] += stems[k][t];
        }
    }
    const Stems reference = [&] {
        Stems copy;
        for (int k = 0; k < 4; ++k) copy[k].CopyFrom(stems[k]);
        return copy;
    }();
    OracleMaskSource oracle(std::move(stems));
    for (int solo = 0; solo < 4; ++solo) {
        RenderSettings settings;
        settings.modelsDir = "/nonexistent"; // no networks needed
        for (int k = 0; k < 4; ++k) settings.levelsDb[k] = k == solo ? 0.0 : -120.0;
        // A fresh source per render: its stream starts with the render.
        Stems copy;
        for (int k = 0; k < 4; ++k) copy[k].CopyFrom(reference[k]);
        OracleMaskSource source(std::move(copy));
        ChannelList out;
        std::string error;
        ASSERT_TRUE(StemvoltaRenderer(settings).Render(mix, 44100.0, out, &source, error)) << error;
        double err = 0.0, sig = 0.0;
        for (int t = 4096; t < kLength; ++t) {
            err += std::pow(out[0][t] - reference[solo][t], 2);
            sig += reference[solo][t] * reference[solo][t];
        }
        EXPECT_GT(10 * std::log10(sig / err), 20.0) << "stem " << solo;
    }

    // Oracle masks are only framed at the plug-in's STFT rate.
    ChannelList out;
    std::string error;
    EXPECT_FALSE(StemvoltaRenderer(RenderSettings()).Render(mix, 48000.0, out, &oracle, error));
    EXPECT_NE(std::string::npos, error.find("44100")) << error;
}

TEST(OracleMaskSourceTest, LoadNeedsFourStemsAt44100Hz) {
    char pattern[] = "/tmp/stemvolta-oracle-XXXXXX";
    const char* made = mkdtemp(pattern);
    ASSERT_TRUE(made);
    const std::string folder = made;
    const char* names[4] = {"vocals.wav", "bass.wav", "drums.wav", "other.wav"};
    const auto write = [&](int k, double rate) {
        AudioFile::ChannelList channels(2);
        for (KIT_TypedBuf<double>& c : channels) {
            c.Resize(100);
            for (int t = 0; t < 100; ++t) c[t] = 0.01 * t;
        }
        return AudioFile(2, AudioFile::kFormatFromExtension, &channels, rate)
            .Save((folder + "/" + names[k]).c_str());
    };
    std::string error;
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(write(k, 44100.0));
    EXPECT_FALSE(OracleMaskSource::Load(folder, error));
    EXPECT_NE(std::string::npos, error.find("other.wav")) << error;
    ASSERT_TRUE(write(3, 48000.0));
    EXPECT_FALSE(OracleMaskSource::Load(folder, error));
    EXPECT_NE(std::string::npos, error.find("44100")) << error;
    ASSERT_TRUE(write(3, 44100.0));
    EXPECT_TRUE(OracleMaskSource::Load(folder, error)) << error;
    for (const char* name : names) std::remove((folder + "/" + name).c_str());
    rmdir(folder.c_str());
}

} // namespace

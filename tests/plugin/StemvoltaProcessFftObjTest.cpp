#include "plugin/StemvoltaProcessFftObj.h"

#include "plugin/MaskPredictor.h"
#include "tests/plugin/ModelFileWriter.h"
#include "tests/plugin/TestResources.h"
#include "tests/support/AllocCounter.h"
#include "toolkit/DspUtils.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

using testmodels::TestResources;

constexpr int kFrame = 2048;
constexpr int kHalf = kFrame / 2;
// Bins from here on have masks of 0 (the mel mapping's fill).
constexpr int kFirstZeroMaskBin = kHalf - 5;

KIT_TypedBuf<ComplexValue> MakeSpectrum() {
    KIT_TypedBuf<ComplexValue> s;
    s.Resize(kFrame);
    for (int i = 0; i < kFrame; ++i) {
        const double a = 1.0 / (1.0 + 0.02 * i);
        s[i] = {a * std::cos(0.37 * i + 0.2), a * std::sin(0.37 * i + 0.2)};
    }
    return s;
}

std::complex<double> Bin(const KIT_TypedBuf<ComplexValue>& s, int i) {
    return {s[i].re, s[i].im};
}

// A predictor whose four masks are the constants m (every bin below the top
// five), a processor reading it, and one frame run through both.
class MaskedFrame {
public:
    explicit MaskedFrame(const std::array<float, 4>& m) {
        for (int k = 0; k < 4; ++k) resources.SetModel(k, testmodels::ConstantMaskModel(m[k]));
        graphics.reset(resources.NewGraphics());
        predictor = std::make_unique<MaskPredictor>(kFrame, graphics.get(), 4, 1, 44100.0);
        processor = std::make_unique<StemvoltaProcessFftObj>(kFrame, predictor.get());
        input = MakeSpectrum();
        MultichannelProcess::SpectrumBufs mains{&input};
        predictor->ProcessSpectrum(mains, nullptr);
    }
    KIT_TypedBuf<ComplexValue> Run() {
        KIT_TypedBuf<ComplexValue> s = MakeSpectrum();
        processor->ProcessSpectrum(&s, nullptr);
        return s;
    }
    void Set(const std::array<double, 4>& gains, const std::array<double, 4>& thresholds,
             double softHard) {
        for (int k = 0; k < 4; ++k) {
            processor->SetStemGain(k, gains[k]);
            processor->SetStemThreshold(k, thresholds[k]);
        }
        processor->SetSoftHard(softHard);
    }

    TestResources resources;
    std::unique_ptr<IGraphics> graphics;
    std::unique_ptr<MaskPredictor> predictor;
    std::unique_ptr<StemvoltaProcessFftObj> processor;
    KIT_TypedBuf<ComplexValue> input;
};

void ExpectConjugateSymmetric(const KIT_TypedBuf<ComplexValue>& s) {
    EXPECT_EQ(0.0, s[kHalf].re);
    EXPECT_EQ(0.0, s[kHalf].im);
    for (int j = 1; j < kHalf; ++j) {
        ASSERT_EQ(s[kHalf - j].re, s[kHalf + j].re) << j;
        ASSERT_EQ(-s[kHalf - j].im, s[kHalf + j].im) << j;
    }
}

TEST(StemvoltaProcessFftObjTest, UnityGainsPassTheFrameUnchanged) {
    MaskedFrame frame({0.1f, 0.2f, 0.3f, 0.4f});
    frame.Set({1, 1, 1, 1}, {0, 0, 0, 0}, 0.0);
    const KIT_TypedBuf<ComplexValue> out = frame.Run();
    ASSERT_EQ(kFrame, out.GetSize());
    for (int i = 0; i < kFirstZeroMaskBin; ++i) {
        ASSERT_NEAR(Bin(frame.input, i).real(), Bin(out, i).real(), 1e-13) << i;
        ASSERT_NEAR(Bin(frame.input, i).imag(), Bin(out, i).imag(), 1e-13) << i;
    }
    for (int i = kFirstZeroMaskBin; i <= kHalf; ++i) EXPECT_EQ(0.0, std::abs(Bin(out, i))) << i;
    ExpectConjugateSymmetric(out);
}

struct BinCase {
    const char* name;
    std::array<float, 4> masks;
    std::array<double, 4> gains;
    std::array<double, 4> thresholds;
    double softHard;
    double factor; // expected output magnitude / input magnitude
};

class StemvoltaMaskTableTest : public ::testing::TestWithParam<BinCase> {};

TEST_P(StemvoltaMaskTableTest, GainFactorAndPhase) {
    const BinCase& c = GetParam();
    MaskedFrame frame(c.masks);
    frame.Set(c.gains, c.thresholds, c.softHard);
    const KIT_TypedBuf<ComplexValue> out = frame.Run();
    for (int i = 0; i < kFirstZeroMaskBin; i += 37) {
        const std::complex<double> in = Bin(frame.input, i);
        const std::complex<double> got = Bin(out, i);
        ASSERT_NEAR(c.factor * std::abs(in), std::abs(got), 1e-12 * (1.0 + c.factor)) << i;
        if (std::abs(got) > 0.0) {
            ASSERT_NEAR(0.0, std::arg(got / in), 1e-12) << i;
        }
    }
    ExpectConjugateSymmetric(out);
}

INSTANTIATE_TEST_SUITE_P(
    HandMadeBins, StemvoltaMaskTableTest,
    ::testing::Values(
        // Masks all 0: nothing to divide by, nothing wins.
        BinCase{"AllZeroSoft", {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}, 0.0, 0.0},
        BinCase{"AllZeroHard", {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}, 1.0, 0.0},
        // Soft: normalised masks weight the gains: (0.5 * 2 + 1 * 3 + 0.5 * 4) / 2.
        BinCase{"SoftNormalises", {0.5f, 1.0f, 0.5f, 0}, {2, 3, 4, 5}, {0, 0, 0, 0}, 0.0, 3.0},
        // Ties go to the lower stem.
        BinCase{"TieStems0And1", {0.5f, 0.5f, 0, 0}, {2, 3, 1, 1}, {0, 0, 0, 0}, 1.0, 2.0},
        BinCase{"TieStems1And2", {0.1f, 0.6f, 0.6f, 0}, {1, 2, 3, 4}, {0, 0, 0, 0}, 1.0, 2.0},
        BinCase{"HardLargestWins", {0.1f, 0.2f, 0.05f, 0.3f}, {1, 2, 3, 4}, {0, 0, 0, 0}, 1.0, 4.0},
        // m0 below 1e-10 with the others no larger: hard gives 0 despite gain0;
        // soft leaves the tiny sum unnormalised.
        BinCase{"TinyStem0Hard", {5e-11f, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}, 1.0, 0.0},
        BinCase{"TinyStem0Soft", {5e-11f, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}, 0.0, 5e-11},
        // Sensitivity 0 % (threshold 1): only a stem reaching 1 survives, and
        // only when it stays at 1 after normalisation.
        BinCase{"ZeroSensitivityOneStem",
                {1.2f, 0.5f, 0.8f, 0.2f},
                {0.5, 2, 3, 4},
                {1, 1, 1, 1},
                0.0,
                0.5},
        BinCase{"ZeroSensitivityNone",
                {0.9f, 0.5f, 0.8f, 0.2f},
                {0.5, 2, 3, 4},
                {1, 1, 1, 1},
                0.0,
                0.0},
        BinCase{
            "ZeroSensitivityTwoStems", {1.5f, 0, 3.0f, 0}, {1, 1, 1, 1}, {1, 1, 1, 1}, 0.0, 0.0},
        BinCase{"ZeroSensitivityHard",
                {0.9f, 1.1f, 0.8f, 0.2f},
                {0.5, 2, 3, 4},
                {1, 1, 1, 1},
                1.0,
                2.0},
        // A threshold removes stem 0 before the soft normalisation and the
        // hard choice.
        BinCase{"ThresholdRemovesStem0Soft",
                {0.25f, 0.25f, 0.5f, 0},
                {10, 1, 1, 1},
                {0.3, 0, 0, 0},
                0.0,
                1.0},
        BinCase{"ThresholdRemovesStem0Hard",
                {0.6f, 0.25f, 0.5f, 0},
                {10, 2, 3, 1},
                {0.7, 0, 0, 0},
                1.0,
                3.0},
        // softHard 0.5 averages soft (0.25 + 1 + 0.375 + 0.5 = 2.125) and hard (2).
        BinCase{"HalfSoftHalfHard",
                {0.25f, 0.5f, 0.125f, 0.125f},
                {1, 2, 3, 4},
                {0, 0, 0, 0},
                0.5,
                2.0625}),
    [](const ::testing::TestParamInfo<BinCase>& info) { return std::string(info.param.name); });

TEST(StemvoltaProcessFftObjTest, WithoutPredictorTheFrameIsSilent) {
    StemvoltaProcessFftObj processor(kFrame, nullptr);
    for (int k = 0; k < 4; ++k) processor.SetStemGain(k, 1.0);
    KIT_TypedBuf<ComplexValue> s = MakeSpectrum();
    processor.ProcessSpectrum(&s, nullptr);
    EXPECT_TRUE(DspUtils::IsAllZero(s));
}

// Masks that change from bin to bin and take every value the mask paths
// treat apart: negatives, zeros, values below 1e-10, ties between stems,
// values above 1 (quantised so that ties are common) and NaNs, which a
// network fed with NaN input gives.
class VariedMasks : public MaskPredictor::MaskSource {
public:
    void OnInputBlock(int) override {}
    void NextMelMasks(std::array<KIT_TypedBuf<double>, 4>& melMasks) override {
        uint32_t state = 12345;
        for (KIT_TypedBuf<double>& mask : melMasks) {
            mask.Resize(MaskPredictor::kMaskMelBins);
            for (int i = 0; i < mask.GetSize(); ++i) {
                state = state * 1664525u + 1013904223u;
                const int q = static_cast<int>(state >> 28); // 0 .. 15
                mask[i] = q == 15   ? 5e-11
                          : q == 14 ? std::numeric_limits<double>::quiet_NaN()
                                    : (q - 3) / 8.0;
            }
        }
    }
};

struct FusedCase {
    std::array<double, 4> gains;
    std::array<double, 4> thresholds;
    double softHard;
};

// The one-pass ProcessSpectrum against the step-by-step reference, bit for
// bit, over bins of every kind (zeros of both signs, the axes, tiny values).
TEST(StemvoltaProcessFftObjTest, OnePassMatchesTheReferenceBits) {
    VariedMasks source;
    MaskPredictor predictor(kFrame, nullptr, 4, 1, 44100.0);
    predictor.SetMaskSource(&source);
    KIT_TypedBuf<ComplexValue> input = MakeSpectrum();
    const ComplexValue special[] = {{0.0, 0.0},  {-0.0, 0.0},  {0.0, -0.0}, {-0.0, -0.0},
                                    {-1.0, 0.0}, {-1.0, -0.0}, {0.0, 2.0},  {1e-300, -1e-300}};
    for (size_t k = 0; k < std::size(special); ++k) input[static_cast<int>(k) * 97] = special[k];
    MultichannelProcess::SpectrumBufs mains{&input};
    predictor.ProcessSpectrum(mains, nullptr);

    const FusedCase cases[] = {
        {{1, 1, 1, 1}, {0, 0, 0, 0}, 0.0},
        {{2, 0.5, 3.981, 0}, {0.3, 0, 0.6, 0.1}, 0.25},
        {{1e-6, 1, 2, 4}, {1, 1, 1, 1}, 1.0},
        {{0.7, 1.3, 0.2, 9}, {0, 0.5, 0, 0.125}, 0.5},
    };
    for (bool withPredictor : {true, false})
        for (const FusedCase& c : cases) {
            StemvoltaProcessFftObj fast(kFrame, withPredictor ? &predictor : nullptr);
            StemvoltaProcessFftObj reference(kFrame, withPredictor ? &predictor : nullptr);
            for (StemvoltaProcessFftObj* p : {&fast, &reference}) {
                for (int k = 0; k < 4; ++k) {
                    p->SetStemGain(k, c.gains[k]);
                    p->SetStemThreshold(k, c.thresholds[k]);
                }
                p->SetSoftHard(c.softHard);
            }
            KIT_TypedBuf<ComplexValue> got, want;
            got.CopyFrom(input);
            want.CopyFrom(input);
            fast.ProcessSpectrum(&got, nullptr);
            reference.ProcessSpectrumReference(&want);
            ASSERT_EQ(got.GetSize(), want.GetSize());
            EXPECT_EQ(0, std::memcmp(got.Get(), want.Get(), sizeof(ComplexValue) * kFrame))
                << "softHard " << c.softHard << " predictor " << withPredictor;
        }
}

struct HopCase {
    double rate;
    int minHop, maxHop;
};

class StemvoltaOutputHopTest : public ::testing::TestWithParam<HopCase> {};

// Each 512-sample hop becomes 512 * rate / 44100 host samples, the fraction
// carried on, so the host-rate stream keeps pace with the STFT. Prepared for
// the hop size, the conversion allocates nothing from the first hop on.
TEST_P(StemvoltaOutputHopTest, HopsTrackTheHostRate) {
    const HopCase c = GetParam();
    StemvoltaProcessFftObj processor(kFrame, nullptr);
    processor.Reset(kFrame, 4, 1, 44100.0);
    processor.SetHostSampleRate(c.rate);
    // The engine reserves its hop buffer for the size announced here.
    const int most = processor.PrepareHops(512);
    ASSERT_GE(most, c.maxHop);
    KIT_TypedBuf<double> hop;
    hop.Resize(most, false);
    testsupport::AllocCounter counter;
    long total = 0;
    for (int h = 0; h < 2000; ++h) {
        hop.Resize(512, false);
        for (int i = 0; i < 512; ++i) hop[i] = std::sin(0.01 * (h * 512 + i));
        processor.ProcessOutputHop(&hop);
        total += hop.GetSize();
        if (h > 0) {
            ASSERT_GE(hop.GetSize(), c.minHop) << h;
            ASSERT_LE(hop.GetSize(), c.maxHop) << h;
        }
        const double ideal = (h + 1) * 512.0 * c.rate / 44100.0;
        ASSERT_LE(std::fabs(total - ideal), 6.0) << h;
    }
    EXPECT_EQ(0, counter.Count());
}

INSTANTIATE_TEST_SUITE_P(Rates, StemvoltaOutputHopTest,
                         ::testing::Values(HopCase{48000.0, 557, 558}, HopCase{22050.0, 256, 256},
                                           HopCase{32000.0, 371, 372}, HopCase{96000.0, 1114, 1115},
                                           HopCase{192000.0, 2229, 2230}));

TEST(StemvoltaProcessFftObjTest, EngineResetRunsAtTheStftRateUntilTheHostRateIsSet) {
    StemvoltaProcessFftObj processor(kFrame, nullptr);
    processor.SetHostSampleRate(48000.0);
    processor.Reset(kFrame, 4, 1, 44100.0);
    EXPECT_EQ(44100.0, processor.GetHostSampleRate());
    KIT_TypedBuf<double> hop;
    hop.Resize(512);
    for (int i = 0; i < 512; ++i) hop[i] = i;
    processor.ProcessOutputHop(&hop);
    ASSERT_EQ(512, hop.GetSize());
    for (int i = 0; i < 512; ++i) EXPECT_EQ(i, hop[i]);
    processor.SetHostSampleRate(48000.0);
    processor.ProcessOutputHop(&hop);
    EXPECT_EQ(557, hop.GetSize());
}

TEST(StemvoltaProcessFftObjTest, FramesAndHopsAllocateNothing) {
    MaskedFrame frame({0.1f, 0.2f, 0.3f, 0.4f});
    frame.Set({1, 0.5, 2, 1}, {0.1, 0, 0, 0.2}, 0.3);
    frame.processor->SetHostSampleRate(48000.0);
    KIT_TypedBuf<ComplexValue> s = MakeSpectrum();
    KIT_TypedBuf<double> hop;
    const auto run = [&] {
        frame.processor->ProcessSpectrum(&s, nullptr);
        hop.Resize(512, false);
        for (int i = 0; i < 512; ++i) hop[i] = std::sin(0.1 * i);
        frame.processor->ProcessOutputHop(&hop);
    };
    run();
    run();
    testsupport::AllocCounter counter;
    for (int f = 0; f < 20; ++f) run();
    EXPECT_EQ(0, counter.Count());
}

} // namespace

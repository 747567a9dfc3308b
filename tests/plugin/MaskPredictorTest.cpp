#include "plugin/MaskPredictor.h"

#include "tests/plugin/ModelFileWriter.h"
#include "tests/plugin/TestResources.h"
#include "tests/support/AllocCounter.h"
#include "toolkit/DspUtils.h"
#include "toolkit/DspUtilsScale.h"
#include "toolkit/DspUtilsSpectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using testmodels::ModelFileWriter;
using testmodels::TestResources;

constexpr int kFrame = 2048;
constexpr int kHalf = kFrame / 2;
constexpr int kMel = kFrame / 8;

// A 2048-bin spectrum whose first half is made from seed; bins past the half
// are junk that the predictor must not read.
KIT_TypedBuf<ComplexValue> MakeSpectrum(double seed) {
    KIT_TypedBuf<ComplexValue> s;
    s.Resize(kFrame);
    for (int i = 0; i < kFrame; ++i) {
        const double a = seed * (1.0 + 0.5 * std::sin(0.013 * i * seed)) / (1.0 + 0.01 * i);
        s[i] = {a * std::cos(0.7 * i), a * std::sin(0.3 * i + seed)};
        if (i >= kHalf) s[i] = {1e3, -1e3};
    }
    return s;
}

// The predictor's expansion of a model output, composed from the toolkit's
// own conversions: first 256 values clipped at 0, resized to 1024, mapped back
// to linear bins, clipped again.
KIT_TypedBuf<double> ExpandOutput(const std::vector<float>& output) {
    KIT_TypedBuf<double> mask, linear;
    mask.Resize(kMel);
    for (int i = 0; i < kMel; ++i) mask[i] = std::max(0.0, static_cast<double>(output[i]));
    DspUtils::ResizeLinear(mask, kHalf);
    DspUtils::MelToLinear(linear, mask, MaskPredictor::kHzPerBin, 0.0);
    DspUtils::ClipMin(linear, 0.0);
    return linear;
}

// The newest mel frame for a spectrum, as the toolkit computes it.
KIT_TypedBuf<double> MelFrameOf(const KIT_TypedBuf<ComplexValue>& spectrum) {
    KIT_TypedBuf<ComplexValue> half;
    half.Set(spectrum.Get(), kHalf);
    KIT_TypedBuf<double> magns, mel;
    DspUtils::ComplexToMagn(magns, half);
    MaskPredictor::DownsampleSpectrum(magns, mel);
    return mel;
}

std::vector<float> AsFloats(const KIT_TypedBuf<double>& frame) {
    std::vector<float> v(frame.GetSize());
    for (int i = 0; i < frame.GetSize(); ++i) v[i] = static_cast<float>(frame[i]);
    return v;
}

void ExpectBuffersEqual(const KIT_TypedBuf<double>& expected, const KIT_TypedBuf<double>& actual,
                        const char* what) {
    ASSERT_EQ(expected.GetSize(), actual.GetSize()) << what;
    for (int i = 0; i < expected.GetSize(); ++i)
        ASSERT_EQ(expected[i], actual[i]) << what << " bin " << i;
}

void RunFrame(MaskPredictor& predictor, KIT_TypedBuf<ComplexValue>& left,
              KIT_TypedBuf<ComplexValue>* right = nullptr) {
    MultichannelProcess::SpectrumBufs mains{&left};
    if (right) mains.push_back(right);
    predictor.ProcessSpectrum(mains, nullptr);
}

class MaskPredictorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(resources.Ok()); }
    std::unique_ptr<MaskPredictor> MakePredictor() {
        graphics.reset(resources.NewGraphics());
        return std::make_unique<MaskPredictor>(kFrame, graphics.get(), 4, 1, 44100.0);
    }
    TestResources resources;
    std::unique_ptr<IGraphics> graphics;
};

TEST_F(MaskPredictorTest, MasksAreTheExpandedModelOutputs) {
    // Outputs with negative values (clipped) and more than 256 values (the
    // rest is ignored), one shape per stem.
    std::vector<std::vector<float>> outputs(4, std::vector<float>(300));
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 300; ++i)
            outputs[k][i] = static_cast<float>(0.3 * k + 0.6 * std::sin(0.05 * i * (k + 1)));
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(resources.SetModel(k, testmodels::ConstantModel(outputs[k])));
    auto predictor = MakePredictor();

    KIT_TypedBuf<ComplexValue> spectrum = MakeSpectrum(1.0);
    RunFrame(*predictor, spectrum);
    for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(predictor->HasModel(k));
        const KIT_TypedBuf<double>& mask = predictor->GetMaskBuf(k);
        ExpectBuffersEqual(ExpandOutput(outputs[k]), mask, "mask");
        for (int i = kHalf - 5; i < kHalf; ++i) EXPECT_EQ(0.0, mask[i]) << "stem " << k;
        for (int i = 0; i < kHalf; ++i) ASSERT_GE(mask[i], 0.0);
    }
}

TEST_F(MaskPredictorTest, ConstantOutputGivesAFlatMaskWithAZeroTop) {
    ASSERT_TRUE(resources.SetModel(0, testmodels::ConstantModel(std::vector<float>(kMel, 0.75f))));
    auto predictor = MakePredictor();
    KIT_TypedBuf<ComplexValue> spectrum = MakeSpectrum(2.0);
    RunFrame(*predictor, spectrum);
    const KIT_TypedBuf<double>& mask = predictor->GetMaskBuf(0);
    ASSERT_EQ(kHalf, mask.GetSize());
    for (int i = 0; i < kHalf - 5; ++i) ASSERT_NEAR(0.75, mask[i], 1e-12) << i;
    for (int i = kHalf - 5; i < kHalf; ++i) EXPECT_EQ(0.0, mask[i]);
}

TEST_F(MaskPredictorTest, MelFrameComesFromChannelZeroMagnitudes) {
    // Stem 0 copies the newest frame, stem 1 the oldest.
    ASSERT_TRUE(resources.SetModel(0, testmodels::CopyInputsModel(4 * kMel, kMel, 3 * kMel)));
    ASSERT_TRUE(resources.SetModel(1, testmodels::CopyInputsModel(4 * kMel, kMel, 0)));
    auto predictor = MakePredictor();

    std::vector<KIT_TypedBuf<double>> frames;
    for (int f = 0; f < 5; ++f) {
        KIT_TypedBuf<ComplexValue> spectrum = MakeSpectrum(1.0 + f);
        RunFrame(*predictor, spectrum);
        frames.push_back(MelFrameOf(spectrum));

        const KIT_TypedBuf<double>& newest = predictor->GetHistoryEntry(3);
        ExpectBuffersEqual(frames.back(), newest, "newest history entry");
        EXPECT_DOUBLE_EQ(std::hypot(spectrum[0].re, spectrum[0].im), newest[0]);
        ExpectBuffersEqual(ExpandOutput(AsFloats(frames.back())), predictor->GetMaskBuf(0),
                           "mask of the newest frame");
        // The oldest entry is zeros until four frames have run.
        if (f < 3) {
            EXPECT_TRUE(DspUtils::IsAllZero(predictor->GetHistoryEntry(0)));
            EXPECT_TRUE(DspUtils::IsAllZero(predictor->GetMaskBuf(1)));
        } else {
            ExpectBuffersEqual(frames[f - 3], predictor->GetHistoryEntry(0), "oldest entry");
            ExpectBuffersEqual(ExpandOutput(AsFloats(frames[f - 3])), predictor->GetMaskBuf(1),
                               "mask of the oldest frame");
        }
    }
}

TEST_F(MaskPredictorTest, HistorySurvivesResets) {
    auto predictor = MakePredictor();
    std::vector<KIT_TypedBuf<double>> frames;
    for (int f = 0; f < 4; ++f) {
        KIT_TypedBuf<ComplexValue> spectrum = MakeSpectrum(1.0 + f);
        RunFrame(*predictor, spectrum);
        frames.push_back(MelFrameOf(spectrum));
    }
    predictor->Reset();
    predictor->Reset(kFrame, 4, 1, 44100.0);
    predictor->SetHostSampleRate(48000.0);
    for (int age = 0; age < 4; ++age)
        ExpectBuffersEqual(frames[age], predictor->GetHistoryEntry(age), "history after reset");

    KIT_TypedBuf<ComplexValue> spectrum = MakeSpectrum(9.0);
    RunFrame(*predictor, spectrum);
    ExpectBuffersEqual(frames[1], predictor->GetHistoryEntry(0), "oldest after the next frame");
    ExpectBuffersEqual(MelFrameOf(spectrum), predictor->GetHistoryEntry(3), "newest");
}

TEST_F(MaskPredictorTest, OnlyChannelZeroFeedsTheMasks) {
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(resources.SetModel(k, testmodels::CopyInputsModel(4 * kMel, kMel, k * kMel)));
    auto stereo = MakePredictor();
    auto mono = MakePredictor();
    for (int f = 0; f < 6; ++f) {
        KIT_TypedBuf<ComplexValue> left = MakeSpectrum(1.0 + f);
        KIT_TypedBuf<ComplexValue> right = MakeSpectrum(7.5 - f);
        KIT_TypedBuf<ComplexValue> leftAlone = MakeSpectrum(1.0 + f);
        RunFrame(*stereo, left, &right);
        RunFrame(*mono, leftAlone);
        for (int k = 0; k < 4; ++k)
            ExpectBuffersEqual(mono->GetMaskBuf(k), stereo->GetMaskBuf(k), "stereo vs left");
    }
}

TEST_F(MaskPredictorTest, FailedModelsGiveZeroMasksAndTheOthersWork) {
    const std::vector<float> ones(kMel, 1.0f);
    ASSERT_TRUE(resources.SetModel(0, testmodels::ConstantModel(ones)));
    // Stem 1: no file. Stem 2: unparsable. Stem 3: an output of 100 values.
    ASSERT_TRUE(resources.SetCorruptModel(2));
    ASSERT_TRUE(resources.SetModel(3, testmodels::CopyInputsModel(4 * kMel, 100, 0)));
    auto predictor = MakePredictor();
    EXPECT_TRUE(predictor->HasModel(0));
    EXPECT_FALSE(predictor->HasModel(1));
    EXPECT_FALSE(predictor->HasModel(2));
    EXPECT_TRUE(predictor->HasModel(3));

    for (int f = 0; f < 3; ++f) {
        KIT_TypedBuf<ComplexValue> spectrum = MakeSpectrum(1.0 + f);
        RunFrame(*predictor, spectrum);
    }
    ExpectBuffersEqual(ExpandOutput(ones), predictor->GetMaskBuf(0), "working stem");
    for (int k = 1; k < 4; ++k) {
        EXPECT_EQ(kHalf, predictor->GetMaskBuf(k).GetSize());
        EXPECT_TRUE(DspUtils::IsAllZero(predictor->GetMaskBuf(k))) << "stem " << k;
    }

    // No resources at all: every mask stays zero.
    MaskPredictor bare(kFrame, nullptr, 4, 1, 44100.0);
    KIT_TypedBuf<ComplexValue> spectrum = MakeSpectrum(1.0);
    RunFrame(bare, spectrum);
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(DspUtils::IsAllZero(bare.GetMaskBuf(k)));
}

TEST_F(MaskPredictorTest, FramesAllocateNothingAndStartNoThread) {
    // Mask-shaped small networks: batch norm, dense + relu, dense + sigmoid.
    for (int k = 0; k < 4; ++k) {
        ModelFileWriter w;
        std::vector<float> scale(4 * kMel), weights(kMel * 4 * kMel);
        for (size_t i = 0; i < scale.size(); ++i) scale[i] = 0.5f + 0.001f * i;
        for (size_t i = 0; i < weights.size(); ++i) weights[i] = ((i * 7 + k) % 13) * 0.01f - 0.06f;
        w.BatchNorm(scale, std::vector<float>(4 * kMel, 0.1f));
        w.Dense(kMel, 4 * kMel, weights, std::vector<float>(kMel, 0.05f), testmodels::kRelu);
        std::vector<float> last(kMel * kMel, 0.002f);
        w.Dense(kMel, kMel, last, std::vector<float>(kMel, -0.1f), testmodels::kSigmoid);
        ASSERT_TRUE(resources.SetModel(k, w));
    }
    auto predictor = MakePredictor();
    predictor->SetHostSampleRate(48000.0);

    std::vector<KIT_TypedBuf<ComplexValue>> spectra;
    for (int f = 0; f < 8; ++f) spectra.push_back(MakeSpectrum(1.0 + f));
    KIT_TypedBuf<double> block0, block1;
    block0.Resize(512);
    block1.Resize(512);
    const MultichannelProcess::SampleBufs blocks{&block0, &block1};
    MultichannelProcess::SpectrumBufs mains{nullptr};
    const auto runFrame = [&](int f) {
        block0.Resize(512, false);
        block1.Resize(512, false);
        for (int i = 0; i < 512; ++i) block0[i] = block1[i] = std::sin(0.01 * (f * 512 + i));
        predictor->ProcessInputBlock(blocks, nullptr);
        mains[0] = &spectra[f % spectra.size()];
        predictor->ProcessSpectrum(mains, nullptr);
    };
    for (int f = 0; f < 4; ++f) runFrame(f);

    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter counter;
    for (int f = 4; f < 40; ++f) runFrame(f);
    EXPECT_EQ(0, counter.Count());
    // The net count misses a pool started and joined within a frame; the
    // predictions run on the caller's thread.
    EXPECT_EQ(threads, testsupport::ThreadCount());
    EXPECT_EQ(1, predictor->GetPredictionThreads());
    EXPECT_FALSE(DspUtils::IsAllZero(predictor->GetMaskBuf(0)));
}

} // namespace

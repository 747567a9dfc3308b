#include "toolkit/ProcessObjChannel.h"

#include "toolkit/ProcessObj.h"
#include "toolkit/Window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

KIT_TypedBuf<double> Noise(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    KIT_TypedBuf<double> b;
    b.Resize(n);
    for (int i = 0; i < n; ++i) b[i] = u(rng);
    return b;
}

// Drives one channel the way the engine does.
void RunFrames(ProcessObjChannel& c, int bufferSize) {
    while (c.GetInputFifo()->GetSize() >= bufferSize) {
        c.ExtractFrame();
        c.WindowFrame();
        c.ForwardFft();
        c.SpectrumStage();
        c.InverseFft();
        c.WindowResult();
        c.OverlapAdd();
        c.AdvanceHop();
    }
}

TEST(ProcessObjChannel, ComputeFftIsTheScaledDftInNaturalOrder) {
    for (int freqRes : {1, 2}) {
        const int N = 16, n = N * freqRes;
        KIT_TypedBuf<double> frame = Noise(N, 3);
        frame.Resize(n); // zero extension as the engine does
        for (int i = N; i < n; ++i) frame[i] = 0;
        KIT_TypedBuf<ComplexValue> spectrum, work;
        ProcessObjChannel::ComputeFft(frame, &spectrum, freqRes, &work);
        ASSERT_EQ(spectrum.GetSize(), n);
        for (int k = 0; k < n; ++k) {
            std::complex<double> expect = 0;
            for (int i = 0; i < n; ++i) expect += frame[i] * std::polar(1.0, -2 * M_PI * k * i / n);
            expect /= N;
            EXPECT_NEAR(spectrum[k].re, expect.real(), 1e-14) << k;
            EXPECT_NEAR(spectrum[k].im, expect.imag(), 1e-14) << k;
        }
        KIT_TypedBuf<double> back;
        ProcessObjChannel::ComputeIfft(spectrum, &back, freqRes, &work);
        ASSERT_EQ(back.GetSize(), n);
        for (int i = 0; i < n; ++i) EXPECT_NEAR(back[i], frame[i], 1e-14) << i;
    }
}

TEST(ProcessObjChannel, SilentDataGivesExactZeros) {
    KIT_TypedBuf<double> frame;
    frame.Resize(64);
    for (int i = 0; i < 64; ++i) frame[i] = (i % 2 ? 1e-16 : -1e-16); // at the silence threshold
    KIT_TypedBuf<ComplexValue> spectrum, work;
    ProcessObjChannel::ComputeFft(frame, &spectrum, 1, &work);
    ASSERT_EQ(spectrum.GetSize(), 64);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(spectrum[k].re, 0.0);
        EXPECT_EQ(spectrum[k].im, 0.0);
    }
    KIT_TypedBuf<double> result;
    ProcessObjChannel::ComputeIfft(spectrum, &result, 1, &work);
    ASSERT_EQ(result.GetSize(), 64);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(result[i], 0.0);
}

struct WindowCase {
    int analysis, synthesis, overlapping;
    double analysisPower;               // analysis = Hann^p (0: ones)
    double synthesisPower;              // synthesis = Hann^p (0: ones)
    double analysisGain, synthesisGain; // the divisors applied
};

class ChannelWindows : public ::testing::TestWithParam<WindowCase> {};

TEST_P(ChannelWindows, AreBuiltAndNormalisedByMethod) {
    const WindowCase c = GetParam();
    const int N = 2048;
    ProcessObjChannel channel(nullptr, N);
    channel.SetAnalysisMethod(c.analysis);
    channel.SetSynthesisMethod(c.synthesis);
    channel.Reset(N, c.overlapping, 1, 44100);
    auto expectWindow = [&](const KIT_TypedBuf<double>& w, double power, double gain) {
        KIT_TypedBuf<double> hann;
        Window::MakeHanning(N, hann);
        ASSERT_EQ(w.GetSize(), N);
        for (int i = 0; i < N; i += 97) {
            const double base = power == 0 ? 1.0 : std::pow(hann[i], power);
            EXPECT_NEAR(w[i], base / gain, 1e-12) << i;
        }
    };
    expectWindow(channel.GetAnalysisWindow(), c.analysisPower, c.analysisGain);
    expectWindow(channel.GetSynthesisWindow(), c.synthesisPower, c.synthesisGain);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, ChannelWindows,
    ::testing::Values(WindowCase{1, 1, 4, 1, 1, 1, 1.499267578125}, // the plug-in's windows
                      WindowCase{2, 2, 4, 1, 1, 1, 1.499267578125}, // p = 4/4
                      WindowCase{0, 0, 4, 0, 0, 1, 4}, WindowCase{1, 0, 4, 1, 0, 1.9990234375, 1},
                      WindowCase{0, 1, 4, 0, 1, 1, 1.9990234375},
                      WindowCase{1, 1, 1, 1, 1, 1, 1},   // no overlap: no normalisation
                      WindowCase{1, 1, 2, 1, 1, 1, 1},   // Hann^2 fails at 2: left as is
                      WindowCase{7, 1, 4, 0, 1, 1, 1},   // unknown analysis method
                      WindowCase{1, 7, 4, 1, 0, 1, 1})); // unknown synthesis method

TEST(ProcessObjChannel, HannPowerFollowsTheOverlap) {
    const int N = 2048;
    ProcessObjChannel channel(nullptr, N);
    channel.SetAnalysisMethod(2);
    channel.SetSynthesisMethod(1);
    channel.Reset(N, 8, 1, 44100);
    KIT_TypedBuf<double> hann2, hann4;
    Window::MakeHanningPow(N, hann2, 2.0);
    Window::MakeHanningPow(N, hann4, 4.0);
    const double gain = Window::CheckCOLA(hann4, 8);
    ASSERT_GT(gain, 0);
    EXPECT_NEAR(channel.GetAnalysisWindow()[700], hann2[700], 1e-15);
    EXPECT_NEAR(channel.GetSynthesisWindow()[700], hann2[700] / gain, 1e-15);
}

TEST(ProcessObjChannel, TooLittleInputRunsNoFrameAndCountsTheLatencyDown) {
    const int N = 256;
    ProcessObjChannel channel(nullptr, N);
    channel.Reset(N, 4, 1, 44100);
    channel.AddSamples(Noise(N - 1, 1));
    channel.ExtractFrame();
    EXPECT_TRUE(channel.IsFrameSkipped());
    channel.AdvanceHop();
    EXPECT_EQ(channel.GetOutputFifo().GetSize(), 0);
    EXPECT_EQ(channel.GetInputFifo()->GetSize(), N - 1);

    KIT_TypedBuf<double> out = Noise(8, 2);
    EXPECT_FALSE(channel.GetOutputSamples(&out, 100));
    ASSERT_EQ(out.GetSize(), 100);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(out[i], 0.0);
    EXPECT_FALSE(channel.GetOutputSamples(nullptr, 100)); // latency 256 -> 56 left
    // 56 of latency and an empty FIFO: nothing consumed, latency kept.
    EXPECT_FALSE(channel.GetOutputSamples(&out, 100));
    EXPECT_FALSE(channel.GetOutputSamples(&out, 100));
    channel.AddSamples(Noise(1, 3));
    RunFrames(channel, N);
    EXPECT_EQ(channel.GetOutputFifo().GetSize(), N / 4);
    // 56 zeros then 44 of the 64 finished samples.
    EXPECT_TRUE(channel.GetOutputSamples(&out, 100));
    EXPECT_EQ(channel.GetOutputFifo().GetSize(), 64 - 44);
}

TEST(ProcessObjChannel, BlockBeyondLatencyWithTooFewSamplesChangesNothing) {
    const int N = 64;
    ProcessObjChannel channel(nullptr, N);
    channel.Reset(N, 4, 1, 44100);
    channel.SetLatency(10);
    channel.AddSamples(Noise(N, 4));
    RunFrames(channel, N); // one frame: 16 finished samples
    ASSERT_EQ(channel.GetOutputFifo().GetSize(), 16);
    KIT_TypedBuf<double> out;
    EXPECT_FALSE(channel.GetOutputSamples(&out, 40)); // needs 30
    EXPECT_EQ(channel.GetOutputFifo().GetSize(), 16);
    ASSERT_EQ(out.GetSize(), 40);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(out[i], 0.0);
    EXPECT_TRUE(channel.GetOutputSamples(&out, 20)); // latency still 10
    EXPECT_EQ(channel.GetOutputFifo().GetSize(), 6);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], 0.0);
}

// Records the sizes the hooks see.
class SizeProbe : public ProcessObj {
public:
    using ProcessObj::ProcessObj;
    int spectrumSize = -1, ifftSize = -1, windowedSize = -1;
    double tailBeforeWindow = 0, tailAfterWindow = 0;
    void ProcessSpectrum(KIT_TypedBuf<ComplexValue>* s,
                         const KIT_TypedBuf<ComplexValue>*) override {
        spectrumSize = s->GetSize();
    }
    void ProcessIfftResult(KIT_TypedBuf<double>* r, const KIT_TypedBuf<double>*) override {
        ifftSize = r->GetSize();
        // Past the frame the result of a zero-extended transform is noise-free
        // zeros; mark it to see that the synthesis window leaves it alone.
        for (int i = GetBufferSize(); i < r->GetSize(); ++i) (*r)[i] = 5.0;
        tailBeforeWindow = (*r)[r->GetSize() - 1];
    }
    void ProcessWindowedResult(KIT_TypedBuf<double>* r, const KIT_TypedBuf<double>*) override {
        windowedSize = r->GetSize();
        tailAfterWindow = (*r)[r->GetSize() - 1];
    }
};

TEST(ProcessObjChannel, FreqResTwoDoublesTheSpectrumAndWindowsOnlyTheFrame) {
    const int N = 512;
    SizeProbe probe(N);
    ProcessObjChannel channel(&probe, N);
    channel.SetAnalysisMethod(1);
    channel.SetSynthesisMethod(1);
    channel.Reset(N, 4, 2, 44100);
    EXPECT_EQ(probe.GetFreqRes(), 2);
    channel.AddSamples(Noise(N * 6, 5));
    RunFrames(channel, N);
    EXPECT_EQ(probe.spectrumSize, 2 * N);
    EXPECT_EQ(probe.ifftSize, 2 * N);
    EXPECT_EQ(probe.windowedSize, 2 * N);
    EXPECT_EQ(probe.tailAfterWindow, probe.tailBeforeWindow);
    // The overlap-add takes the first N samples only: the marked tail never
    // reaches the output.
    KIT_TypedBuf<double> out;
    channel.SetLatency(0);
    ASSERT_TRUE(channel.GetOutputSamples(&out, channel.GetOutputFifo().GetSize()));
    for (int i = 0; i < out.GetSize(); ++i) ASSERT_LT(std::fabs(out[i]), 2.0) << i;
}

} // namespace

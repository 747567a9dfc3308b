#include "toolkit/ProcessObjChannel.h"

#include "toolkit/BufReserve.h"
#include "toolkit/DspUtils.h"
#include "toolkit/DspUtilsAnalysis.h"
#include "toolkit/Fft.h"
#include "toolkit/FftBufOps.h"
#include "toolkit/ProcessObj.h"
#include "toolkit/Window.h"

#include <algorithm>

using fftbuf::ConsumeFront;
using fftbuf::CopyInto;
using fftbuf::SetSize;

ProcessObjChannel::ProcessObjChannel(ProcessObj* processObj, int bufferSize)
    : mProcessObj(processObj), mBufferSize(bufferSize), mHop(bufferSize), mLatency(bufferSize),
      mLatencyLeft(bufferSize) {
    FftInit(); // the tables must exist before the first frame reaches the audio thread
}

void ProcessObjChannel::Reset(int bufferSize, int overlapping, int freqRes, double sampleRate) {
    mBufferSize = std::max(bufferSize, 1);
    mOverlapping = std::max(overlapping, 1);
    mFreqRes = std::max(freqRes, 1);
    mSampleRate = sampleRate;
    mLatency = mBufferSize;
    Reset();
}

void ProcessObjChannel::Reset() {
    const int n = mBufferSize, size = mBufferSize * mFreqRes;
    // A hop of 0 (overlap above the frame size) would never consume input.
    mHop = std::max(n / mOverlapping, 1);
    MakeWindows();
    SetSize(mInputFifo, 0);
    SetSize(mResult, n);
    DspUtils::FillZero(mResult);
    SetSize(mAccumulator, 2 * size);
    DspUtils::FillZero(mAccumulator);
    SetSize(mOutputFifo, 0);
    SetSize(mSpectrum, size);
    DspUtils::FillZero(mSpectrum);
    // Scratch reaches its working size here, not in the first frame.
    SetSize(mWork, size);
    SetSize(mHopBuf, mHop);
    if (mProcessObj) mProcessObj->Reset(mBufferSize, mOverlapping, mFreqRes, mSampleRate);
    mLatencyLeft = mLatency;
    mFrameSkipped = false;
}

void ProcessObjChannel::Reserve(int maxInput, int maxOutput, int maxOutputHop) {
    // Windows changed since the last reset would be rebuilt, with their
    // scratch, in the first frame.
    if (mWindowsDirty) MakeWindows();
    const int hop = std::max(mHop, maxOutputHop);
    // Frames run while a whole frame is buffered, so less than one frame is
    // left when the next block arrives.
    kitbuf::ReserveCapacity(mInputFifo, mBufferSize - 1 + std::max(maxInput, 0));
    kitbuf::ReserveCapacity(mFrame, mBufferSize * mFreqRes);
    kitbuf::ReserveCapacity(mResult, mBufferSize * mFreqRes);
    kitbuf::ReserveCapacity(mHopBuf, hop);
    // Finished samples wait at most the latency, less the frame's fill time,
    // plus one hop before a block of up to maxOutput takes them.
    kitbuf::ReserveCapacity(mOutputFifo, mLatency + std::max(maxOutput, 0) + hop);
}

void ProcessObjChannel::MakeWindows() {
    const int n = mBufferSize;
    int analysis = mAnalysisMethod, synthesis = mSynthesisMethod;
    double p = 1.0;
    if (analysis == kHannPow || synthesis == kHannPow) {
        if (analysis == kHannPow) analysis = kHann;
        if (synthesis == kHannPow) synthesis = kHann;
        if (mOverlapping >= 2) p = mOverlapping * 0.25;
    }
    if (analysis == kHann)
        Window::MakeHanningPow(n, mAnalysisWindow, p);
    else
        Window::MakeConstWindow(n, mAnalysisWindow, 1.0);

    // A gain check that fails (-1) leaves the window unnormalised.
    if (synthesis == kHann) {
        Window::MakeHanningPow(n, mSynthesisWindow, p);
        if (analysis == kRectangular) {
            Window::NormalizeWindowCOLA(mSynthesisWindow, mOverlapping);
        } else if (analysis == kHann && mOverlapping >= 2) {
            // The gain of the analysis and synthesis windows together.
            Window::MakeHanningPow(n, mWindowScratch, 2.0 * p);
            const double gain = Window::CheckCOLA(mWindowScratch, mOverlapping);
            if (gain > 0.0) Window::ScaleWindow(mSynthesisWindow, gain);
        }
    } else {
        Window::MakeConstWindow(n, mSynthesisWindow, 1.0);
        if (analysis == kHann && synthesis == kRectangular)
            Window::NormalizeWindowCOLA(mAnalysisWindow, mOverlapping);
        else if (analysis == kRectangular && synthesis == kRectangular)
            Window::NormalizeWindowCOLA(mSynthesisWindow, mOverlapping);
    }
    mWindowsDirty = false;
}

const KIT_TypedBuf<double>* ProcessObjChannel::SideFrame() const {
    return mSideChain ? &mSideChain->mFrame : nullptr;
}

const KIT_TypedBuf<double>* ProcessObjChannel::SideResult() const {
    return mSideChain ? &mSideChain->mResult : nullptr;
}

void ProcessObjChannel::ExtractFrame() {
    if (mInputFifo.GetSize() < mBufferSize) {
        mFrameSkipped = true;
        return;
    }
    mFrameSkipped = false;
    CopyInto(mFrame, mInputFifo.Get(), mBufferSize);
    if (mProcessObj) mProcessObj->ProcessFrame(&mFrame, SideFrame());
}

void ProcessObjChannel::WindowFrame() {
    if (mFrameSkipped) return;
    if (mWindowsDirty) MakeWindows();
    SetSize(mResult, mFrame.GetSize());
    const int count = std::min(mFrame.GetSize(), mAnalysisWindow.GetSize());
    double* frame = mFrame.Get();
    const double* w = mAnalysisWindow.Get();
    for (int i = 0; i < count; ++i) frame[i] *= w[i];
    if (mProcessObj) mProcessObj->ProcessWindowedFrame(&mFrame, SideFrame());
}

void ProcessObjChannel::ForwardFft() {
    if (mFrameSkipped) return;
    mInputEnergy = mKeepEnergy ? DspUtils::ComputeAvgAbs(mFrame) : 0.0;
    if (mFreqRes > 1) DspUtils::ResizeFillZeros(mFrame, mBufferSize * mFreqRes);
    // With skipFft the spectrum keeps its previous contents; the inverse stage
    // alone decides the result.
    if (!mSkipFft) ComputeFft(mFrame, &mSpectrum, mFreqRes, &mWork);
}

void ProcessObjChannel::SpectrumStage() {
    if (mFrameSkipped || mSkipFft) return;
    if (mProcessObj)
        mProcessObj->ProcessSpectrum(&mSpectrum, mSideChain ? &mSideChain->mSpectrum : nullptr);
}

void ProcessObjChannel::InverseFft() {
    if (mFrameSkipped) return;
    if (mSkipIfft)
        CopyInto(mResult, mFrame);
    else
        ComputeIfft(mSpectrum, &mResult, mFreqRes, &mWork);
    if (mProcessObj) mProcessObj->ProcessIfftResult(&mResult, SideResult());
}

void ProcessObjChannel::WindowResult() {
    if (mFrameSkipped) return;
    if (mKeepEnergy) {
        const double a = DspUtils::ComputeAvgAbs(mResult);
        const double g = a > 0.0 ? mInputEnergy / a : 1.0;
        if (mOverlapping > 1) DspUtils::MultValues(mResult, g);
    }
    if (mProcessObj) mProcessObj->ProcessResult(&mResult, SideResult());
    if (mWindowsDirty) MakeWindows();
    // Only the first bufferSize samples (the window's length) are windowed.
    const int count = std::min(mResult.GetSize(), mSynthesisWindow.GetSize());
    double* result = mResult.Get();
    const double* w = mSynthesisWindow.Get();
    for (int i = 0; i < count; ++i) result[i] *= w[i];
}

void ProcessObjChannel::OverlapAdd() {
    if (mFrameSkipped) return;
    if (mProcessObj) mProcessObj->ProcessWindowedResult(&mResult, SideResult());
    const int n = mBufferSize;
    if (n < 1 || mResult.GetSize() < n || mAccumulator.GetSize() < n) return;
    double* acc = mAccumulator.Get();
    const double* result = mResult.Get();
    for (int i = 0; i < n; ++i) acc[i] += result[i];
}

void ProcessObjChannel::AdvanceHop() {
    if (mFrameSkipped) return;
    const int hop = mHop;
    if (hop <= mInputFifo.GetSize()) ConsumeFront(mInputFifo, hop);

    const int accSize = mAccumulator.GetSize();
    if (accSize < mBufferSize) return;
    CopyInto(mHopBuf, mAccumulator.Get(), std::min(hop, accSize));
    if (mProcessObj) mProcessObj->ProcessOutputHop(&mHopBuf);
    mOutputFifo.Add(mHopBuf.Get(), mHopBuf.GetSize());

    // Shift the sum by one hop and open a zeroed hop at its end.
    if (hop >= accSize)
        SetSize(mAccumulator, 0);
    else if (accSize > mBufferSize)
        ConsumeFront(mAccumulator, hop);
    const int kept = mAccumulator.GetSize();
    if (!SetSize(mAccumulator, kept + hop)) return;
    DspUtils::FillZero(mAccumulator.Get() + kept, hop);
}

void ProcessObjChannel::AddSamples(const KIT_TypedBuf<double>& samples) {
    mInputFifo.Add(samples.Get(), samples.GetSize());
}

bool ProcessObjChannel::GetOutputSamples(KIT_TypedBuf<double>* out, int n) {
    const int left = mLatencyLeft, available = mOutputFifo.GetSize();
    auto zeroOut = [&]() {
        if (!out) return false;
        if (!SetSize(*out, n)) return false;
        DspUtils::FillZero(*out);
        return true;
    };
    if (left >= n) {
        zeroOut();
        mLatencyLeft = std::max(0, left - n);
        return false;
    }
    if (left > 0 || available < n) {
        if (!zeroOut()) return false;
        const int m = std::max(0, n - left);
        if (available < m) return false;
        std::copy(mOutputFifo.Get(), mOutputFifo.Get() + m, out->Get() + left);
        ConsumeFront(mOutputFifo, m);
        mLatencyLeft = 0;
        return true;
    }
    if (out) {
        if (!SetSize(*out, n)) return false;
        std::copy(mOutputFifo.Get(), mOutputFifo.Get() + n, out->Get());
    }
    ConsumeFront(mOutputFifo, n);
    return true;
}

void ProcessObjChannel::SetAnalysisMethod(int method) {
    mAnalysisMethod = method;
    mWindowsDirty = true;
}

void ProcessObjChannel::SetSynthesisMethod(int method) {
    mSynthesisMethod = method;
    mWindowsDirty = true;
}

void ProcessObjChannel::SetLatency(int latency) {
    // A negative delay cannot be served; the host would be told it as well.
    mLatency = std::max(latency, 0);
    mLatencyLeft = mLatency;
}

void ProcessObjChannel::ComputeFft(const KIT_TypedBuf<double>& frame,
                                   KIT_TypedBuf<ComplexValue>* spectrum, int freqRes,
                                   KIT_TypedBuf<ComplexValue>* work) {
    const int n = frame.GetSize();
    if (!SetSize(*spectrum, n) || n == 0) return;
    if (DspUtils::IsAllZero(frame) || !SetSize(*work, n)) {
        DspUtils::FillZero(*spectrum);
        return;
    }
    const double* x = frame.Get();
    ComplexValue* w = work->Get();
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i) w[i] = {x[i] * scale * freqRes, 0.0};
    FftComplex(w, n, 0);
    ComplexValue* out = spectrum->Get();
    const int* position = FftPermuteTable(n);
    for (int k = 0; k < n; ++k) out[k] = w[position ? position[k] : k];
}

void ProcessObjChannel::ComputeIfft(const KIT_TypedBuf<ComplexValue>& spectrum,
                                    KIT_TypedBuf<double>* result, int freqRes,
                                    KIT_TypedBuf<ComplexValue>* work) {
    const int n = spectrum.GetSize();
    if (!SetSize(*result, n) || n == 0) return;
    if (DspUtils::IsAllZero(spectrum) || !SetSize(*work, n)) {
        DspUtils::FillZero(*result);
        return;
    }
    const ComplexValue* in = spectrum.Get();
    ComplexValue* w = work->Get();
    const int* position = FftPermuteTable(n);
    for (int k = 0; k < n; ++k) w[position ? position[k] : k] = in[k];
    FftComplex(w, n, 1);
    double* out = result->Get();
    const double scale = 1.0 / freqRes;
    for (int i = 0; i < n; ++i) out[i] = w[i].re * scale;
}

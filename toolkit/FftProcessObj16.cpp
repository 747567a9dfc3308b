#include "toolkit/FftProcessObj16.h"

#include "toolkit/BufReserve.h"
#include "toolkit/DspUtils.h"
#include "toolkit/Fft.h"
#include "toolkit/FftBufOps.h"
#include "toolkit/ProcessObj.h"
#include "toolkit/ProcessObjChannel.h"

#include <algorithm>

using fftbuf::CopyInto;
using fftbuf::SetSize;

namespace {

// mains = one buffer of each main channel; copies = the buffers of the linked
// side-chain channels, one per main channel with a link.
template <typename T>
void Gather(const std::vector<std::unique_ptr<ProcessObjChannel>>& channels, int numMains,
            KIT_TypedBuf<T>* (ProcessObjChannel::*get)(), std::vector<KIT_TypedBuf<T>*>& mains,
            std::vector<KIT_TypedBuf<T>>& copies) {
    mains.clear();
    size_t linked = 0;
    for (int i = 0; i < numMains; ++i) {
        ProcessObjChannel& channel = *channels[i];
        mains.push_back((channel.*get)());
        ProcessObjChannel* side = channel.GetSideChain();
        if (side && linked < copies.size()) CopyInto(copies[linked++], *(side->*get)());
    }
}

} // namespace

FftProcessObj16::FftProcessObj16(const std::vector<ProcessObj*>& processObjs, int numInputs,
                                 int numScInputs, int bufferSize, int overlapping,
                                 double sampleRate, int freqRes) {
    Reset(bufferSize, overlapping, freqRes, sampleRate);
    mNumScInputs = std::max(numScInputs, 0);
    const int count = std::max(numInputs, 0) + mNumScInputs;
    mChannels.reserve(count);
    for (int i = 0; i < count; ++i) {
        ProcessObj* obj = i < static_cast<int>(processObjs.size()) ? processObjs[i] : nullptr;
        mChannels.push_back(std::make_unique<ProcessObjChannel>(obj, mBufferSize));
        mChannels.back()->Reset(mBufferSize, mOverlapping, mFreqRes, mSampleRate);
    }
    LinkSideChains();

    // The audio path's vectors reach their size here.
    mInputCopies.resize(std::max(numInputs, 0));
    mInputPtrs.reserve(count);
    mScCopies.resize(mNumScInputs);
    mMainSamples.reserve(count);
    mMainSpectra.reserve(count);
    const int linked = mNumScInputs > 0 ? std::max(NumMains(), 0) : 0;
    mScSamples.resize(linked);
    mScSpectra.resize(linked);
}

FftProcessObj16::~FftProcessObj16() = default;

void FftProcessObj16::Reset(int bufferSize, int overlapping, int freqRes, double sampleRate) {
    if (bufferSize > 0) mBufferSize = bufferSize;
    if (overlapping > 0) mOverlapping = overlapping;
    if (freqRes > 0) mFreqRes = freqRes;
    if (sampleRate > 0) mSampleRate = sampleRate;
    Reset();
}

void FftProcessObj16::Reset() {
    for (auto& channel : mChannels)
        channel->Reset(mBufferSize, mOverlapping, mFreqRes, mSampleRate);
    for (MultichannelProcess* p : mProcesses)
        p->Reset(mBufferSize, mOverlapping, mFreqRes, mSampleRate);
}

void FftProcessObj16::Reserve(int maxInput, int maxOutput, int maxOutputHop) {
    for (Buffers* copies : {&mInputCopies, &mScCopies})
        for (KIT_TypedBuf<double>& copy : *copies) kitbuf::ReserveCapacity(copy, maxInput);
    kitbuf::ReserveCapacity(mDrain, maxOutput);
    for (auto& channel : mChannels) channel->Reserve(maxInput, maxOutput, maxOutputHop);
}

template <typename F> void FftProcessObj16::ForChannels(int channel, F&& f) {
    if (channel < 0 || channel >= GetNumChannels()) {
        for (auto& c : mChannels) f(*c);
    } else {
        f(*mChannels[channel]);
    }
}

void FftProcessObj16::SetAnalysisWindow(int channel, int method) {
    ForChannels(channel, [&](ProcessObjChannel& c) { c.SetAnalysisMethod(method); });
}

void FftProcessObj16::SetSynthesisWindow(int channel, int method) {
    ForChannels(channel, [&](ProcessObjChannel& c) { c.SetSynthesisMethod(method); });
}

void FftProcessObj16::SetKeepSynthesisEnergy(int channel, bool keep) {
    ForChannels(channel, [&](ProcessObjChannel& c) { c.SetKeepEnergy(keep); });
}

void FftProcessObj16::SetSkipFft(int channel, bool skip) {
    ForChannels(channel, [&](ProcessObjChannel& c) { c.SetSkipFft(skip); });
}

void FftProcessObj16::SetSkipIfft(int channel, bool skip) {
    ForChannels(channel, [&](ProcessObjChannel& c) { c.SetSkipIfft(skip); });
}

bool FftProcessObj16::Process(const Buffers& inputs, const Buffers& scInputs, Buffers* outputs) {
    const Buffers* in = &inputs;
    if (inputs.empty()) {
        const size_t count = outputs ? outputs->size() : 0;
        if (mZeroInputs.size() != count) mZeroInputs.resize(count);
        for (size_t i = 0; i < count; ++i) {
            SetSize(mZeroInputs[i], (*outputs)[i].GetSize());
            DspUtils::FillZero(mZeroInputs[i]);
        }
        in = &mZeroInputs;
    }
    AddSamples(*in, scInputs);
    ProcessFrames();
    const int n = in->empty() ? 0 : (*in)[0].GetSize();
    if (!outputs) {
        // Nobody reads the output: drain it so the FIFOs stay bounded.
        GetOutputs(nullptr, n);
        return true;
    }
    if (GetOutputs(outputs, n)) return true;
    for (KIT_TypedBuf<double>& out : *outputs) DspUtils::FillZero(out);
    return false;
}

void FftProcessObj16::AddSamples(const Buffers& inputs, const Buffers& scInputs) {
    const int count = static_cast<int>(inputs.size());
    if (static_cast<int>(mInputCopies.size()) != count) mInputCopies.resize(count);
    mInputPtrs.clear();
    for (int i = 0; i < count; ++i) {
        CopyInto(mInputCopies[i], inputs[i]);
        mInputPtrs.push_back(&mInputCopies[i]);
    }
    const int scCount = static_cast<int>(scInputs.size());
    if (static_cast<int>(mScCopies.size()) != scCount) mScCopies.resize(scCount);
    for (int i = 0; i < scCount; ++i) CopyInto(mScCopies[i], scInputs[i]);

    const MultichannelProcess::SampleCopies* sc = scCount > 0 ? &mScCopies : nullptr;
    for (MultichannelProcess* p : mProcesses) p->ProcessInputBlock(mInputPtrs, sc);

    const int used = std::min(count, GetNumChannels());
    for (int i = 0; i < used; ++i) {
        if (ProcessObj* obj = mChannels[i]->GetProcessObj())
            obj->ProcessInputBlock(&mInputCopies[i], i < scCount ? &mScCopies[i] : nullptr);
    }
    for (int i = 0; i < used; ++i) mChannels[i]->AddSamples(mInputCopies[i]);
    for (int i = 0; i < std::min(scCount, mNumScInputs); ++i) {
        const int channel = GetNumChannels() - mNumScInputs + i;
        if (channel >= 0) mChannels[channel]->AddSamples(scInputs[i]);
    }
}

void FftProcessObj16::AddSamples(int firstChannel, const Buffers& buffers) {
    for (int i = 0; i < static_cast<int>(buffers.size()); ++i) {
        const int channel = firstChannel + i;
        if (channel >= 0 && channel < GetNumChannels()) mChannels[channel]->AddSamples(buffers[i]);
    }
}

void FftProcessObj16::ProcessFrames() {
    if (mChannels.empty()) return;
    const KIT_TypedBuf<double>& lead = *mChannels[0]->GetInputFifo();
    // Each frame consumes at least one sample of channel 0 (hop >= 1).
    while (lead.GetSize() >= mBufferSize) {
        auto stage = [this](void (ProcessObjChannel::*step)()) {
            for (int c = GetNumChannels() - 1; c >= 0; --c) (mChannels[c].get()->*step)();
        };
        stage(&ProcessObjChannel::ExtractFrame);
        MultichannelProcessFrame();
        stage(&ProcessObjChannel::WindowFrame);
        MultichannelProcessWindowedFrame();
        stage(&ProcessObjChannel::ForwardFft);
        MultichannelProcessSpectrum();
        stage(&ProcessObjChannel::SpectrumStage);
        MultichannelProcessSpectrumPost();
        stage(&ProcessObjChannel::InverseFft);
        MultichannelProcessIfftResult();
        stage(&ProcessObjChannel::WindowResult);
        MultichannelProcessWindowedResult();
        stage(&ProcessObjChannel::OverlapAdd);
        stage(&ProcessObjChannel::AdvanceHop);
    }
}

bool FftProcessObj16::GetOutputs(Buffers* outputs, int n) {
    // Without main channels nothing is read and the answer is true.
    const int mains = NumMains();
    const int read = outputs ? std::min(mains, static_cast<int>(outputs->size())) : 0;
    bool ok = true;
    for (int i = 0; i < GetNumChannels(); ++i) {
        ProcessObjChannel& channel = *mChannels[i];
        if (i < read) {
            const bool delivered = channel.GetOutputSamples(&(*outputs)[i], n);
            ok = ok && (channel.IsFrameSkipped() || delivered);
        } else {
            // Nobody reads this channel (a side-chain channel never is read).
            // Side-chain channels run the same frames as the main channels,
            // so taking n per block bounds them as it bounds a main channel.
            channel.GetOutputSamples(&mDrain, n);
        }
    }
    return ok;
}

void FftProcessObj16::CallSampleHook(KIT_TypedBuf<double>* (ProcessObjChannel::*get)(),
                                     SampleHook hook) {
    if (mProcesses.empty()) return;
    Gather(mChannels, NumMains(), get, mMainSamples, mScSamples);
    const auto* sc = mScSamples.empty() ? nullptr : &mScSamples;
    for (MultichannelProcess* p : mProcesses) (p->*hook)(mMainSamples, sc);
}

void FftProcessObj16::CallSpectrumHook(SpectrumHook hook) {
    if (mProcesses.empty()) return;
    Gather(mChannels, NumMains(), &ProcessObjChannel::GetSpectrum, mMainSpectra, mScSpectra);
    const auto* sc = mScSpectra.empty() ? nullptr : &mScSpectra;
    for (MultichannelProcess* p : mProcesses) (p->*hook)(mMainSpectra, sc);
}

void FftProcessObj16::MultichannelProcessFrame() {
    CallSampleHook(&ProcessObjChannel::GetInputFifo, &MultichannelProcess::ProcessFrame);
}

void FftProcessObj16::MultichannelProcessWindowedFrame() {
    CallSampleHook(&ProcessObjChannel::GetInputFifo, &MultichannelProcess::ProcessWindowedFrame);
}

void FftProcessObj16::MultichannelProcessSpectrum() {
    CallSpectrumHook(&MultichannelProcess::ProcessSpectrum);
}

void FftProcessObj16::MultichannelProcessSpectrumPost() {
    CallSpectrumHook(&MultichannelProcess::ProcessSpectrumPost);
}

void FftProcessObj16::MultichannelProcessWindowedResult() {
    CallSampleHook(&ProcessObjChannel::GetResult, &MultichannelProcess::ProcessWindowedResult);
}

void FftProcessObj16::MultichannelProcessIfftResult() {
    CallSampleHook(&ProcessObjChannel::GetResult, &MultichannelProcess::ProcessIfftResult);
}

void FftProcessObj16::LinkSideChains() {
    const int mains = NumMains();
    if (mNumScInputs == 0 || mains < 1) return;
    for (int i = 0; i < mains; ++i) {
        const int side = mains + (i < mNumScInputs ? i : 0);
        mChannels[i]->SetSideChain(mChannels[side].get());
    }
}

void FftProcessObj16::AddMultichannelProcess(MultichannelProcess* process) {
    if (process) mProcesses.push_back(process);
}

void FftProcessObj16::SetLatency(int n) {
    for (auto& channel : mChannels) channel->SetLatency(n);
}

int FftProcessObj16::GetLatency(int blockSize) const {
    return mChannels.empty() ? mBufferSize : mChannels[0]->GetLatency(blockSize);
}

const ProcessObjChannel* FftProcessObj16::GetChannel(int i) const {
    return i >= 0 && i < GetNumChannels() ? mChannels[i].get() : nullptr;
}

void FftProcessObj16::Init() {
    FftInit();
}

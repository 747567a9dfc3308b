#include "framework/IEffectBase.h"

#include "framework/IGraphics.h"
#include "framework/Trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void CopyName(char* dst, const char* src) {
    FW_TRACE();
    std::strncpy(dst, src ? src : "", IEffectBase::kNameSize - 1);
    dst[IEffectBase::kNameSize - 1] = '\0';
}

} // namespace

IEffectBase::IEffectBase(int nParams, const char* channelIOStr, int nPresets,
                         const char* effectName, const char* productName, const char* mfrName,
                         int32_t version, int32_t uniqueID, int32_t mfrID, int latency,
                         bool plugDoesMidi, bool plugDoesChunks, bool plugIsInstrument, int plugAPI)
    : mUniqueID(uniqueID), mMfrID(mfrID), mVersion(version), mAPI(plugAPI),
      mStateChunks(plugDoesChunks), mIsInstrument(plugIsInstrument), mDoesMidi(plugDoesMidi),
      mLatency(latency) {
    FW_TRACE();
    for (int i = 0; i < nParams; ++i) mParams.Add(new IParam());
    for (int i = 0; i < nPresets; ++i) mPresets.Add(new IPreset());

    CopyName(mEffectName, effectName);
    CopyName(mProductName, productName);
    CopyName(mMfrName, mfrName);

    int maxIn = 0, maxOut = 0, maxSideChain = 0;
    if (channelIOStr) ParseChannelIO(channelIOStr, &maxIn, &maxOut, &maxSideChain);

    mInData.Set(nullptr, maxIn); // zeroed
    mOutData.Set(nullptr, maxOut);
    mSideChainChannels = maxSideChain;

    for (int i = 0; i < mInData.GetSize(); ++i) {
        InChannel* channel = new InChannel();
        channel->mSlot = &mInData[i];
        mInChannels.Add(channel);
    }
    for (int i = 0; i < mOutData.GetSize(); ++i) {
        OutChannel* channel = new OutChannel();
        channel->mSlot = &mOutData[i];
        mOutChannels.Add(channel);
    }
}

IEffectBase::~IEffectBase() {
    FW_TRACE();
    delete mGraphics;
    mGraphics = nullptr;
    mParams.Empty(true);
    mPresets.Empty(true);
    mInChannels.Empty(true);
    mOutChannels.Empty(true);
    mChannelIO.Empty(true);
    mInBusLabels.Empty(true);
    mOutBusLabels.Empty(true);
    mParamGroups.Empty(false);
}

void IEffectBase::ParseChannelIO(const char* channelIOStr, int* maxIn, int* maxOut,
                                 int* maxSideChain) {
    FW_TRACE();
    const char* pos = channelIOStr;
    while (pos) {
        int in = 0, out = 0, sideChain = 0;
        std::sscanf(pos, "%d-%d-%d", &in, &out, &sideChain);
        ChannelIO* io = new ChannelIO{in + sideChain, out, sideChain};
        if (!mChannelIO.Add(io)) {
            delete io;
            break;
        }
        *maxIn = std::max(*maxIn, io->mIn);
        *maxOut = std::max(*maxOut, io->mOut);
        *maxSideChain = std::max(*maxSideChain, sideChain);
        pos = std::strchr(pos, ' ');
        if (pos) ++pos;
    }
}

// ---- Default virtual operations ----

void IEffectBase::Reset() {
    FW_TRACE();
    KIT_Mutex::ScopedLock lock(&mMutex);
}

void IEffectBase::OnParamChange(int idx) {
    FW_TRACE();
    KIT_Mutex::ScopedLock lock(&mMutex);
}

void IEffectBase::ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) {
    FW_TRACE();
    if (!outputs || nFrames <= 0) return;
    const size_t bytes = sizeof(double) * static_cast<size_t>(nFrames);
    const int nIn = inputs ? NInChannels() : 0;
    for (int i = 0; i < NOutChannels(); ++i) {
        if (!outputs[i]) continue;
        if (i < nIn && inputs[i]) {
            if (inputs[i] != outputs[i]) std::memmove(outputs[i], inputs[i], bytes);
        } else {
            std::memset(outputs[i], 0, bytes);
        }
    }
}

void IEffectBase::OnActivate(bool active) {
    FW_TRACE();
    KIT_Mutex::ScopedLock lock(&mMutex);
}

void IEffectBase::ProcessMidiMsg(IMidiMsg* msg) {
    FW_TRACE();
    SendMidiMsg(msg);
}

bool IEffectBase::MidiNoteName(int noteNumber, char* name, int nameSize) {
    FW_TRACE();
    if (name && nameSize > 0) name[0] = '\0';
    return false;
}

void IEffectBase::SetParameterFromGUI(int idx, double normalizedValue) {
    FW_TRACE();
    KIT_Mutex::ScopedLock lock(&mMutex);
    IParam* param = GetParam(idx);
    if (!param) return;
    param->SetNormalized(normalizedValue);
    InformHostOfParamChange(idx, normalizedValue);
    OnParamChange(idx);
}

void IEffectBase::AttachGraphics(IGraphics* graphics) {
    FW_TRACE();
    if (!graphics) return;
    KIT_Mutex::ScopedLock lock(&mMutex);
    // Pushing every parameter's normalised value into the context and
    // preparing its drawing bitmaps come with the graphics context's core.
    if (mGraphics != graphics) delete mGraphics; // owned: a replaced one goes
    mGraphics = graphics;
}

void IEffectBase::SetLatency(int samples) {
    FW_TRACE();
    mLatency = samples;
}

void IEffectBase::RedrawParamControls() {
    FW_TRACE();
    // Pushing each parameter's value into the attached graphics context comes
    // with the graphics context.
}

void IEffectBase::SetBlockSize(int blockSize) {
    FW_TRACE();
    if (blockSize < 0) blockSize = 0;
    if (blockSize == mBlockSize) return;
    int reached = blockSize;
    for (int i = 0; i < NInChannels(); ++i) {
        KIT_TypedBuf<double>& scratch = mInChannels.Get(i)->mScratch;
        scratch.Set(nullptr, blockSize);
        reached = std::min(reached, scratch.GetSize());
    }
    for (int i = 0; i < NOutChannels(); ++i) {
        KIT_TypedBuf<double>& scratch = mOutChannels.Get(i)->mScratch;
        scratch.Set(nullptr, blockSize);
        reached = std::min(reached, scratch.GetSize());
    }
    // The scratch blocks moved: no slot may keep pointing at a freed one.
    ResetSlots();
    // A failed resize leaves the block size that every buffer can hold.
    mBlockSize = reached;
}

// ---- Identity ----

int32_t IEffectBase::GetEffectVersion(bool decimal) const {
    FW_TRACE();
    if (!decimal) return mVersion;
    const int32_t major = (mVersion >> 16) & 0xFFFF;
    const int32_t minor = (mVersion >> 8) & 0xFF;
    const int32_t patch = mVersion & 0xFF;
    return major * 10000 + minor * 100 + patch;
}

void IEffectBase::GetEffectVersionStr(char* out, int outSize) const {
    FW_TRACE();
    if (!out || outSize < 1) return;
    std::snprintf(out, static_cast<size_t>(outSize), "v%d.%d.%d", (mVersion >> 16) & 0xFFFF,
                  (mVersion >> 8) & 0xFF, mVersion & 0xFF);
}

bool IEffectBase::LegalIO(int nIn, int nOut) const {
    FW_TRACE();
    for (int i = 0; i < mChannelIO.GetSize(); ++i) {
        const ChannelIO* io = mChannelIO.Get(i);
        if ((nIn < 0 || nIn == io->mIn) && (nOut < 0 || nOut == io->mOut)) return true;
    }
    return false;
}

void IEffectBase::OnParamReset() {
    FW_TRACE();
    for (int i = 0; i < NParams(); ++i) OnParamChange(i);
}

// ---- Channels and buffers ----

bool IEffectBase::IsInputChannelConnected(int i) const {
    FW_TRACE();
    const InChannel* channel = mInChannels.Get(i);
    return channel && channel->mConnected && !channel->mDuplicatedSideChain;
}

bool IEffectBase::IsOutputChannelConnected(int i) const {
    FW_TRACE();
    const OutChannel* channel = mOutChannels.Get(i);
    return channel && channel->mConnected;
}

namespace {

// Points every channel's slot at its scratch buffer.
template <typename Channel> void ResetChannelSlots(const KIT_PtrList<Channel>& channels) {
    FW_TRACE();
    for (int i = 0; i < channels.GetSize(); ++i) {
        Channel* channel = channels.Get(i);
        *channel->mSlot = channel->mScratch.Get();
    }
}

// Channels first .. first + count - 1 that exist; a disconnected channel's
// slot points back at its scratch buffer.
template <typename Channel>
void SetChannelConnections(const KIT_PtrList<Channel>& channels, int first, int count,
                           bool connected) {
    FW_TRACE();
    if (first < 0) return;
    for (int i = first; i - first < count && i < channels.GetSize(); ++i) {
        Channel* channel = channels.Get(i);
        channel->mConnected = connected;
        if (!connected) *channel->mSlot = channel->mScratch.Get();
    }
}

} // namespace

void IEffectBase::ResetSlots() {
    FW_TRACE();
    ResetChannelSlots(mInChannels);
    ResetChannelSlots(mOutChannels);
}

int IEffectBase::ClampFrames(int nFrames) const {
    FW_TRACE();
    return std::clamp(nFrames, 0, mBlockSize);
}

void IEffectBase::SetInputChannelConnections(int first, int count, bool connected) {
    FW_TRACE();
    SetChannelConnections(mInChannels, first, count, connected);
}

void IEffectBase::SetOutputChannelConnections(int first, int count, bool connected) {
    FW_TRACE();
    SetChannelConnections(mOutChannels, first, count, connected);
    if (connected || first < 0) return;
    // The host may free a disconnected channel's buffer: forget it.
    for (int i = first; i - first < count && i < NOutChannels(); ++i)
        mOutChannels.Get(i)->mHostOutput = nullptr;
}

void IEffectBase::AttachInputBuffers(int first, int count, float** hostInputs, int nFrames) {
    FW_TRACE();
    // The processing may have changed pointer entries in the previous block.
    ResetSlots();
    if (first < 0 || !hostInputs) return;
    nFrames = ClampFrames(nFrames);
    for (int i = first; i - first < count && i < NInChannels(); ++i) {
        InChannel* channel = mInChannels.Get(i);
        if (!channel->mConnected) continue;
        const float* src = *hostInputs++;
        double* dst = channel->mScratch.Get();
        if (!dst) continue; // block size 0
        if (src)
            for (int s = 0; s < nFrames; ++s) dst[s] = src[s];
        else
            std::memset(dst, 0, sizeof(double) * static_cast<size_t>(nFrames));
    }
}

void IEffectBase::AttachOutputBuffers(int first, int count, float** hostOutputs) {
    FW_TRACE();
    ResetSlots();
    if (first < 0 || !hostOutputs) return;
    for (int i = first; i - first < count && i < NOutChannels(); ++i) {
        OutChannel* channel = mOutChannels.Get(i);
        if (channel->mConnected) channel->mHostOutput = *hostOutputs++;
    }
}

void IEffectBase::WriteHostOutput(OutChannel& channel, int nFrames) {
    FW_TRACE();
    float* dst = channel.mHostOutput;
    // A host buffer holds for one block only: a later block that does not
    // attach this channel again must not write into a buffer the host has
    // since reused or freed.
    channel.mHostOutput = nullptr;
    // The processing may have re-pointed or cleared the slot; the scratch
    // buffer stands in for a cleared one.
    const double* src = *channel.mSlot ? *channel.mSlot : channel.mScratch.Get();
    if (!dst || !src) return;
    for (int s = 0; s < nFrames; ++s) dst[s] = static_cast<float>(src[s]);
}

void IEffectBase::ProcessBuffers(int nFrames) {
    FW_TRACE();
    nFrames = ClampFrames(nFrames);
    ProcessDoubleReplacing(mInData.Get(), mOutData.Get(), nFrames);
    for (int i = 0; i < NOutChannels(); ++i) {
        OutChannel* channel = mOutChannels.Get(i);
        if (channel->mConnected) WriteHostOutput(*channel, nFrames);
    }
}

void IEffectBase::PassThroughBuffers(int nFrames) {
    FW_TRACE();
    nFrames = ClampFrames(nFrames);
    const size_t bytes = sizeof(double) * static_cast<size_t>(nFrames);
    const InChannel* first = mInChannels.Get(0);
    for (int i = 0; i < NOutChannels(); ++i) {
        OutChannel* out = mOutChannels.Get(i);
        if (!out->mConnected) continue;
        double* dst = out->mScratch.Get(); // null only at block size 0
        const InChannel* in = mInChannels.Get(i);
        if (!in || !in->mConnected) in = first;
        const double* src = in && in->mConnected ? in->mScratch.Get() : nullptr;
        if (dst && src)
            std::memcpy(dst, src, bytes);
        else if (dst)
            std::memset(dst, 0, bytes);
        *out->mSlot = dst;
        WriteHostOutput(*out, nFrames);
    }
}

// ---- Bus labels ----

void IEffectBase::SetChannelLabels() {
    FW_TRACE();
    if (NInChannels() - NSideChainChannels() > 0) SetInputBusLabel(0, "main input");
    if (NSideChainChannels() > 0) SetInputBusLabel(1, "sc input");
    if (NOutChannels() > 0) SetOutputBusLabel(0, "output");
}

namespace {

void ReplaceLabel(KIT_PtrList<KIT_String>& labels, int bus, const char* text) {
    FW_TRACE();
    labels.Delete(bus, true);
    KIT_String* label = new KIT_String(text);
    if (!labels.Insert(bus, label)) delete label;
}

} // namespace

void IEffectBase::SetInputBusLabel(int bus, const char* label) {
    FW_TRACE();
    if (bus != 0 && bus != 1) return;
    ReplaceLabel(mInBusLabels, bus, label);
}

void IEffectBase::SetOutputBusLabel(int bus, const char* label) {
    FW_TRACE();
    if (bus < 0) return;
    ReplaceLabel(mOutBusLabels, bus, label);
}

// ---- Transport ----

void IEffectBase::UpdateTransportState() {
    FW_TRACE();
    ITimeInfo timeInfo;
    GetTime(&timeInfo);
    if (timeInfo.mTransportIsRunning && !mTransportWasRunning) Reset();
    mTransportWasRunning = timeInfo.mTransportIsRunning;
}

void IEffectBase::DetectDuplicatedSideChain(int nFrames) {
    FW_TRACE();
    if (GetHost() != kHostLogic) return;
    nFrames = ClampFrames(nFrames);
    const size_t bytes = sizeof(double) * static_cast<size_t>(nFrames);
    const int numMain = NInChannels() - NSideChainChannels();
    double** in = mInData.Get();
    for (int k = 0; k < 2; ++k) {
        const int sc = numMain + k;
        if (numMain < k + 1 || NSideChainChannels() < k + 1) break;
        if (!in[k] || !in[sc]) continue;
        mInChannels.Get(sc)->mDuplicatedSideChain = std::memcmp(in[k], in[sc], bytes) == 0;
    }
}

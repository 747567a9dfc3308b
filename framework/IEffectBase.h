#pragma once
// Platform-neutral root of every plug-in object: identity, channel
// configurations, parameters and presets, host identity and transport, the
// per-channel buffers between the host's float blocks and the double blocks
// the processing works on, the editor's graphics context and the plug-in
// mutex. The host adapter derives from it and supplies the pure virtuals.
//
// Threads: the adapter calls everything under the plug-in mutex (recursive),
// render blocks on the audio thread and the rest from host threads;
// SetParameterFromGUI, AttachGraphics and the state calls take the mutex
// themselves.
#include "framework/ByteChunk.h"
#include "framework/IParam.h"
#include "framework/IPreset.h"
#include "framework/ITimeInfo.h"
#include "framework/KIT_Mutex.h"
#include "framework/KIT_PtrList.h"
#include "toolkit/KIT_String.h"
#include "toolkit/KIT_TypedBuf.h"

#include <cstdint>

class IGraphics;
struct IMidiMsg;
struct ISysEx;

class IEffectBase {
public:
    enum EAPI { kAPIVST2 = 0, kAPIVST3 = 1, kAPIAU = 2, kAPIRTAS = 3, kAPIAAX = 4, kAPISA = 5 };
    static constexpr int kHostUnknown = -1;
    static constexpr int kHostLogic = 21;
    static constexpr int kNameSize = 128; // effect, product and maker names with the NUL

    // One accepted channel configuration.
    struct ChannelIO {
        int32_t mIn;        // main plus side-chain inputs
        int32_t mOut;       // outputs
        int32_t mSideChain; // side-chain inputs (the last mSideChain of mIn)
    };

    // Invariant for both channel records: mSlot points at this channel's entry
    // of the pointer array. Every attach and SetBlockSize point that entry at
    // mScratch's data (null while the block size is 0); ProcessDoubleReplacing
    // may re-point or clear entries until the next attach.
    struct InChannel {
        bool mConnected = false;
        double** mSlot = nullptr;
        KIT_TypedBuf<double> mScratch; // block size doubles
        KIT_String mLabel;
        bool mDuplicatedSideChain = false; // the host feeds the main input here
    };

    struct OutChannel {
        bool mConnected = false;
        double** mSlot = nullptr;
        float* mHostOutput = nullptr; // the host's buffer of this block, else null
        KIT_TypedBuf<double> mScratch;
        KIT_String mLabel;
    };

    // channelIOStr: configurations "in-out-sc" separated by blanks, e.g.
    // "1-1-0 2-2-0" (null: none). Names are cut to kNameSize - 1 bytes.
    // version: 0xMMMMmmbb. plugDoesMidi is stored only.
    IEffectBase(int nParams, const char* channelIOStr, int nPresets, const char* effectName,
                const char* productName, const char* mfrName, int32_t version, int32_t uniqueID,
                int32_t mfrID, int latency, bool plugDoesMidi, bool plugDoesChunks,
                bool plugIsInstrument, int plugAPI);
    virtual ~IEffectBase();
    IEffectBase(const IEffectBase&) = delete;
    IEffectBase& operator=(const IEffectBase&) = delete;

    // ---- Virtual operations, in slot order ----

    // [host thread] rebuild the processing state; the default only takes the mutex.
    virtual void Reset();
    // [host or GUI thread] parameter idx changed; the default only takes the mutex.
    virtual void OnParamChange(int idx);
    // [audio thread] no allocation. inputs: NInChannels() pointers, outputs:
    // NOutChannels() pointers, nFrames doubles each (null entries skipped).
    // The default copies input i to output i and zeroes outputs without input.
    virtual void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames);
    // [main thread] editor notifications; the defaults do nothing.
    virtual void OnGUIOpen() {}
    virtual void OnGUIClose() {}
    virtual void OnIdle() {}
    // [host thread] the default only takes the mutex.
    virtual void OnActivate(bool active);
    // [audio thread] the default passes the message on to SendMidiMsg.
    virtual void ProcessMidiMsg(IMidiMsg* msg);
    // [audio thread] the default ignores the message.
    virtual void ProcessSysEx(ISysEx* msg) {}
    // [host thread] Writes the empty name into name (nameSize bytes) and returns false.
    virtual bool MidiNoteName(int noteNumber, char* name, int nameSize);
    // [host thread] the default writes SerializeParams' chunk.
    virtual bool SerializeState(ByteChunk* chunk);
    // [host thread] returns the position after the state, -1 for a truncated chunk.
    virtual int UnserializeState(ByteChunk* chunk, int startPos);
    // [host thread] state: one double per parameter from index startPos on.
    // True when every value equals the parameter's in single precision (within
    // 1e-5); true with no parameters; false for a null state or startPos < 0
    // when there are parameters.
    virtual bool CompareState(const double* state, int startPos);
    // [main thread] the default does nothing.
    virtual void OnWindowResize() {}
    // [host thread] after mHost is known; the default does nothing.
    virtual void OnHostIdentified() {}
    // [main thread] host adapter operation.
    virtual void PrepareGUIResize() = 0;
    // [GUI thread] under the mutex: the parameter's SetNormalized, the host's
    // change notice, then OnParamChange.
    virtual void SetParameterFromGUI(int idx, double normalizedValue);
    // [GUI or host thread] host adapter operations: tell the host about a
    // parameter gesture (normalizedValue in [0, 1]) or a program change.
    virtual void BeginInformHostOfParamChange(int idx) = 0;
    virtual void InformHostOfParamChange(int idx, double normalizedValue) = 0;
    virtual void EndInformHostOfParamChange(int idx) = 0;
    virtual void InformHostOfProgramChange() = 0;
    // [any thread] the default reports real-time rendering.
    virtual bool IsRenderingOffline() { return false; }
    // [audio thread] no allocation. Host transport: position in samples,
    // tempo in beats per minute, time signature.
    virtual int64_t GetSamplePos() = 0;
    virtual double GetTempo() = 0;
    virtual void GetTimeSig(int* numerator, int* denominator) = 0;
    // [audio thread] no allocation. Fills what the host reports; the caller
    // has set the defaults.
    virtual void GetTime(ITimeInfo* timeInfo) = 0;
    // [any thread] kHostUnknown until the adapter has identified the host.
    virtual int GetHost() { return mHost; }
    virtual int GetAPI() { return mAPI; }
    // [main thread] host adapter operation: editor size in pixels.
    virtual void ResizeGraphics(int w, int h) = 0;
    // [host thread] the default does nothing.
    virtual void HostSpecificInit() {}
    // [main thread] under the mutex. Takes ownership of graphics (null:
    // nothing); a context attached before is deleted, and so is this one by
    // the destructor.
    virtual void AttachGraphics(IGraphics* graphics);
    // [host thread] latency in samples.
    virtual void SetLatency(int samples);
    // [audio thread] host adapter operation; false when the message was not
    // sent (the SysEx default sends nothing).
    virtual bool SendMidiMsg(IMidiMsg* msg) = 0;
    virtual bool SendSysEx(ISysEx* msg) { return false; }
    // [host thread] pushes every parameter's value into the attached context.
    virtual void RedrawParamControls();
    // [host thread] after the host replaced the presets; the default does nothing.
    virtual void PresetsChangedByHost() {}
    // [host thread] may allocate: resizes and zeroes every channel's scratch
    // buffer to blockSize doubles (nothing when unchanged).
    virtual void SetBlockSize(int blockSize);

    // ---- Identity and configuration [any thread; setters: host thread] ----

    const char* GetEffectName() const { return mEffectName; }
    const char* GetProductName() const { return mProductName; }
    const char* GetMfrName() const { return mMfrName; }
    int32_t GetUniqueID() const { return mUniqueID; }
    int32_t GetMfrID() const { return mMfrID; }
    // The packed version, or major * 10000 + minor * 100 + patch when decimal.
    int32_t GetEffectVersion(bool decimal) const;
    // "vMAJOR.MINOR.PATCH" into out (outSize bytes with the NUL).
    void GetEffectVersionStr(char* out, int outSize) const;
    int GetHostVersion() const { return mHostVersion; }
    bool DoesStateChunks() const { return mStateChunks; }
    bool IsInstrument() const { return mIsInstrument; }
    bool DoesMidi() const { return mDoesMidi; }
    bool IsBypassed() const { return mBypassed; }
    void SetBypassed(bool bypassed) { mBypassed = bypassed; }

    // True when some configuration matches; a negative count matches any.
    // nIn counts main plus side-chain inputs.
    bool LegalIO(int nIn, int nOut) const;
    int NChannelIO() const { return mChannelIO.GetSize(); }
    // Null when idx is out of range.
    const ChannelIO* GetChannelIO(int idx) const { return mChannelIO.Get(idx); }

    double GetSampleRate() const { return mSampleRate; }
    void SetSampleRate(double sampleRate) { mSampleRate = sampleRate; }
    int GetBlockSize() const { return mBlockSize; }
    int GetLatency() const { return mLatency; }
    uint32_t GetTailSize() const { return mTailSize; }
    void SetTailSize(uint32_t samples) { mTailSize = samples; }
    KIT_Mutex* GetMutex() { return &mMutex; }
    IGraphics* GetGUI() const { return mGraphics; }
    // Parameter group names (not owned); nothing fills the list here.
    const KIT_PtrList<const char>& GetParamGroups() const { return mParamGroups; }

    // ---- Parameters [host or GUI thread] ----

    int NParams() const { return mParams.GetSize(); }
    // Null when idx is out of range.
    IParam* GetParam(int idx) const { return mParams.Get(idx); }
    // OnParamChange for every parameter in index order.
    void OnParamReset();

    // ---- Channels and buffers (host adapter, under the mutex) ----

    int NInChannels() const { return mInChannels.GetSize(); }
    int NOutChannels() const { return mOutChannels.GetSize(); }
    int NSideChainChannels() const { return mSideChainChannels; }
    // i exists, is connected and is not a duplicated side-chain.
    bool IsInputChannelConnected(int i) const;
    bool IsOutputChannelConnected(int i) const;
    // Channels first .. first + count - 1 that exist; a disconnected channel's
    // slot points back at its scratch buffer, and a disconnected output
    // forgets its host buffer.
    void SetInputChannelConnections(int first, int count, bool connected);
    void SetOutputChannelConnections(int first, int count, bool connected);

    // [audio thread] no allocation. Converts the next host buffer into each
    // connected channel of the range; hostInputs holds one pointer per
    // connected channel of the range (null pointers give silence). nFrames is
    // clamped into [0, block size].
    void AttachInputBuffers(int first, int count, float** hostInputs, int nFrames);
    // [audio thread] no allocation. Takes the next host pointer as the host
    // output of each connected channel of the range, for the next
    // ProcessBuffers or PassThroughBuffers only (an output not attached for a
    // block is not written).
    void AttachOutputBuffers(int first, int count, float** hostOutputs);
    // [audio thread] no allocation. ProcessDoubleReplacing over the pointer
    // arrays, then each connected output to its host buffer. nFrames is
    // clamped into [0, block size]; unconnected outputs are not written.
    void ProcessBuffers(int nFrames);
    // [audio thread] no allocation. Bypass: each connected output gets input i
    // when that is connected, else input 0 when connected, else silence.
    void PassThroughBuffers(int nFrames);

    // Labels "main input", "sc input" and "output" for the buses present.
    void SetChannelLabels();
    // Bus 0 or 1 only.
    void SetInputBusLabel(int bus, const char* label);
    // Any bus >= 0.
    void SetOutputBusLabel(int bus, const char* label);
    // Null when the bus has no label.
    const KIT_String* GetInputBusLabel(int bus) const { return mInBusLabels.Get(bus); }
    const KIT_String* GetOutputBusLabel(int bus) const { return mOutBusLabels.Get(bus); }
    int NInputBusLabels() const { return mInBusLabels.GetSize(); }
    int NOutputBusLabels() const { return mOutBusLabels.GetSize(); }

    // [audio thread] asks GetTime and calls Reset on the stopped-to-running edge.
    void UpdateTransportState();
    // [audio thread] only for host id kHostLogic: marks side-chain channels
    // whose samples equal the main input's as not connected.
    void DetectDuplicatedSideChain(int nFrames);

    // ---- State and presets [host thread, under the plug-in mutex] ----

    // Every parameter's value as a double, in index order.
    bool SerializeParams(ByteChunk* chunk);
    // Restores the values from startPos on, each clamped into its range; a
    // parameter the chunk is too short for, or whose stored value is not a
    // number, keeps its value. Calls OnParamChange for every parameter.
    // Returns the position after the values, -1 when the chunk was too short.
    int UnserializeParams(ByteChunk* chunk, int startPos);

    int NPresets() const { return mPresets.GetSize(); }
    int GetCurrentPresetIdx() const { return mCurrentPresetIdx; }
    // Null when idx is out of range.
    const IPreset* GetPreset(int idx) const { return mPresets.Get(idx); }
    // "" when idx is out of range.
    const char* GetPresetName(int idx) const;
    // Fills the first count uninitialised slots with the current state, named
    // name ("Empty" for null).
    void MakeDefaultPreset(const char* name, int count);
    // Deletes every uninitialised slot, keeping the order of the rest.
    void PruneUninitializedPresets();
    // An uninitialised slot captures the current state under a new user
    // preset name; an initialised one is restored. False for a bad index or
    // failure.
    bool RestorePreset(int idx);
    // The first slot whose name equals name exactly; false for null or "".
    bool RestorePresetByName(const char* name);
    // The current slot takes the current state, and name when not null or "".
    void ModifyCurrentPreset(const char* name);
    // Per slot: name string, initialised byte, the state when initialised.
    bool SerializePresets(ByteChunk* chunk);
    int UnserializePresets(ByteChunk* chunk, int startPos);

protected:
    // The host's identity; the host adapter sets it once it knows the host.
    int mHost = kHostUnknown;
    int mHostVersion = 0;

private:
    void ParseChannelIO(const char* channelIOStr, int* maxIn, int* maxOut, int* maxSideChain);
    // Points every channel's slot at its scratch buffer.
    void ResetSlots();
    // Clamps nFrames into [0, block size].
    int ClampFrames(int nFrames) const;
    // Converts an output channel's block to its host buffer.
    // The host buffer is forgotten afterwards.
    static void WriteHostOutput(OutChannel& channel, int nFrames);
    // "user preset N", N one above the number of slots already so named.
    void MakeDefaultUserPresetName(char* out, int outSize) const;
    // Appends the current state to the preset's (cleared) chunk.
    bool CaptureState(IPreset* preset);

    KIT_PtrList<ChannelIO> mChannelIO;
    KIT_Mutex mMutex;
    char mEffectName[kNameSize];
    char mProductName[kNameSize];
    char mMfrName[kNameSize];
    int32_t mUniqueID;
    int32_t mMfrID;
    int32_t mVersion;
    int mAPI;
    bool mStateChunks;
    bool mIsInstrument;
    bool mDoesMidi;
    bool mBypassed = false;
    int mCurrentPresetIdx = 0;
    double mSampleRate = 44100.0;
    int mBlockSize = 0;
    int mLatency;
    uint32_t mTailSize = 0;
    KIT_PtrList<const char> mParamGroups;
    int mSideChainChannels = 0;
    IGraphics* mGraphics = nullptr;
    KIT_PtrList<IParam> mParams;
    KIT_PtrList<IPreset> mPresets;
    KIT_TypedBuf<double*> mInData;
    KIT_TypedBuf<double*> mOutData;
    KIT_PtrList<KIT_String> mInBusLabels;
    KIT_PtrList<KIT_String> mOutBusLabels;
    KIT_PtrList<InChannel> mInChannels;
    KIT_PtrList<OutChannel> mOutChannels;
    bool mTransportWasRunning = false;
};

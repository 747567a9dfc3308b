#pragma once
// The STFT overlap-add engine: one ProcessObjChannel per main channel and per
// side-chain channel (main channels first). Buffers incoming blocks, runs every
// complete frame through all channels stage by stage (each stage over every
// channel, last channel first, so side-chain channels finish a stage before
// the main channels that read them), lets the registered MultichannelProcess
// objects see all main channels at each stage, and hands back one block per
// main channel once the latency has been filled.
//
// Threads: construction, Reset and the setters run on the audio thread or
// under the plug-in lock; Process runs on the audio thread and allocates
// nothing once the buffers have reached their working size (first blocks).
#include "toolkit/ComplexValue.h"
#include "toolkit/KIT_TypedBuf.h"
#include "toolkit/MultichannelProcess.h"

#include <memory>
#include <vector>

class ProcessObj;
class ProcessObjChannel;

class FftProcessObj16 {
public:
    using Buffers = std::vector<KIT_TypedBuf<double>>;

    // Channel i gets processObjs[i] (null past the vector's end; not owned).
    // Values <= 0 fall back to 2048, 1, 44100 Hz and 1. bufferSize * freqRes
    // must be an FFT size (a power of two up to 32768): for other sizes the
    // transform leaves the frames as they are and the spectra mean nothing.
    FftProcessObj16(const std::vector<ProcessObj*>& processObjs, int numInputs, int numScInputs,
                    int bufferSize, int overlapping, double sampleRate, int freqRes);
    virtual ~FftProcessObj16();

    FftProcessObj16(const FftProcessObj16&) = delete;
    FftProcessObj16& operator=(const FftProcessObj16&) = delete;

    // Stores each value that is > 0, then Reset().
    virtual void Reset(int bufferSize, int overlapping, int freqRes, double sampleRate);
    // Resets every channel with the stored values, then every multichannel
    // process. Empties every FIFO and restarts the latency count.
    virtual void Reset();

    virtual int GetBufferSize() const { return mBufferSize; }
    virtual int GetOverlapping() const { return mOverlapping; }
    virtual int GetFreqRes() const { return mFreqRes; }
    virtual double GetSampleRate() const { return mSampleRate; }

    // [setup, under the plug-in lock] allocates. Grows the engine's block
    // copies and every channel's buffers (ProcessObjChannel::Reserve) so that
    // Process allocates nothing for blocks of up to maxInput samples per
    // channel (as given or as the multichannel processes leave them, the
    // longer), up to maxOutput output samples and output hops of up to
    // maxOutputHop samples. Sizes, contents and the stream are unchanged; the
    // resets keep the room. Call after SetLatency.
    void Reserve(int maxInput, int maxOutput, int maxOutputHop);

    // Window methods as ProcessObjChannel::WindowMethod. For these five a
    // channel of -1, or one not below the channel count, means every channel.
    virtual void SetAnalysisWindow(int channel, int method);
    virtual void SetSynthesisWindow(int channel, int method);
    virtual void SetKeepSynthesisEnergy(int channel, bool keep);
    virtual void SetSkipFft(int channel, bool skip);
    virtual void SetSkipIfft(int channel, bool skip);

    // [audio thread] Buffers inputs (empty: zeros sized like the outputs) and
    // scInputs, runs every complete frame and, when outputs is given, fills
    // one block per main channel of the first input block's length. Returns
    // false, with every output zeroed, until each main channel with an output
    // buffer can deliver a whole block after its latency. Main channels
    // without an output buffer (all of them when outputs is null, which
    // returns true) and the side-chain channels are drained into the engine's
    // scratch so their FIFOs stay bounded.
    virtual bool Process(const Buffers& inputs, const Buffers& scInputs, Buffers* outputs);

    // Calls the matching MultichannelProcess hook on every registered process.
    virtual void MultichannelProcessFrame();
    virtual void MultichannelProcessWindowedFrame();
    virtual void MultichannelProcessSpectrum();
    virtual void MultichannelProcessSpectrumPost();
    virtual void MultichannelProcessWindowedResult();
    virtual void MultichannelProcessIfftResult();

    // [audio thread] Copies the blocks, lets the multichannel processes and then
    // each channel's ProcessObj see them (ProcessInputBlock), and appends what
    // they leave to the channels' input FIFOs. Input blocks beyond the channel
    // count are ignored.
    virtual void AddSamples(const Buffers& inputs, const Buffers& scInputs);
    // Appends buffers[i] to channel firstChannel + i, with no callbacks.
    virtual void AddSamples(int firstChannel, const Buffers& buffers);

    // [audio thread] Runs frames while channel 0 holds a whole frame.
    void ProcessFrames();
    // [audio thread] n samples of every main channel into outputs (null: into
    // the engine's scratch) and n of every side-chain channel into the
    // scratch; see Process.
    bool GetOutputs(Buffers* outputs, int n);

    // Main channel i reads side-chain channel i, or the first side-chain
    // channel when there are fewer side-chain than main channels.
    void LinkSideChains();
    // process: not owned; must outlive the engine's processing.
    void AddMultichannelProcess(MultichannelProcess* process);
    // Every channel's latency and remaining latency become n.
    void SetLatency(int n);
    // Channel 0's latency, bufferSize without channels; blockSize has no effect.
    int GetLatency(int blockSize = 0) const;

    int GetNumChannels() const { return static_cast<int>(mChannels.size()); }
    // Null when i is out of range.
    const ProcessObjChannel* GetChannel(int i) const;

    // Builds the FFT tables (before any engine transforms).
    static void Init();

private:
    int NumMains() const { return GetNumChannels() - mNumScInputs; }
    template <typename F> void ForChannels(int channel, F&& f);
    using SampleHook = void (MultichannelProcess::*)(const MultichannelProcess::SampleBufs&,
                                                     const MultichannelProcess::SampleCopies*);
    using SpectrumHook = void (MultichannelProcess::*)(const MultichannelProcess::SpectrumBufs&,
                                                       const MultichannelProcess::SpectrumCopies*);
    // Gathers the main channels' buffers (and side-chain copies) of a stage
    // and calls hook on every registered process; nothing without processes.
    void CallSampleHook(KIT_TypedBuf<double>* (ProcessObjChannel::*get)(), SampleHook hook);
    void CallSpectrumHook(SpectrumHook hook);

    std::vector<std::unique_ptr<ProcessObjChannel>> mChannels;
    int mNumScInputs = 0;
    int mBufferSize = 2048;
    int mOverlapping = 1;
    int mFreqRes = 1;
    double mSampleRate = 44100.0;
    std::vector<MultichannelProcess*> mProcesses;

    // Working storage of the audio path, sized once and reused every block.
    Buffers mInputCopies;
    MultichannelProcess::SampleBufs mInputPtrs;
    Buffers mScCopies;
    Buffers mZeroInputs;
    KIT_TypedBuf<double> mDrain;
    MultichannelProcess::SampleBufs mMainSamples;
    MultichannelProcess::SpectrumBufs mMainSpectra;
    MultichannelProcess::SampleCopies mScSamples;
    MultichannelProcess::SpectrumCopies mScSpectra;
};

#pragma once
// One channel of the STFT engine: buffers its input, cuts frames of
// bufferSize samples every hop, windows and transforms them, hands each stage
// to its ProcessObj, and overlap-adds the results into its output FIFO.
// Created, reset and driven stage by stage by FftProcessObj16.
//
// Output stream, for a latency of at least bufferSize (the default): exactly
// `latency` zeros, then the overlap-added signal, so input sample t comes out
// as output sample t + latency. A smaller latency can leave the FIFO short of
// a block; such a block is answered with zeros and consumes nothing, which
// lengthens the delay by that block.
//
// Threads: construction and the resets allocate (audio thread or under the
// plug-in lock); the stages, AddSamples and GetOutputSamples allocate nothing
// once the buffers have reached their working size after the first blocks.
#include "toolkit/ComplexValue.h"
#include "toolkit/KIT_TypedBuf.h"

class ProcessObj;

class ProcessObjChannel {
public:
    // Window methods: 0 rectangular, 1 Hann, 2 Hann to the power overlapping/4;
    // other values give unnormalised rectangular windows.
    enum WindowMethod { kRectangular = 0, kHann = 1, kHannPow = 2 };

    // processObj: not owned, may be null. Call Reset before the first frame.
    ProcessObjChannel(ProcessObj* processObj, int bufferSize);
    virtual ~ProcessObjChannel() = default;

    ProcessObjChannel(const ProcessObjChannel&) = delete;
    ProcessObjChannel& operator=(const ProcessObjChannel&) = delete;

    // Stores the four values (bufferSize, overlapping and freqRes below 1
    // count as 1), sets latency to bufferSize, then calls Reset().
    virtual void Reset(int bufferSize, int overlapping, int freqRes, double sampleRate);
    // Rebuilds the windows and every buffer for the stored values, resets the
    // ProcessObj with them and restarts the latency count.
    virtual void Reset();

    // [setup, under the plug-in lock] allocates. Grows the FIFOs and the frame
    // and hop buffers for input blocks of up to maxInput samples, output
    // blocks of up to maxOutput samples and output hops (as the ProcessObj
    // leaves them) of up to maxOutputHop samples, for the current sizes and
    // latency, and builds changed windows: such blocks then allocate nothing.
    // Sizes and contents are kept; the resets keep the room. Call after
    // SetLatency.
    void Reserve(int maxInput, int maxOutput, int maxOutputHop);

    // [audio thread] Frame stages, in this order; each stage after
    // ExtractFrame does nothing when the frame was skipped (too little input).
    void ExtractFrame();
    void WindowFrame();
    void ForwardFft();
    void SpectrumStage();
    void InverseFft();
    void WindowResult();
    void OverlapAdd();
    void AdvanceHop();

    // [audio thread] Appends samples to the input FIFO.
    void AddSamples(const KIT_TypedBuf<double>& samples);

    // [audio thread] Delivers n samples into out (resized to n), counting the
    // remaining latency down first. Returns false, with out zeroed, while the
    // latency or the output FIFO cannot fill the whole block; out may be null
    // (then only the latency count moves, or nothing at all once it is 0 but
    // too few samples are buffered).
    bool GetOutputSamples(KIT_TypedBuf<double>* out, int n);

    void SetAnalysisMethod(int method);
    void SetSynthesisMethod(int method);
    void SetKeepEnergy(bool keep) { mKeepEnergy = keep; }
    void SetSkipFft(bool skip) { mSkipFft = skip; }
    void SetSkipIfft(bool skip) { mSkipIfft = skip; }
    void SetSideChain(ProcessObjChannel* sideChain) { mSideChain = sideChain; }
    // Sets the latency and the remaining latency (negative counts as 0).
    void SetLatency(int latency);
    // blockSize has no effect.
    int GetLatency(int blockSize = 0) const { return mLatency; }

    ProcessObj* GetProcessObj() const { return mProcessObj; }
    ProcessObjChannel* GetSideChain() const { return mSideChain; }
    KIT_TypedBuf<double>* GetInputFifo() { return &mInputFifo; }
    KIT_TypedBuf<ComplexValue>* GetSpectrum() { return &mSpectrum; }
    KIT_TypedBuf<double>* GetResult() { return &mResult; }
    const KIT_TypedBuf<double>& GetFrame() const { return mFrame; }
    const KIT_TypedBuf<double>& GetOutputFifo() const { return mOutputFifo; }
    const KIT_TypedBuf<double>& GetAnalysisWindow() const { return mAnalysisWindow; }
    const KIT_TypedBuf<double>& GetSynthesisWindow() const { return mSynthesisWindow; }
    bool IsFrameSkipped() const { return mFrameSkipped; }

    // Forward transform of frame (n = its length, a supported FFT size) into n
    // bins of natural order, scaled by freqRes / n (1 / bufferSize): an
    // all-silent frame gives exact zeros without a transform. work is scratch.
    static void ComputeFft(const KIT_TypedBuf<double>& frame, KIT_TypedBuf<ComplexValue>* spectrum,
                           int freqRes, KIT_TypedBuf<ComplexValue>* work);
    // Inverse of ComputeFft: n = spectrum length samples, the real parts of
    // the unscaled inverse transform divided by freqRes.
    static void ComputeIfft(const KIT_TypedBuf<ComplexValue>& spectrum,
                            KIT_TypedBuf<double>* result, int freqRes,
                            KIT_TypedBuf<ComplexValue>* work);

private:
    void MakeWindows();
    const KIT_TypedBuf<double>* SideFrame() const;
    const KIT_TypedBuf<double>* SideResult() const;

    ProcessObj* mProcessObj;
    int mBufferSize;
    int mOverlapping = 1;
    double mSampleRate = 44100.0;
    int mFreqRes = 1;
    int mAnalysisMethod = kRectangular;
    int mSynthesisMethod = kRectangular;
    KIT_TypedBuf<double> mAnalysisWindow;
    KIT_TypedBuf<double> mSynthesisWindow;
    bool mKeepEnergy = false;
    bool mSkipFft = false;
    bool mSkipIfft = false;
    int mHop;
    KIT_TypedBuf<double> mInputFifo;
    KIT_TypedBuf<double> mResult;
    KIT_TypedBuf<double> mAccumulator; // 2 * bufferSize * freqRes samples
    KIT_TypedBuf<double> mOutputFifo;
    KIT_TypedBuf<double> mFrame;
    KIT_TypedBuf<ComplexValue> mSpectrum;
    double mInputEnergy = 0.0;
    bool mWindowsDirty = true;
    int mLatency;
    int mLatencyLeft;
    bool mFrameSkipped = false;
    ProcessObjChannel* mSideChain = nullptr;

    // Scratch kept at its size between frames so the stages never allocate.
    KIT_TypedBuf<ComplexValue> mWork;
    KIT_TypedBuf<double> mHopBuf;
    KIT_TypedBuf<double> mWindowScratch;
};

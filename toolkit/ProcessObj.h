#pragma once
// Base of every per-channel spectral processor driven by the STFT engine
// (ProcessObjChannel). The engine calls the hooks below at fixed points of
// each frame, in slot order; a subclass may modify the buffer it is handed
// and the engine goes on with it as modified. "sc" is the linked side-chain
// channel's buffer of the same stage (read only), or null without a link.
//
// All hooks run on the audio thread inside the engine's frame loop: no
// allocation, no locks (buffers that a hook resizes should keep within the
// size they already had).
#include "toolkit/ComplexValue.h"
#include "toolkit/FifoDecimator.h"
#include "toolkit/KIT_TypedBuf.h"

class ProcessObj {
public:
    // overlapping, freqRes and sampleRate are first set by Reset, which the
    // engine always calls before the first frame.
    explicit ProcessObj(int bufferSize);
    virtual ~ProcessObj() = default;

    ProcessObj(const ProcessObj&) = delete;
    ProcessObj& operator=(const ProcessObj&) = delete;

    // [audio thread or under the plug-in lock] Stores each value that is > 0
    // (the sample rate truncated to int), then calls Reset() virtually.
    virtual void Reset(int bufferSize, int overlapping, int freqRes, double sampleRate);
    // Argument-less reset, the one that rebuilds the state: base clears the
    // trackers (ResetTracking); an override that keeps them should call it.
    virtual void Reset() { ResetTracking(); }
    // Zeroes both trackers' histories (their lengths stay).
    virtual void ResetTracking();

    // A new host block (block) before it is buffered; the length may change.
    virtual void ProcessInputBlock(KIT_TypedBuf<double>* block,
                                   const KIT_TypedBuf<double>* scBlock) {}
    // The bufferSize samples of the new frame before windowing; base feeds the
    // input tracker.
    virtual void ProcessFrame(KIT_TypedBuf<double>* frame, const KIT_TypedBuf<double>* scFrame);
    // The frame after the analysis window.
    virtual void ProcessWindowedFrame(KIT_TypedBuf<double>* frame,
                                      const KIT_TypedBuf<double>* scFrame) {}
    // The bufferSize * freqRes bins in natural order after the forward transform
    // (scaled by 1 / bufferSize).
    virtual void ProcessSpectrum(KIT_TypedBuf<ComplexValue>* spectrum,
                                 const KIT_TypedBuf<ComplexValue>* scSpectrum) {}
    // The time-domain result after the inverse transform.
    virtual void ProcessIfftResult(KIT_TypedBuf<double>* result,
                                   const KIT_TypedBuf<double>* scResult) {}
    // After the energy correction, before the synthesis window; base feeds the
    // output tracker.
    virtual void ProcessResult(KIT_TypedBuf<double>* result, const KIT_TypedBuf<double>* scResult);
    // After the synthesis window, before overlap-add.
    virtual void ProcessWindowedResult(KIT_TypedBuf<double>* result,
                                       const KIT_TypedBuf<double>* scResult) {}
    // The hop of finished samples about to enter the output FIFO; its length
    // may change (a rate converter resamples it here).
    virtual void ProcessOutputHop(KIT_TypedBuf<double>* hop) {}

    // Stores both flags; each tracker whose flag is set gets FIFO length
    // maxPoints and decimation factor decimFactor.
    virtual void SetTrackIO(int maxPoints, bool trackInput, bool trackOutput, double decimFactor);
    // out becomes a copy of the tracker's history.
    virtual void GetTrackedInput(KIT_TypedBuf<double>* out) const;
    virtual void GetTrackedOutput(KIT_TypedBuf<double>* out) const;

    int GetBufferSize() const { return mBufferSize; }
    int GetOverlapping() const { return mOverlapping; }
    int GetFreqRes() const { return mFreqRes; }
    int GetSampleRate() const { return mSampleRate; }

protected:
    FifoDecimator mInputTracker;
    FifoDecimator mOutputTracker;
    bool mTrackInput = false;
    bool mTrackOutput = false;
    int mBufferSize;
    int mOverlapping = 0;
    int mFreqRes = 0;
    int mSampleRate = 0; // Hz, truncated toward zero
};

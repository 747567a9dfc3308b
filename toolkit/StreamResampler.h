#pragma once
// Streaming sample-rate converter for interleaved 64-bit frames. Keeps the
// unconsumed input and the fractional read position between blocks, so that
// consecutive blocks form one continuous stream.
//
// Modes: point sampling, linear interpolation, windowed-sinc interpolation;
// the first two may add up to four cascaded low-pass sections, run over the
// input before downsampling (ratio above 1) or over the output after
// upsampling (ratio below 1).
//
// Per block: ResamplePrepare, write the granted input frames at the returned
// pointer, ResampleOut. Configure with SetMode, the public settings and
// SetRates, then Reset, before the first block.
#include "toolkit/KIT_TypedBuf.h"

#include <memory>

class ResamplerBiquad;

class StreamResampler {
public:
    static constexpr int kMaxChannels = 64;
    static constexpr int kMaxSincLength = 8192;
    static constexpr int kMaxSincOversampling = 8192;
    static constexpr int kMaxFilterCount = 4;

    // [any thread] 44100 -> 44100 Hz, linear interpolation, one low-pass
    // section, no sinc.
    StreamResampler();
    virtual ~StreamResampler();
    StreamResampler(const StreamResampler&) = delete;
    StreamResampler& operator=(const StreamResampler&) = delete;

    // Plain settings the owner writes after construction. Low-pass quality
    // and cutoff as a fraction of the Nyquist frequency of the lower rate.
    float filterQ = 0.707f;
    float filterPos = 0.693f;
    // Feed mode: the count given to ResamplePrepare is the number of input
    // frames the caller has, not the number of output frames it wants.
    bool feedMode = false;

    // [audio thread] no allocation. Starts a new stream at the given
    // fractional read position (input frames); zeroes the low-pass histories.
    // Mode, settings and rates are kept. In sinc mode the next
    // ResamplePrepare puts sinc length / 2 - 1 zero frames in front of the
    // stream (the filter latency).
    void Reset(double fractionalPosition = 0.0);

    // [setup] May free the sinc table and the low-pass bank. Sinc wins over
    // the low-pass sections and linear interpolation: a sinc length of at
    // least 4 (even, at most 8192) turns both off.
    void SetMode(bool linearInterpolation, int filterCount, bool sinc, int sincLength,
                 int sincOversampling);

    // [audio thread] Rates in Hz, each raised to at least 1. Buffered input is
    // kept; call Reset afterwards to start a new stream.
    void SetRates(double inputRate, double outputRate);

    // [setup] allocates. Grows the input buffer for blocks of up to maxFrames
    // (the count given to ResamplePrepare) of `channels` channels (1..64) and
    // builds the low-pass bank and the sinc table the current mode and rates
    // use, so that such blocks allocate nothing. The stream is unchanged.
    // Call after SetMode and SetRates.
    void Reserve(int maxFrames, int channels);

    // [audio thread] Grants room for new input. count: output frames wanted,
    // or in feed mode input frames offered. channels: 1..64 (0 is returned and
    // *input left unset otherwise). Returns the number of input frames to
    // write at *input, channels interleaved; fewer (possibly 0) when the input
    // buffer cannot grow. Allocates only while the buffer grows to its
    // working size.
    int ResamplePrepare(int count, int channels, double** input);

    // [audio thread] no allocation once the buffers have their working size.
    // Consumes inputFrames (at most what ResamplePrepare granted; fewer means
    // end of stream: zeros are padded in and only outputs that come from real
    // input are returned) and writes up to outputFrames interleaved frames to
    // output. channels must be the one given to ResamplePrepare (0 is
    // returned for a count outside 1..64). Returns the frames written.
    int ResampleOut(double* output, int inputFrames, int outputFrames, int channels);

    // [any thread] Buffered input, less the zeros put in front in sinc mode,
    // in seconds of the input rate; at least 0.
    double GetLatencySeconds() const;

    double GetInputRate() const { return mInputRate; }
    double GetOutputRate() const { return mOutputRate; }
    double GetRatio() const { return mRatio; }
    double GetFractionalPosition() const { return mFractionalPos; }
    bool GetLinearInterpolation() const { return mLinear; }
    int GetFilterCount() const { return mFilterCount; }
    int GetSincLength() const { return mSincLength; }
    int GetSincOversampling() const { return mSincOversampling; }
    int GetBufferedFrames() const { return mBufferedFrames; }
    int GetFilterLatency() const { return mFilterLatency; }
    int GetSincTableLength() const { return mTableLength; }
    // Null until the first filtered block and after the sections are turned off.
    const ResamplerBiquad* GetLowPass() const { return mLowPass.get(); }

private:
    // Builds the polyphase table (sinc oversampling + 1 slices of sinc length
    // taps) for a cutoff relative to the input Nyquist frequency; nothing when
    // the table in use already matches.
    void DesignSincFilter(double cutoff);
    // Relative to the input Nyquist frequency: below it when downsampling.
    double SincCutoff() const;
    void RunLowPass(double* frames, int n, int channels, double position);

    double mInputRate = 44100.0;
    double mOutputRate = 44100.0;
    double mFractionalPos = 0.0;
    double mRatio = 1.0;
    double mLastSincCutoff = -1.0;
    KIT_TypedBuf<double> mInput;
    KIT_TypedBuf<double> mSincTable;
    std::unique_ptr<ResamplerBiquad> mLowPass;
    int mTableLength = 0;
    int mLastRequested = 0;
    int mFilterLatency = 0;
    int mBufferedFrames = 0;
    int mTableOversampling = 1;
    int mSincLength = 0;
    int mFilterCount = 1;
    int mSincOversampling = 0;
    bool mLinear = true;
    // Sinc mode puts its zeros in front of the first block after Reset only.
    bool mLeadPending = true;
};

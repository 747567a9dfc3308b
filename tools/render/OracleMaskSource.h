#pragma once
// Ideal masks from the true stems, for rendering what perfect predictions
// would give: at every frame of the plug-in's STFT, the stem whose mel-scaled
// magnitude (the networks' resolution) is largest in a bin gets 1 there and
// the others 0, ties to the lower stem number, as in the training data.
//
// The stems run through an STFT engine of their own, framed like the
// plug-in's: fed the same number of samples at the same moments (the
// predictor reports every block it takes in), it yields one set of masks per
// plug-in frame. Channel 0 of each stem is used, as the predictor reads
// channel 0 of the mix. 44100 Hz only (the plug-in's STFT rate, so no rate
// conversion shifts the frames).
//
// [tool thread] offline only: allocates as it goes.
#include "plugin/MaskPredictor.h"
#include "toolkit/FftProcessObj16.h"
#include "toolkit/KIT_TypedBuf.h"
#include "toolkit/MultichannelProcess.h"

#include <array>
#include <deque>
#include <memory>
#include <string>

class OracleMaskSource : public MaskPredictor::MaskSource {
public:
    static constexpr int kNumStems = MaskPredictor::kNumStems;
    using MelMasks = std::array<KIT_TypedBuf<double>, kNumStems>;

    // stems: channel 0 of vocals, bass, drums, other at 44100 Hz, host sample
    // 0 first; past its end a stem is silent.
    explicit OracleMaskSource(std::array<KIT_TypedBuf<double>, kNumStems> stems);
    ~OracleMaskSource() override;

    // Reads folder/"vocals.wav" .. "other.wav". Null with a message in error
    // when a file cannot be read or is not at 44100 Hz.
    static std::unique_ptr<OracleMaskSource> Load(const std::string& folder, std::string& error);

    // The host sample at which the next block starts: the renderer sets it
    // before each block it hands to the plug-in, so that blocks the plug-in
    // does not feed to its engine (silence) are skipped here too.
    void SetBlockStart(long sample) { mNext = sample; }

    void OnInputBlock(int frames) override;
    void NextMelMasks(MelMasks& melMasks) override;

    // Frames the predictor asked for before this source had framed them (a
    // sign of lost alignment; masks of zeros were given).
    long GetMissedFrames() const { return mMissed; }

    // The ideal mel masks of one frame from the stems' half-spectrum
    // magnitudes (bufferSize / 2 values each): mel reduction as the
    // predictor's, then one-hot per bin.
    static void IdealMelMasks(const std::array<KIT_TypedBuf<double>, kNumStems>& magnitudes,
                              MelMasks& melMasks);

private:
    class Capture;

    std::array<KIT_TypedBuf<double>, kNumStems> mStems;
    std::unique_ptr<Capture> mCapture;
    std::unique_ptr<FftProcessObj16> mEngine;
    FftProcessObj16::Buffers mBlock;
    std::deque<MelMasks> mFrames;
    long mNext = 0;
    long mMissed = 0;
};

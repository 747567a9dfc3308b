#pragma once
// Per-channel spectral processor of the separation: re-levels one channel's
// spectrum with the four stem masks of the shared MaskPredictor and the
// user's stem levels, keeps the channel's own phase, and resamples each hop
// of finished output from 44100 Hz back to the host rate.
//
// Per bin, with mk the stem masks and gk the stem gains:
//   soft = sum of gk * (masks after the sensitivity, normalised to sum 1,
//          sensitivity again) * magnitude;
//   hard = the gain of the stem with the largest mask (ties: the lower stem;
//          0 when stem 0 wins below 1e-10) * magnitude;
//   out  = soft * (1 - softHard) + hard * softHard.
// The sensitivity removes every mask value below its stem's threshold.
#include "toolkit/KIT_TypedBuf.h"
#include "toolkit/ProcessObj.h"
#include "toolkit/StreamResampler.h"

class MaskPredictor;

class StemvoltaProcessFftObj : public ProcessObj {
public:
    static constexpr int kNumStems = 4;
    static constexpr double kStftRate = 44100.0;

    // [main thread] predictor is not owned and may be null (the frame then
    // comes out silent). Gains 0, thresholds 1, soft only, host rate 44100.
    StemvoltaProcessFftObj(int bufferSize, MaskPredictor* predictor);
    ~StemvoltaProcessFftObj() override;

    // [audio thread or under the plug-in lock] The base reset, then the host
    // rate becomes sampleRate (the engine passes the STFT rate) and the output
    // resampler starts a new stream.
    void Reset(int bufferSize, int overlapping, int freqRes, double sampleRate) override;
    // [audio thread or under the plug-in lock] Clears the trackers and starts
    // a new output stream.
    void Reset() override;

    // [under the plug-in lock] Re-configures the output resampler (linear,
    // one low-pass section, feed mode) for 44100 Hz -> host rate and starts a
    // new stream.
    void ResetOutputResampler();
    // [under the plug-in lock] Host rate in Hz, then ResetOutputResampler (the
    // carried fraction stays).
    void SetHostSampleRate(double rate);
    // [main thread or under the plug-in lock] Sizes the output conversion for
    // hops of up to maxHop samples at the current host rate, so that such
    // hops allocate nothing from the first on. Call after SetHostSampleRate,
    // which re-configures the conversion; nothing for maxHop <= 0. Returns
    // the most samples such a hop becomes (at least maxHop; 0 for nothing).
    int PrepareHops(int maxHop);
    double GetHostSampleRate() const { return mHostSampleRate; }

    // [under the plug-in lock] stem 0..3 (others are ignored). gain: linear amplitude factor;
    // threshold: mask values below it are removed (0 keeps all, 1 keeps only
    // values of at least 1); softHard: 0 soft only .. 1 hard only.
    void SetStemGain(int stem, double gain);
    void SetStemThreshold(int stem, double threshold);
    void SetSoftHard(double softHard);
    double GetStemGain(int stem) const { return mGain[stem]; }
    double GetStemThreshold(int stem) const { return mThreshold[stem]; }
    double GetSoftHard() const { return mSoftHard; }

    // [audio thread] no allocation once the buffers have their sizes.
    // spectrum: bufferSize * freqRes bins, natural order; replaced by the
    // re-levelled, conjugate-symmetric spectrum.
    void ProcessSpectrum(KIT_TypedBuf<ComplexValue>* spectrum,
                         const KIT_TypedBuf<ComplexValue>* scSpectrum) override;
    // [audio thread] The same result step by step through the whole-buffer
    // conversions (magnitudes and phases, both mask paths, the blend, back to
    // bins): the plain reference of ProcessSpectrum's one-pass loop.
    void ProcessSpectrumReference(KIT_TypedBuf<ComplexValue>* spectrum);
    // [audio thread] The hop (44100 Hz) becomes its conversion to the host
    // rate: n * hostRate / 44100 samples, the fractions carried from hop to
    // hop. Nothing at a host rate of 44100 Hz.
    void ProcessOutputHop(KIT_TypedBuf<double>* hop) override;

    // [audio thread] out resized to magnitude's count. Masks shorter than the
    // magnitudes count as 0 beyond their end; no predictor gives all zeros.
    void ComputeMasksSoft(const KIT_TypedBuf<double>& magnitude, KIT_TypedBuf<double>& out) const;
    void ComputeMasksHard(const KIT_TypedBuf<double>& magnitude, KIT_TypedBuf<double>& out) const;

private:
    struct MaskRows {
        const double* data[kNumStems];
        int size[kNumStems];
    };
    // The predictor's mask rows; false without a predictor.
    bool TakeMaskRows(MaskRows& rows) const;
    // Sizes out like magnitude and takes the masks' rows; false (out zeroed
    // when sized) when there is nothing to compute.
    bool PrepareMaskOutput(const KIT_TypedBuf<double>& magnitude, KIT_TypedBuf<double>& out,
                           MaskRows& rows) const;
    // The four masks at bin i (0 past a mask's end).
    void MasksAt(const MaskRows& rows, int i, double m[kNumStems]) const;
    void ApplySensitivity(double m[kNumStems]) const;
    // One bin's factors of its magnitude from its four masks: the soft mix
    // and the hard choice.
    using MaskFactor = double (StemvoltaProcessFftObj::*)(const double*) const;
    // out[i] = factor(masks at bin i) * magnitude[i].
    void ScaleByMaskFactor(const KIT_TypedBuf<double>& magnitude, KIT_TypedBuf<double>& out,
                           MaskFactor factor) const;
    double SoftFactor(const double masks[kNumStems]) const;
    double HardFactor(const double masks[kNumStems]) const;
    // The two factors of bins 0 .. count - 1, all four rows holding count
    // values, into soft and hard (count each).
    void ComputeFactors(const MaskRows& rows, int count, double* soft, double* hard) const;

    MaskPredictor* mPredictor;
    double mGain[kNumStems] = {0.0, 0.0, 0.0, 0.0};
    double mThreshold[kNumStems] = {1.0, 1.0, 1.0, 1.0};
    double mSoftHard = 0.0;
    StreamResampler mOutputResampler;
    double mHostSampleRate = kStftRate;
    double mCarry = 0.0; // fraction of a host sample owed to the next hop

    // ProcessSpectrum's per-bin mask factors (half the frame each).
    KIT_TypedBuf<double> mSoftFactor;
    KIT_TypedBuf<double> mHardFactor;
    // The reference's steps only.
    KIT_TypedBuf<ComplexValue> mHalf; // bins 0 .. half - 1
    KIT_TypedBuf<double> mMagnitude;
    KIT_TypedBuf<double> mPhase;
    KIT_TypedBuf<double> mSoft;
    KIT_TypedBuf<double> mHard;
    KIT_TypedBuf<double> mBlend;
    KIT_TypedBuf<double> mResampled; // one converted hop
};

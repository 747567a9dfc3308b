#pragma once
// The Stemvolta plug-in: splits the mix into four stems (vocals, bass, drums,
// other) and re-levels them. Every host block runs through one STFT engine at
// 44100 Hz: the MaskPredictor resamples the input and computes four masks per
// frame from the left channel, two StemvoltaProcessFftObj (left, right) apply
// them with the user's levels and resample back to the host rate.
//
// Parameters 0-3: stem levels in dB (-120..12); 4-7: stem sensitivities in %
// (threshold = 1 - sensitivity / 100); 8: soft/hard blend in %; 9-12 exist for
// the host and do nothing.
//
// The host layer (the pure virtuals of IEffectBase) is supplied by a subclass.
#include "framework/IEffectBase.h"
#include "plugin/MaskPredictor.h"
#include "plugin/StemvoltaDumpFftObj.h"
#include "plugin/StemvoltaProcessFftObj.h"
#include "toolkit/DbgSpectrogram.h"
#include "toolkit/DspUtils.h"
#include "toolkit/FftProcessObj16.h"
#include "toolkit/SecureRestarter.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Stemvolta : public IEffectBase {
public:
    enum EParams {
        kVocal = 0,
        kBass,
        kDrums,
        kOther,
        kVocalSensitivity,
        kBassSensitivity,
        kDrumsSensitivity,
        kOtherSensitivity,
        kSoftHard,
        kNumUsedParams,
        kNumParams = 13
    };
    static constexpr int kNumStems = MaskPredictor::kNumStems;
    static constexpr int kFftSize = 2048;
    static constexpr int kOverlapping = 4;
    static constexpr int kFreqRes = 1;
    static constexpr double kStftRate = MaskPredictor::kStftRate;
    static constexpr int32_t kVersion = 0x00050505;

    // [main thread] graphics: the plug-in's graphics context, owned from here
    // on; the models are read from its resources folder (null: no models, so
    // the output stays silent). Builds the whole separation chain.
    explicit Stemvolta(IGraphics* graphics);
    ~Stemvolta() override;

    // [host thread, or audio thread on transport start] under the plug-in
    // mutex: re-rates the chain to the current sample rate (see ChainRate),
    // restarts it, arms the fade-in and announces the latency. Allocates
    // while it prepares the audio path for a new block size or rate.
    void Reset() override;
    // [host or GUI thread] under the plug-in mutex: derives the stem gain,
    // threshold or blend from the parameter's value and hands it to both
    // processors. Indexes outside 0-8 do nothing.
    void OnParamChange(int index) override;
    // [audio thread] under the plug-in mutex (taken by the adapter); no
    // allocation for blocks up to the block size the chain was reset for.
    // One or two inputs and outputs. Silence (input and previous output all
    // zero) is copied through without feeding the chain once the chain holds
    // nothing but silence (twice the latency of silent input since the last
    // sound, or a reset).
    void ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) override;
    void PrepareGUIResize() override {}

    // [host or GUI thread] The derived values as last computed; stem 0..3.
    double GetStemGain(int stem) const { return mGains[stem]; }
    double GetStemThreshold(int stem) const { return mThresholds[stem]; }
    double GetSoftHard() const { return mSoftHard; }

    // [host thread] The chain's members for tests and tools, owned by the
    // plug-in; null before the chain is built. i in 0 .. NProcessors() - 1.
    const FftProcessObj16* GetEngine() const { return mEngines[0].get(); }
    const MaskPredictor* GetPredictor() const { return mPredictor.get(); }
    int NProcessors() const { return static_cast<int>(mProcessors.size()); }
    const StemvoltaProcessFftObj* GetProcessor(int i) const { return mProcessors[i].get(); }

    // --- Training-data export (offline; nothing in the plug-in calls these) ---
    // [export thread] datasetDir: a split folder holding "Tracks.txt" (one
    // track name per line), "Mixtures/<track>/mixture.wav" and
    // "Sources/<track>/{vocals,bass,drums,other}.wav"; outputDir receives
    // "mix.dat", "mask0.dat" .. "mask3.dat" and "dump.txt", all appended.
    // Empty or null: the current folder.
    void SetLearnFolders(const char* datasetDir, const char* outputDir);
    // Collects the exported mel frames and masks of the first 51 blocks and
    // then writes them as pictures into the debug folder, once: "learn-mix.ppm"
    // and "learn-source0.ppm" .. "learn-source3.ppm" (see DbgSpectrogram).
    void SetLearnDebug(bool on);
    // [export thread] Builds the four capture engines (they replace the
    // playback engine: the instance no longer plays) or resets them, then
    // exports the dataset. Each track needs its five files at 44100 Hz with
    // equal lengths, else it is skipped with a message on standard error and
    // in "dump.txt". Returns the number of tracks exported, -1 when
    // "Tracks.txt" cannot be read.
    int InitLearn(int overlapping, int freqRes);

private:
    void InitParameters();
    // Builds the predictor, the two processors and engine 0.
    void InitProcessing(int overlapping, int freqRes);
    // Engine and host latency: n + n / 4 with n = ceil(ChainRate() / 44100 *
    // 2048).
    void UpdateLatency();
    // The host rate the chain runs at: the sample rate, or 44100 Hz when it
    // is outside 8000 .. 768000 Hz (or not a number), which no host uses and
    // which would size the chain's buffers from nonsense.
    double ChainRate() const;
    // Prepares the audio path at the current rate for host blocks of up to
    // blockSize samples: channel lists, fade-in window, the predictor's and
    // processors' rate conversion, the engine's FIFOs. Allocates.
    void PrepareBuffers(int blockSize);

    // Only engine 0 plays; the others belong to the training-data export.
    std::array<std::unique_ptr<FftProcessObj16>, 4> mEngines;
    std::vector<std::unique_ptr<StemvoltaProcessFftObj>> mProcessors;
    std::unique_ptr<MaskPredictor> mPredictor;
    std::array<double, kNumStems> mGains{};
    std::array<double, kNumStems> mThresholds{};
    double mSoftHard = 0.0;
    SecureRestarter mFadeIn;
    // Host samples of silent input the chain has taken since it last took
    // sound; kChainEmpty after a reset.
    static constexpr int64_t kChainEmpty = INT64_MAX / 2;
    int64_t mSilenceFed = kChainEmpty;

    // Audio path storage, reused every block.
    DspUtils::ChannelList mInputs;
    DspUtils::ChannelList mScInputs;
    DspUtils::ChannelList mOutputs;
    DspUtils::ChannelList mStereoInputs; // a mono input twice

    // Training-data export (see InitLearn).
    int DumpDataset();
    // Channel 0 of the track's five files into the mix and source buffers;
    // false, with reason set, when one is unreadable or they differ in rate
    // or length.
    bool ReadTrack(const std::string& mixPath, const std::string (&sourcePaths)[kNumStems],
                   std::string* reason);
    void ProcessTrack();
    void ConsumeTrackSamples(int n);
    void ExportSlices();
    void WriteLearnImages();
    std::string LearnOutputPath(const char* name) const;
    // Every entry of a spectrum history to its mel frame.
    static void DownsampleHistory(const std::vector<KIT_TypedBuf<double>>& history,
                                  std::vector<KIT_TypedBuf<double>>& mel);
    // In place: per entry and bin, 1 for the stem with the largest value (ties
    // to the lower stem), 0 for the others.
    static void IdealMasks(std::array<std::vector<KIT_TypedBuf<double>>, kNumStems>& sources);

    std::array<std::unique_ptr<StemvoltaDumpFftObj>, kNumStems> mDumpObjs;
    KIT_TypedBuf<double> mLearnMix;
    std::array<KIT_TypedBuf<double>, kNumStems> mLearnSources;
    int mLearnPos = 0; // samples of the track already exported
    FftProcessObj16::Buffers mLearnIn;
    FftProcessObj16::Buffers mLearnSc;
    bool mLearnDebug = false;
    // mix, then the four stems
    std::array<std::unique_ptr<DbgSpectrogram>, kNumStems + 1> mLearnSpectrograms;
    std::string mLearnDatasetDir;
    std::string mLearnOutputDir;
    int mExportCalls = 0;
};

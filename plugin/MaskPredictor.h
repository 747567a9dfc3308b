#pragma once
// The separation's mask predictor: the STFT engine's cross-channel observer.
// In front of the engine it resamples the host's input blocks to 44100 Hz, so
// the STFT always runs at 44100 Hz. At every frame it turns channel 0's
// magnitude spectrum into a mel frame of bufferSize / 8 values, keeps the last
// four frames (oldest first) and runs one network per stem on them (0 vocals,
// 1 bass, 2 drums, 3 other). Each stem's mask holds bufferSize / 2 linear
// bins; both channel processors read the same masks.
//
// Models: "dnn-model-source<k>.model" in the resources folder. A stem whose
// model is missing or fails (load, predict, an output under 256 values) gets
// a mask of zeros; the engine's error report is the only message.
#include "nn/nn_dispatcher.h"
#include "nn/nn_model.h"
#include "nn/nn_predict_scratch.h"
#include "nn/nn_tensor.h"
#include "toolkit/KIT_TypedBuf.h"
#include "toolkit/MultichannelProcess.h"
#include "toolkit/StreamResampler.h"

#include <array>
#include <memory>

class IGraphics;

class MaskPredictor : public MultichannelProcess {
public:
    static constexpr int kNumStems = 4;
    static constexpr int kHistorySize = 4;
    static constexpr double kStftRate = 44100.0;
    // Width of one linear bin of the 2048-point STFT at 44100 Hz, in Hz.
    static constexpr double kHzPerBin = 43.06640625;
    // Values of a model output read as the stem's mel-scaled mask.
    static constexpr int kMaskMelBins = 256;

    // [main thread] Loads the four models from graphics' resources folder
    // (paths begin with "/" when graphics is null or has no folder), runs
    // each once on a zero input (its working storage reaches its size; the
    // masks stay zero) and prepares every buffer, so that the frame road
    // allocates nothing from its first frame on. bufferSize is the STFT frame
    // (2048 here); the host rate starts at sampleRate.
    MaskPredictor(int bufferSize, IGraphics* graphics, int overlapping, int freqRes,
                  double sampleRate);
    ~MaskPredictor() override;

    // Offline tools and tests only (the plug-in never sets one): supplies the
    // stems' mel masks in place of the models' outputs, e.g. ideal masks
    // computed from the true stems. Its masks are expanded to linear bins
    // exactly as model outputs are.
    class MaskSource {
    public:
        virtual ~MaskSource() = default;
        // [audio thread] The engine is about to buffer `frames` 44100 Hz
        // samples of the host input (after the rate conversion).
        virtual void OnInputBlock(int frames) = 0;
        // [audio thread] Called once per frame, in frame order: melMasks[k]
        // becomes stem k's mask of kMaskMelBins values (another size counts
        // as a failed prediction: a mask of zeros).
        virtual void NextMelMasks(std::array<KIT_TypedBuf<double>, kNumStems>& melMasks) = 0;
    };
    // source: not owned, must outlive its use; null (the default) restores
    // the models.
    void SetMaskSource(MaskSource* source) { mMaskSource = source; }

    // [audio thread or under the plug-in lock] Re-configures both input
    // resamplers (linear, one low-pass section, feed mode) for host rate ->
    // 44100 Hz and starts new streams.
    void ResetResamplers();
    // [under the plug-in lock] Host rate in Hz, then ResetResamplers.
    void SetHostSampleRate(double rate);
    double GetHostSampleRate() const { return mHostSampleRate; }

    // [under the plug-in lock] allocates. Makes room in the input path for
    // host blocks of up to maxHostBlock samples at the current host rate, so
    // that ProcessInputBlock allocates nothing for them. The streams are
    // unchanged. Returns the most 44100 Hz samples such a block can become.
    int PrepareBlocks(int maxHostBlock);

    // [audio thread or under the plug-in lock] Restarts the input streams. The
    // four-value form (the engine's) only stores the values. Neither touches
    // the history or the masks.
    void Reset() override;
    void Reset(int bufferSize, int overlapping, int freqRes, double sampleRate) override;

    // [audio thread] no allocation once the blocks' sizes have been seen.
    // Replaces channels 0 and 1 by their 44100 Hz conversion (nothing at a host
    // rate of 44100 Hz). Every host sample is fed; the 44100 Hz stream is
    // continuous and its length tracks the host input.
    void ProcessInputBlock(const SampleBufs& mains, const SampleCopies* sc) override;
    // [audio thread] no allocation after the first frames, no thread started.
    // Channel 0's spectrum (bufferSize * freqRes bins) -> history -> masks.
    void ProcessSpectrum(const SpectrumBufs& mains, const SpectrumCopies* sc) override;

    // Mask of one stem (stem 0..3): bufferSize / 2 values, zeros before the
    // first frame. Read by the channel processors on the audio thread.
    const KIT_TypedBuf<double>& GetMaskBuf(int stem) const { return mMasks[stem]; }
    // Copies one mask into out (allocates when out is smaller).
    void GetMask(int stem, KIT_TypedBuf<double>& out) const;
    bool HasModel(int stem) const { return mModels[stem] != nullptr; }
    // History entry age 0 = oldest .. kHistorySize - 1 = newest mel frame.
    const KIT_TypedBuf<double>& GetHistoryEntry(int age) const;
    const StreamResampler& GetInputResampler(int channel) const { return mResamplers[channel]; }
    // Threads of the pool the models predict on (1: they run on the caller).
    int GetPredictionThreads() const { return mDispatcher.threadsCount(); }

    // [audio thread] A half spectrum's magnitudes to a mel frame of a quarter
    // of their count (mel mapping, then linear resize). melFrame must not be
    // magns; it keeps its block when it has held magns' count before.
    static void DownsampleSpectrum(const KIT_TypedBuf<double>& magns,
                                   KIT_TypedBuf<double>& melFrame);
    // [audio thread] In place: a mel mask to 4 times its count linear bins
    // (linear resize, then the inverse mel mapping), negatives to 0.
    static void UpsampleMask(KIT_TypedBuf<double>& mask, KIT_TypedBuf<double>& work);

private:
    void PredictMasks();
    // mask = the expanded first 256 outputs of the model, or zeros.
    void PredictMask(int stem);
    // In place: kMaskMelBins mel values to the linear mask (zeros for any
    // other size).
    void ExpandMelMask(KIT_TypedBuf<double>& mask);
    void ResampleBlock(int channel, KIT_TypedBuf<double>& block);
    // 44100 Hz samples needed for hostFrames host samples (buffered ones
    // included), with a margin for the interpolation's rounding.
    int ConvertedRoom(double hostFrames) const;

    int mBufferSize;
    int mOverlapping;
    int mFreqRes;
    double mSampleRate; // the STFT rate
    std::array<KIT_TypedBuf<double>, kNumStems> mMasks;
    std::array<std::unique_ptr<nn::Model>, kNumStems> mModels;
    // Ring of mel frames; mHistoryStart is the oldest.
    std::array<KIT_TypedBuf<double>, kHistorySize> mHistory;
    int mHistoryStart = 0;
    std::array<StreamResampler, 2> mResamplers;
    double mHostSampleRate;

    // One pool of one thread for every prediction: no thread is ever created
    // or joined on the audio thread.
    nn::Dispatcher mDispatcher{1};
    std::array<nn::PredictScratch, kNumStems> mScratch;
    nn::Tensor mInput;                        // (4 * mel bins) model input
    nn::Tensor mOutput;                       // a model's output
    KIT_TypedBuf<ComplexValue> mHalfSpectrum; // bins 0 .. half - 1 of channel 0
    KIT_TypedBuf<double> mMagns;
    KIT_TypedBuf<double> mWork;
    KIT_TypedBuf<double> mResampled; // one converted block
    MaskSource* mMaskSource = nullptr;
};

#include "tools/render/OracleMaskSource.h"

#include "toolkit/AudioFile.h"
#include "toolkit/DspUtilsSpectrum.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr int kFftSize = 2048;
constexpr int kOverlapping = 4;
constexpr int kFreqRes = 1;
constexpr double kRate = MaskPredictor::kStftRate;

const char* const kStemFiles[OracleMaskSource::kNumStems] = {"vocals.wav", "bass.wav", "drums.wav",
                                                             "other.wav"};

} // namespace

// Sees every frame's spectra of the four stems and queues their ideal masks.
class OracleMaskSource::Capture : public MultichannelProcess {
public:
    explicit Capture(std::deque<MelMasks>& frames) : mFrames(frames) {}

    void ProcessSpectrum(const SpectrumBufs& mains, const SpectrumCopies*) override {
        if (static_cast<int>(mains.size()) < kNumStems) return;
        for (int k = 0; k < kNumStems; ++k) {
            const KIT_TypedBuf<ComplexValue>& spectrum = *mains[k];
            const int half = spectrum.GetSize() / 2;
            mHalf.Resize(half);
            std::memcpy(mHalf.Get(), spectrum.Get(), sizeof(ComplexValue) * half);
            DspUtils::ComplexToMagn(mMagns[k], mHalf);
        }
        mFrames.emplace_back();
        IdealMelMasks(mMagns, mFrames.back());
    }

private:
    std::deque<MelMasks>& mFrames;
    KIT_TypedBuf<ComplexValue> mHalf;
    std::array<KIT_TypedBuf<double>, kNumStems> mMagns;
};

OracleMaskSource::OracleMaskSource(std::array<KIT_TypedBuf<double>, kNumStems> stems)
    : mStems(std::move(stems)), mCapture(std::make_unique<Capture>(mFrames)) {
    FftProcessObj16::Init();
    // The plug-in engine's framing and analysis window; nothing is resynthesised.
    mEngine = std::make_unique<FftProcessObj16>(std::vector<ProcessObj*>(), kNumStems, 0, kFftSize,
                                                kOverlapping, kRate, kFreqRes);
    mEngine->SetAnalysisWindow(-1, 1);
    mEngine->SetSynthesisWindow(-1, 1);
    mEngine->SetKeepSynthesisEnergy(-1, false);
    mEngine->AddMultichannelProcess(mCapture.get());
    mBlock.resize(kNumStems);
}

OracleMaskSource::~OracleMaskSource() {
    // The engine calls into the capture: it goes first.
    mEngine.reset();
}

std::unique_ptr<OracleMaskSource> OracleMaskSource::Load(const std::string& folder,
                                                         std::string& error) {
    std::array<KIT_TypedBuf<double>, kNumStems> stems;
    for (int k = 0; k < kNumStems; ++k) {
        const std::string path = folder + "/" + kStemFiles[k];
        AudioFile::ChannelList channels;
        const std::unique_ptr<AudioFile> file = AudioFile::Load(path.c_str(), &channels);
        if (!file || channels.empty()) {
            error = "cannot read the stem " + path;
            return nullptr;
        }
        if (file->GetSampleRate() != kRate) {
            error = "the stem " + path + " is not at 44100 Hz";
            return nullptr;
        }
        stems[k] = std::move(channels[0]);
    }
    return std::make_unique<OracleMaskSource>(std::move(stems));
}

void OracleMaskSource::OnInputBlock(int frames) {
    if (frames <= 0) return;
    for (int k = 0; k < kNumStems; ++k) {
        KIT_TypedBuf<double>& block = mBlock[k];
        block.Resize(frames);
        const KIT_TypedBuf<double>& stem = mStems[k];
        for (int i = 0; i < frames; ++i) {
            const long t = mNext + i;
            block[i] = t >= 0 && t < stem.GetSize() ? stem[static_cast<int>(t)] : 0.0;
        }
    }
    mNext += frames;
    mEngine->Process(mBlock, FftProcessObj16::Buffers(), nullptr);
}

void OracleMaskSource::NextMelMasks(MelMasks& melMasks) {
    if (mFrames.empty()) {
        ++mMissed;
        for (KIT_TypedBuf<double>& mask : melMasks) mask.Resize(0);
        return;
    }
    for (int k = 0; k < kNumStems; ++k) std::swap(melMasks[k], mFrames.front()[k]);
    mFrames.pop_front();
}

void OracleMaskSource::IdealMelMasks(const std::array<KIT_TypedBuf<double>, kNumStems>& magnitudes,
                                     MelMasks& melMasks) {
    std::array<KIT_TypedBuf<double>, kNumStems> mel;
    for (int k = 0; k < kNumStems; ++k) MaskPredictor::DownsampleSpectrum(magnitudes[k], mel[k]);
    const int bins = mel[0].GetSize();
    for (int k = 0; k < kNumStems; ++k) {
        melMasks[k].Resize(bins);
        for (int b = 0; b < bins; ++b) melMasks[k][b] = 0.0;
    }
    for (int b = 0; b < bins; ++b) {
        int best = 0;
        // Strictly larger replaces: ties keep the lower stem.
        for (int k = 1; k < kNumStems; ++k)
            if (mel[k].GetSize() == bins && mel[k][b] > mel[best][b]) best = k;
        melMasks[best][b] = 1.0;
    }
}

#include "plugin/Stemvolta.h"

#include "framework/IGraphics.h"
#include "framework/KIT_Mutex.h"
#include "toolkit/DspUtilsScale.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int32_t FourCharCode(const char (&code)[5]) {
    return (static_cast<int32_t>(code[0]) << 24) | (static_cast<int32_t>(code[1]) << 16) |
           (static_cast<int32_t>(code[2]) << 8) | static_cast<int32_t>(code[3]);
}

constexpr double kMinLevelDb = -120.0;
constexpr double kMaxLevelDb = 12.0;
// Host rates the chain accepts, in Hz.
constexpr double kMinChainRate = 8000.0;
constexpr double kMaxChainRate = 768000.0;

const char* const kLevelNames[Stemvolta::kNumStems] = {"Vocal", "Bass", "Drums", "Other"};
const char* const kSensitivityNames[Stemvolta::kNumStems] = {
    "VocalSensitivity", "BassSensitivity", "DrumsSensitivity", "OtherSensitivity"};

} // namespace

Stemvolta::Stemvolta(IGraphics* graphics)
    : IEffectBase(kNumParams, "1-1-0 2-2-0", 1, "QX Stemvolta", "", "Corvena", kVersion,
                  FourCharCode("pqe9"), FourCharCode("CrVn"), 2048, false, false, false, kAPIAU) {
    FftProcessObj16::Init();
    mGains.fill(0.0);
    mThresholds.fill(1.0);
    mSoftHard = 0.0;
    InitParameters();
    AttachGraphics(graphics);
    InitProcessing(kOverlapping, kFreqRes);
    MakeDefaultPreset("-", 1);
    SetChannelLabels();
}

Stemvolta::~Stemvolta() {
    // The engines call into the processors and the predictor: they go first.
    for (auto& engine : mEngines) engine.reset();
    mProcessors.clear();
    mPredictor.reset();
}

void Stemvolta::InitParameters() {
    // 0 dB at the middle of the level knobs' travel.
    const double levelShape = DspUtils::ComputeShapeForCenter0(kMinLevelDb, kMaxLevelDb);
    for (int k = 0; k < kNumStems; ++k) {
        IParam* level = GetParam(kVocal + k);
        level->InitDouble(kLevelNames[k], 0.0, kMinLevelDb, kMaxLevelDb, 0.1, "dB", "", 1.0);
        level->SetShape(levelShape);
    }
    GetParam(kSoftHard)->InitDouble("SoftHard", 0.0, 0.0, 100.0, 0.1, "%", "", 1.0);
    for (int k = 0; k < kNumStems; ++k)
        GetParam(kVocalSensitivity + k)
            ->InitDouble(kSensitivityNames[k], 100.0, 0.0, 100.0, 0.1, "%", "", 1.0);
}

void Stemvolta::InitProcessing(int overlapping, int freqRes) {
    const double rate = ChainRate();
    mPredictor =
        std::make_unique<MaskPredictor>(kFftSize, GetGUI(), overlapping, freqRes, kStftRate);
    mPredictor->SetHostSampleRate(rate);

    std::vector<ProcessObj*> channels;
    for (int i = 0; i < 2; ++i) {
        auto processor = std::make_unique<StemvoltaProcessFftObj>(kFftSize, mPredictor.get());
        processor->SetHostSampleRate(rate);
        channels.push_back(processor.get());
        mProcessors.push_back(std::move(processor));
    }

    // Constructing the engine resets the processors at the STFT rate; the
    // next Reset gives them the host rate again.
    mEngines[0] = std::make_unique<FftProcessObj16>(channels, 2, 0, kFftSize, overlapping,
                                                    kStftRate, freqRes);
    FftProcessObj16& engine = *mEngines[0];
    engine.SetAnalysisWindow(-1, 1);
    engine.SetSynthesisWindow(-1, 1);
    engine.SetKeepSynthesisEnergy(-1, false);
    engine.AddMultichannelProcess(mPredictor.get());
    UpdateLatency();
}

double Stemvolta::ChainRate() const {
    const double rate = GetSampleRate();
    return rate >= kMinChainRate && rate <= kMaxChainRate ? rate : kStftRate;
}

void Stemvolta::UpdateLatency() {
    if (!mEngines[0]) return;
    const int n = static_cast<int>(std::ceil(ChainRate() / kStftRate * kFftSize));
    for (auto& engine : mEngines)
        if (engine) engine->SetLatency(n + n / 4);
    SetLatency(mEngines[0]->GetLatency());
}

void Stemvolta::Reset() {
    KIT_Mutex::ScopedLock lock(GetMutex());
    mFadeIn.Arm();
    mSilenceFed = kChainEmpty;
    for (auto& engine : mEngines)
        if (engine) engine->Reset(kFftSize, kOverlapping, kFreqRes, kStftRate);
    for (auto& processor : mProcessors)
        processor->Reset(kFftSize, kOverlapping, kFreqRes, kStftRate);
    const double rate = ChainRate();
    if (mPredictor) mPredictor->SetHostSampleRate(rate);
    // After the engine's resets, which left the processors at the STFT rate.
    for (auto& processor : mProcessors) processor->SetHostSampleRate(rate);
    UpdateLatency();
    PrepareBuffers(GetBlockSize());
}

void Stemvolta::PrepareBuffers(int blockSize) {
    if (blockSize <= 0) return;
    for (DspUtils::ChannelList* list : {&mInputs, &mOutputs, &mStereoInputs}) {
        if (list->size() < 2) list->resize(2);
        for (KIT_TypedBuf<double>& buf : *list) buf.Resize(blockSize, false);
    }
    mFadeIn.Prepare(blockSize);
    if (!mEngines[0] || !mPredictor) return;
    const int stftBlock = mPredictor->PrepareBlocks(blockSize);
    int hostHop = kFftSize / kOverlapping;
    for (auto& processor : mProcessors)
        hostHop = std::max(hostHop, processor->PrepareHops(kFftSize / kOverlapping));
    mEngines[0]->Reserve(stftBlock, blockSize, hostHop);
}

void Stemvolta::OnParamChange(int index) {
    KIT_Mutex::ScopedLock lock(GetMutex());
    const IParam* param = GetParam(index);
    if (!param || index >= kNumUsedParams) return;
    const double value = param->Value();
    if (index <= kOther) {
        const int stem = index - kVocal;
        mGains[stem] = param->DBToAmp();
        for (auto& processor : mProcessors) processor->SetStemGain(stem, mGains[stem]);
    } else if (index <= kOtherSensitivity) {
        const int stem = index - kVocalSensitivity;
        mThresholds[stem] = value / -100.0 + 1.0;
        for (auto& processor : mProcessors) processor->SetStemThreshold(stem, mThresholds[stem]);
    } else {
        mSoftHard = value / 100.0;
        for (auto& processor : mProcessors) processor->SetSoftHard(mSoftHard);
    }
}

void Stemvolta::ProcessDoubleReplacing(double** inputs, double** outputs, int nFrames) {
    UpdateTransportState();
    DetectDuplicatedSideChain(nFrames);

    DspUtils::GetPlugIOBuffers(*this, inputs, outputs, nFrames, mInputs, mScInputs, mOutputs);
    if (mInputs.empty() || mOutputs.empty() || !mEngines[0]) return;

    // Silence bypasses the chain only once it has flushed every sound it
    // took: a short sound followed by silence must come out after the
    // latency, not stay in the chain until the next sound pushes it out. A
    // sound's last frame leaves the chain a latency plus a frame (n host
    // samples, the latency being n + n / 4) after the sound; twice the
    // latency leaves a hop for the rate converters.
    const bool inputSilent =
        DspUtils::IsAllZero(mInputs[0]) && (mInputs.size() < 2 || DspUtils::IsAllZero(mInputs[1]));
    if (inputSilent && mSilenceFed >= 2 * static_cast<int64_t>(GetLatency()) &&
        DspUtils::PlugIOAllZero(mInputs, mOutputs)) {
        DspUtils::CopyStereoBuffers(inputs, outputs, nFrames);
        return;
    }

    mFadeIn.Process(mInputs);
    const DspUtils::ChannelList* chainInputs = &mInputs;
    if (mInputs.size() == 1) {
        // Mono: the one channel is processed as both sides of a stereo pair.
        if (mStereoInputs.size() < 2) mStereoInputs.resize(2);
        const KIT_TypedBuf<double>& mono = mInputs[0];
        for (KIT_TypedBuf<double>& side : mStereoInputs) {
            side.Resize(mono.GetSize(), false);
            if (mono.GetSize() > 0 && side.GetSize() == mono.GetSize())
                std::memcpy(side.Get(), mono.Get(), sizeof(double) * mono.GetSize());
        }
        chainInputs = &mStereoInputs;
    }
    // Outputs are zeros until the latency is filled; the result is not needed.
    mEngines[0]->Process(*chainInputs, mScInputs, &mOutputs);
    mSilenceFed = inputSilent ? std::min(mSilenceFed + nFrames, kChainEmpty) : 0;
    DspUtils::PlugCopyOutputs(mOutputs, outputs, nFrames);
}

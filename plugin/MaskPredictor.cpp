#include "plugin/MaskPredictor.h"

#include "framework/IGraphics.h"
#include "plugin/StemResampler.h"
#include "toolkit/BufReserve.h"
#include "toolkit/DspUtils.h"
#include "toolkit/DspUtilsScale.h"
#include "toolkit/DspUtilsSpectrum.h"
#include "toolkit/KIT_String.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

const char* const kModelFileNames[MaskPredictor::kNumStems] = {
    "dnn-model-source0.model", "dnn-model-source1.model", "dnn-model-source2.model",
    "dnn-model-source3.model"};

// Sizes a buffer to n zeros after growing it to capacity elements once, so
// that later resizes up to capacity keep its block.
void PrepareZeros(KIT_TypedBuf<double>& buf, int capacity, int n) {
    kitbuf::ReserveCapacity(buf, capacity);
    buf.Resize(n, false);
    DspUtils::FillZero(buf);
}

} // namespace

MaskPredictor::MaskPredictor(int bufferSize, IGraphics* graphics, int overlapping, int freqRes,
                             double sampleRate)
    : mBufferSize(bufferSize), mOverlapping(overlapping), mFreqRes(freqRes),
      mSampleRate(sampleRate), mHostSampleRate(sampleRate) {
    KIT_String folder;
    folder.Set("");
    if (graphics) graphics->ResourcesFolderPath(folder);
    for (int k = 0; k < kNumStems; ++k) {
        char path[2048];
        std::snprintf(path, sizeof(path), "%s/%s", folder.Get(), kModelFileNames[k]);
        mModels[k] = nn::Model::create(path);
    }

    const int half = std::max(1, bufferSize * std::max(1, freqRes) / 2);
    for (KIT_TypedBuf<double>& frame : mHistory) PrepareZeros(frame, half, bufferSize / 8);
    for (KIT_TypedBuf<double>& mask : mMasks) PrepareZeros(mask, half, half);
    PrepareZeros(mMagns, half, half);
    PrepareZeros(mWork, half, half);
    mHalfSpectrum.Resize(half, false);
    mInput.resize(static_cast<uint64_t>(kHistorySize) * (bufferSize / 8));
    // A model's first prediction sizes its working storage; done here, on
    // zeros, it leaves every frame's prediction allocation-free. The output
    // is dropped: the masks stay zero until the first frame.
    for (int k = 0; k < kNumStems; ++k)
        if (mModels[k]) mModels[k]->predict(mInput, mOutput, mDispatcher, mScratch[k]);
    ResetResamplers();
}

MaskPredictor::~MaskPredictor() = default;

void MaskPredictor::ResetResamplers() {
    for (StreamResampler& r : mResamplers) ConfigureStemResampler(r, mHostSampleRate, kStftRate);
}

void MaskPredictor::SetHostSampleRate(double rate) {
    mHostSampleRate = rate;
    ResetResamplers();
}

int MaskPredictor::PrepareBlocks(int maxHostBlock) {
    if (maxHostBlock <= 0) return 0;
    if (mHostSampleRate == kStftRate) return maxHostBlock;
    for (StreamResampler& r : mResamplers) r.Reserve(maxHostBlock, 1);
    // The interpolators keep at most two host samples between blocks.
    const int room = ConvertedRoom(maxHostBlock + 2.0);
    if (room > 0) kitbuf::ReserveCapacity(mResampled, room);
    return std::max(room, maxHostBlock);
}

int MaskPredictor::ConvertedRoom(double hostFrames) const {
    const double room = std::ceil(hostFrames * kStftRate / mHostSampleRate) + 2;
    return room < INT_MAX ? static_cast<int>(room) : -1;
}

void MaskPredictor::Reset() {
    Reset(mBufferSize, mOverlapping, mFreqRes, mSampleRate);
    for (StreamResampler& r : mResamplers) {
        r.Reset(0.0);
        r.SetRates(mHostSampleRate, kStftRate);
    }
}

void MaskPredictor::Reset(int bufferSize, int overlapping, int freqRes, double sampleRate) {
    mBufferSize = bufferSize;
    mOverlapping = overlapping;
    mFreqRes = freqRes;
    mSampleRate = sampleRate;
}

void MaskPredictor::ProcessInputBlock(const SampleBufs& mains, const SampleCopies* sc) {
    if (mHostSampleRate != kStftRate) {
        const int channels = std::min(static_cast<int>(mains.size()), 2);
        for (int i = 0; i < channels; ++i)
            if (mains[i]) ResampleBlock(i, *mains[i]);
    }
    if (mMaskSource && !mains.empty() && mains[0]) mMaskSource->OnInputBlock(mains[0]->GetSize());
}

void MaskPredictor::ResampleBlock(int channel, KIT_TypedBuf<double>& block) {
    const int count = block.GetSize();
    // An empty block must not reach ResampleOut: fed below what the last
    // prepare granted, the resampler would pad zeros into the stream.
    if (count <= 0) return;
    StreamResampler& resampler = mResamplers[channel];
    double* input = nullptr;
    const int fed = std::min(resampler.ResamplePrepare(count, 1, &input), count);
    if (fed > 0) std::memcpy(input, block.Get(), sizeof(double) * static_cast<size_t>(fed));

    // Room for every 44100 Hz sample the buffered and new host samples cover,
    // so that nothing is left behind to pile up in the resampler.
    const int room = ConvertedRoom(static_cast<double>(resampler.GetBufferedFrames()) + fed);
    if (room < 0) return;
    mResampled.Resize(room, false);
    if (mResampled.GetSize() != room) return;
    const int produced = resampler.ResampleOut(mResampled.Get(), fed, room, 1);

    block.Resize(produced, false);
    if (block.GetSize() != produced) return;
    if (produced > 0)
        std::memcpy(block.Get(), mResampled.Get(), sizeof(double) * static_cast<size_t>(produced));
}

void MaskPredictor::DownsampleSpectrum(const KIT_TypedBuf<double>& magns,
                                       KIT_TypedBuf<double>& melFrame) {
    DspUtils::LinearToMel(melFrame, magns, kHzPerBin, 0.0);
    DspUtils::ResizeLinear(melFrame, magns.GetSize() / 4);
}

void MaskPredictor::UpsampleMask(KIT_TypedBuf<double>& mask, KIT_TypedBuf<double>& work) {
    DspUtils::ResizeLinear(mask, mask.GetSize() * 4);
    DspUtils::MelToLinear(work, mask, kHzPerBin, 0.0);
    std::swap(mask, work);
    DspUtils::ClipMin(mask, 0.0);
}

void MaskPredictor::ProcessSpectrum(const SpectrumBufs& mains, const SpectrumCopies* sc) {
    if (mains.empty() || !mains[0]) return;
    const KIT_TypedBuf<ComplexValue>& spectrum = *mains[0];
    const int half = spectrum.GetSize() / 2;
    if (half < 4) return;

    // Magnitudes of bins 0 .. half - 1 of channel 0.
    mHalfSpectrum.Resize(half, false);
    if (mHalfSpectrum.GetSize() != half) return;
    std::memcpy(mHalfSpectrum.Get(), spectrum.Get(), sizeof(ComplexValue) * half);
    DspUtils::ComplexToMagn(mMagns, mHalfSpectrum);

    // The oldest frame's buffer takes the new frame and becomes the newest.
    DownsampleSpectrum(mMagns, mHistory[mHistoryStart]);
    mHistoryStart = (mHistoryStart + 1) % kHistorySize;

    // Model input: the four frames one after another, oldest first.
    const int melBins = mHistory[mHistoryStart].GetSize();
    mInput.resize(static_cast<uint64_t>(kHistorySize) * melBins);
    float* input = mInput.data();
    for (int age = 0; age < kHistorySize; ++age) {
        const KIT_TypedBuf<double>& frame = GetHistoryEntry(age);
        const int n = std::min(frame.GetSize(), melBins);
        for (int i = 0; i < n; ++i) *input++ = static_cast<float>(frame[i]);
        for (int i = n; i < melBins; ++i) *input++ = 0.0f;
    }
    PredictMasks();
}

void MaskPredictor::PredictMasks() {
    if (mMaskSource) {
        mMaskSource->NextMelMasks(mMasks);
        for (KIT_TypedBuf<double>& mask : mMasks) ExpandMelMask(mask);
        return;
    }
    for (int k = 0; k < kNumStems; ++k) PredictMask(k);
}

void MaskPredictor::PredictMask(int stem) {
    KIT_TypedBuf<double>& mask = mMasks[stem];
    const nn::Model* model = mModels[stem].get();
    const bool ok = model && model->predict(mInput, mOutput, mDispatcher, mScratch[stem]) &&
                    mOutput.size() >= static_cast<size_t>(kMaskMelBins);
    mask.Resize(ok ? kMaskMelBins : 0, false);
    for (int i = 0; i < mask.GetSize(); ++i) mask[i] = static_cast<double>(mOutput[i]);
    ExpandMelMask(mask);
}

void MaskPredictor::ExpandMelMask(KIT_TypedBuf<double>& mask) {
    if (mask.GetSize() != kMaskMelBins) {
        mask.Resize(kMaskMelBins * 4, false);
        DspUtils::FillZero(mask);
        return;
    }
    DspUtils::ClipMin(mask, 0.0);
    UpsampleMask(mask, mWork);
}

void MaskPredictor::GetMask(int stem, KIT_TypedBuf<double>& out) const {
    assert(stem >= 0 && stem < kNumStems);
    out.CopyFrom(mMasks[stem]);
}

const KIT_TypedBuf<double>& MaskPredictor::GetHistoryEntry(int age) const {
    assert(age >= 0 && age < kHistorySize);
    return mHistory[(mHistoryStart + age) % kHistorySize];
}

#include "plugin/StemvoltaProcessFftObj.h"

#include "plugin/MaskPredictor.h"
#include "plugin/StemResampler.h"
#include "toolkit/DspUtils.h"
#include "toolkit/DspUtilsSpectrum.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

namespace {

constexpr double kMaskSumFloor = 1e-10;

} // namespace

StemvoltaProcessFftObj::StemvoltaProcessFftObj(int bufferSize, MaskPredictor* predictor)
    : ProcessObj(bufferSize), mPredictor(predictor) {
    // Every per-frame buffer at its working size once, so frames never grow them.
    const int half = std::max(1, bufferSize / 2);
    mHalf.Resize(half, false);
    for (KIT_TypedBuf<double>* buf : {&mMagnitude, &mPhase, &mSoft, &mHard, &mBlend})
        buf->Resize(half, false);
    ResetOutputResampler();
}

StemvoltaProcessFftObj::~StemvoltaProcessFftObj() = default;

void StemvoltaProcessFftObj::Reset(int bufferSize, int overlapping, int freqRes,
                                   double sampleRate) {
    ProcessObj::Reset(bufferSize, overlapping, freqRes, sampleRate);
    mHostSampleRate = sampleRate;
    mOutputResampler.Reset(0.0);
    mOutputResampler.SetRates(kStftRate, mHostSampleRate);
    mCarry = 0.0;
}

void StemvoltaProcessFftObj::Reset() {
    ResetTracking();
    mOutputResampler.Reset(0.0);
    mOutputResampler.SetRates(kStftRate, mHostSampleRate);
    mCarry = 0.0;
}

void StemvoltaProcessFftObj::ResetOutputResampler() {
    ConfigureStemResampler(mOutputResampler, kStftRate, mHostSampleRate);
}

void StemvoltaProcessFftObj::SetHostSampleRate(double rate) {
    mHostSampleRate = rate;
    ResetOutputResampler();
}

void StemvoltaProcessFftObj::SetStemGain(int stem, double gain) {
    if (stem >= 0 && stem < kNumStems) mGain[stem] = gain;
}

void StemvoltaProcessFftObj::SetStemThreshold(int stem, double threshold) {
    if (stem >= 0 && stem < kNumStems) mThreshold[stem] = threshold;
}

void StemvoltaProcessFftObj::SetSoftHard(double softHard) {
    mSoftHard = softHard;
}

void StemvoltaProcessFftObj::ProcessSpectrum(KIT_TypedBuf<ComplexValue>* spectrum,
                                             const KIT_TypedBuf<ComplexValue>* scSpectrum) {
    if (!spectrum) return;
    const int half = spectrum->GetSize() / 2;
    if (half < 1) return;
    mHalf.Resize(half, false);
    if (mHalf.GetSize() != half) return;
    std::memcpy(mHalf.Get(), spectrum->Get(), sizeof(ComplexValue) * half);

    DspUtils::ComplexToMagnPhase(mMagnitude, mPhase, mHalf);
    ComputeMasksSoft(mMagnitude, mSoft);
    ComputeMasksHard(mMagnitude, mHard);
    DspUtils::Interp(mBlend, mSoft, mHard, mSoftHard);
    DspUtils::MagnPhaseToComplex(mHalf, mBlend, mPhase);

    std::memcpy(spectrum->Get(), mHalf.Get(), sizeof(ComplexValue) * half);
    DspUtils::FillSecondFftHalf(*spectrum);
}

bool StemvoltaProcessFftObj::PrepareMaskOutput(const KIT_TypedBuf<double>& magnitude,
                                               KIT_TypedBuf<double>& out, MaskRows& rows) const {
    const int n = magnitude.GetSize();
    out.Resize(n, false);
    if (out.GetSize() != n) return false;
    if (!mPredictor) {
        DspUtils::FillZero(out);
        return false;
    }
    for (int k = 0; k < kNumStems; ++k) {
        const KIT_TypedBuf<double>& mask = mPredictor->GetMaskBuf(k);
        rows.data[k] = mask.Get();
        rows.size[k] = mask.GetSize();
    }
    return true;
}

inline void StemvoltaProcessFftObj::MasksAt(const MaskRows& rows, int i,
                                            double m[kNumStems]) const {
    for (int k = 0; k < kNumStems; ++k) m[k] = i < rows.size[k] ? rows.data[k][i] : 0.0;
}

inline void StemvoltaProcessFftObj::ApplySensitivity(double m[kNumStems]) const {
    for (int k = 0; k < kNumStems; ++k)
        if (m[k] < mThreshold[k]) m[k] = 0.0;
}

void StemvoltaProcessFftObj::ComputeMasksSoft(const KIT_TypedBuf<double>& magnitude,
                                              KIT_TypedBuf<double>& out) const {
    MaskRows rows;
    if (!PrepareMaskOutput(magnitude, out, rows)) return;
    const int n = out.GetSize();
    for (int i = 0; i < n; ++i) {
        double m[kNumStems];
        MasksAt(rows, i, m);
        ApplySensitivity(m);
        const double sum = ((m[0] + m[1]) + m[2]) + m[3];
        if (std::fabs(sum) > kMaskSumFloor)
            for (double& mk : m) mk = mk / sum;
        ApplySensitivity(m);
        out[i] = (m[3] * mGain[3] + (m[2] * mGain[2] + (m[0] * mGain[0] + m[1] * mGain[1]))) *
                 magnitude[i];
    }
}

void StemvoltaProcessFftObj::ComputeMasksHard(const KIT_TypedBuf<double>& magnitude,
                                              KIT_TypedBuf<double>& out) const {
    MaskRows rows;
    if (!PrepareMaskOutput(magnitude, out, rows)) return;
    const int n = out.GetSize();
    for (int i = 0; i < n; ++i) {
        double m[kNumStems];
        MasksAt(rows, i, m);
        for (double& mk : m) mk = std::max(mk, 0.0);
        ApplySensitivity(m);
        double best = m[0];
        double gain = m[0] < kMaskSumFloor ? 0.0 : mGain[0];
        for (int k = 1; k < kNumStems; ++k) {
            if (best < m[k]) {
                gain = mGain[k];
                best = m[k];
            }
        }
        out[i] = gain * magnitude[i];
    }
}

void StemvoltaProcessFftObj::ProcessOutputHop(KIT_TypedBuf<double>* hop) {
    if (mHostSampleRate == kStftRate || !hop) return;
    const int n = hop->GetSize();
    if (n <= 0) return;

    double* input = nullptr;
    const int granted = std::min(mOutputResampler.ResamplePrepare(n, 1, &input), n);

    // Host samples this hop stands for; the fraction left over is carried.
    const double exact = n * mHostSampleRate / kStftRate;
    int count = static_cast<int>(exact);
    const double owed = exact - count + mCarry;
    if (owed >= 1.0) {
        mCarry = owed - std::floor(owed);
        count += static_cast<int>(std::floor(owed));
    } else {
        mCarry = owed;
    }

    if (granted > 0) std::memcpy(input, hop->Get(), sizeof(double) * static_cast<size_t>(granted));
    mResampled.Resize(std::max(count, 1), false);
    if (mResampled.GetSize() < count) return;
    const int produced = mOutputResampler.ResampleOut(mResampled.Get(), granted, count, 1);

    hop->Resize(produced, false);
    if (hop->GetSize() != produced) return;
    if (produced > 0)
        std::memcpy(hop->Get(), mResampled.Get(), sizeof(double) * static_cast<size_t>(produced));
}

#include "plugin/StemvoltaProcessFftObj.h"

#include "plugin/MaskPredictor.h"
#include "plugin/StemResampler.h"
#include "toolkit/DspUtils.h"
#include "toolkit/DspUtilsSpectrum.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <emmintrin.h>

// The processor applies the predictor's masks at the predictor's rate.
static_assert(StemvoltaProcessFftObj::kNumStems == MaskPredictor::kNumStems, "stem count");
static_assert(StemvoltaProcessFftObj::kStftRate == MaskPredictor::kStftRate, "chain rate");

namespace {

constexpr double kMaskSumFloor = 1e-10;

} // namespace

StemvoltaProcessFftObj::StemvoltaProcessFftObj(int bufferSize, MaskPredictor* predictor)
    : ProcessObj(bufferSize), mPredictor(predictor) {
    // Every per-frame buffer at its working size once, so frames never grow them.
    const int half = std::max(1, bufferSize / 2);
    mHalf.Resize(half, false);
    for (KIT_TypedBuf<double>* buf :
         {&mMagnitude, &mPhase, &mSoft, &mHard, &mBlend, &mSoftFactor, &mHardFactor})
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

int StemvoltaProcessFftObj::PrepareHops(int maxHop) {
    if (maxHop <= 0) return 0;
    mOutputResampler.Reserve(maxHop, 1);
    // ProcessOutputHop's largest count: the hop's host samples and a carried one.
    const double room = std::ceil(maxHop * mHostSampleRate / kStftRate) + 2.0;
    if (!(room < INT_MAX)) return maxHop;
    mResampled.Resize(std::max(1, static_cast<int>(room)), false);
    return std::max(maxHop, static_cast<int>(room));
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

    // ProcessSpectrumReference's steps fused into one pass over the bins, in
    // place and with the same arithmetic per bin. The mask factors of the
    // bins that all four masks cover come first, from the branch-free loop.
    MaskRows rows;
    const bool masks = TakeMaskRows(rows);
    int covered = 0;
    if (masks) {
        covered = std::min(half, std::min(mSoftFactor.GetSize(), mHardFactor.GetSize()));
        for (int k = 0; k < kNumStems; ++k) covered = std::min(covered, rows.size[k]);
        ComputeFactors(rows, covered, mSoftFactor.Get(), mHardFactor.Get());
    }
    ComplexValue* bins = spectrum->Get();
    for (int i = 0; i < half; ++i) {
        const ComplexValue c = bins[i];
        const double magnitude = std::sqrt(c.re * c.re + c.im * c.im);
        const double phase = std::atan2(c.im, c.re);
        double soft = 0.0, hard = 0.0;
        if (i < covered) {
            soft = mSoftFactor[i] * magnitude;
            hard = mHardFactor[i] * magnitude;
        } else if (masks) {
            double m[kNumStems];
            MasksAt(rows, i, m);
            soft = SoftFactor(m) * magnitude;
            hard = HardFactor(m) * magnitude;
        }
        const double out = DspUtils::Interp(soft, hard, mSoftHard);
        bins[i] = {out * std::cos(phase), out * std::sin(phase)};
    }
    DspUtils::FillSecondFftHalf(*spectrum);
}

namespace {

// c ? a : b, lane by lane (c all ones or all zeros).
inline __m128d Select(__m128d c, __m128d a, __m128d b) {
    return _mm_or_pd(_mm_and_pd(c, a), _mm_andnot_pd(c, b));
}
// x < t ? 0 : x, the sensitivity.
inline __m128d Sensitivity(__m128d x, __m128d t) {
    return _mm_andnot_pd(_mm_cmplt_pd(x, t), x);
}

} // namespace

// SoftFactor and HardFactor of bins 0 .. count - 1, two bins per step with
// every test a select and every quotient computed, then kept or not; each
// value is the scalar functions' to the bit (the same operations in the same
// order, lane by lane). The odd last bin takes the scalar functions.
void StemvoltaProcessFftObj::ComputeFactors(const MaskRows& rows, int count, double* soft,
                                            double* hard) const {
    const __m128d zero = _mm_setzero_pd();
    const __m128d floor = _mm_set1_pd(kMaskSumFloor);
    const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
    __m128d t[kNumStems], g[kNumStems];
    for (int k = 0; k < kNumStems; ++k) {
        t[k] = _mm_set1_pd(mThreshold[k]);
        g[k] = _mm_set1_pd(mGain[k]);
    }
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        __m128d m[kNumStems], a[kNumStems], h[kNumStems];
        for (int k = 0; k < kNumStems; ++k) {
            m[k] = _mm_loadu_pd(rows.data[k] + i);
            a[k] = Sensitivity(m[k], t[k]);
        }
        const __m128d sum = _mm_add_pd(_mm_add_pd(_mm_add_pd(a[0], a[1]), a[2]), a[3]);
        const __m128d normalise = _mm_cmpgt_pd(_mm_and_pd(sum, absMask), floor);
        for (int k = 0; k < kNumStems; ++k)
            a[k] = Sensitivity(Select(normalise, _mm_div_pd(a[k], sum), a[k]), t[k]);
        const __m128d s01 = _mm_add_pd(_mm_mul_pd(a[0], g[0]), _mm_mul_pd(a[1], g[1]));
        const __m128d s012 = _mm_add_pd(_mm_mul_pd(a[2], g[2]), s01);
        _mm_storeu_pd(soft + i, _mm_add_pd(_mm_mul_pd(a[3], g[3]), s012));

        // MAXPD(0, m) is m < 0 ? 0 : m, NaNs and signed zeros as std::max(m, 0).
        for (int k = 0; k < kNumStems; ++k) h[k] = Sensitivity(_mm_max_pd(zero, m[k]), t[k]);
        __m128d best = h[0];
        __m128d gain = _mm_andnot_pd(_mm_cmplt_pd(h[0], floor), g[0]);
        for (int k = 1; k < kNumStems; ++k) {
            const __m128d over = _mm_cmplt_pd(best, h[k]);
            gain = Select(over, g[k], gain);
            best = Select(over, h[k], best);
        }
        _mm_storeu_pd(hard + i, gain);
    }
    for (; i < count; ++i) {
        double m[kNumStems];
        for (int k = 0; k < kNumStems; ++k) m[k] = rows.data[k][i];
        soft[i] = SoftFactor(m);
        hard[i] = HardFactor(m);
    }
}

void StemvoltaProcessFftObj::ProcessSpectrumReference(KIT_TypedBuf<ComplexValue>* spectrum) {
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

bool StemvoltaProcessFftObj::TakeMaskRows(MaskRows& rows) const {
    if (!mPredictor) return false;
    for (int k = 0; k < kNumStems; ++k) {
        const KIT_TypedBuf<double>& mask = mPredictor->GetMaskBuf(k);
        rows.data[k] = mask.Get();
        rows.size[k] = mask.GetSize();
    }
    return true;
}

bool StemvoltaProcessFftObj::PrepareMaskOutput(const KIT_TypedBuf<double>& magnitude,
                                               KIT_TypedBuf<double>& out, MaskRows& rows) const {
    const int n = magnitude.GetSize();
    out.Resize(n, false);
    if (out.GetSize() != n) return false;
    if (!TakeMaskRows(rows)) {
        DspUtils::FillZero(out);
        return false;
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

inline double StemvoltaProcessFftObj::SoftFactor(const double masks[kNumStems]) const {
    double m[kNumStems] = {masks[0], masks[1], masks[2], masks[3]};
    ApplySensitivity(m);
    const double sum = ((m[0] + m[1]) + m[2]) + m[3];
    if (std::fabs(sum) > kMaskSumFloor)
        for (double& mk : m) mk = mk / sum;
    ApplySensitivity(m);
    return m[3] * mGain[3] + (m[2] * mGain[2] + (m[0] * mGain[0] + m[1] * mGain[1]));
}

inline double StemvoltaProcessFftObj::HardFactor(const double masks[kNumStems]) const {
    double m[kNumStems];
    for (int k = 0; k < kNumStems; ++k) m[k] = std::max(masks[k], 0.0);
    ApplySensitivity(m);
    double best = m[0];
    double gain = m[0] < kMaskSumFloor ? 0.0 : mGain[0];
    for (int k = 1; k < kNumStems; ++k) {
        if (best < m[k]) {
            gain = mGain[k];
            best = m[k];
        }
    }
    return gain;
}

void StemvoltaProcessFftObj::ComputeMasksSoft(const KIT_TypedBuf<double>& magnitude,
                                              KIT_TypedBuf<double>& out) const {
    ScaleByMaskFactor(magnitude, out, &StemvoltaProcessFftObj::SoftFactor);
}

void StemvoltaProcessFftObj::ComputeMasksHard(const KIT_TypedBuf<double>& magnitude,
                                              KIT_TypedBuf<double>& out) const {
    ScaleByMaskFactor(magnitude, out, &StemvoltaProcessFftObj::HardFactor);
}

void StemvoltaProcessFftObj::ScaleByMaskFactor(const KIT_TypedBuf<double>& magnitude,
                                               KIT_TypedBuf<double>& out, MaskFactor factor) const {
    MaskRows rows;
    if (!PrepareMaskOutput(magnitude, out, rows)) return;
    const int n = out.GetSize();
    for (int i = 0; i < n; ++i) {
        double m[kNumStems];
        MasksAt(rows, i, m);
        out[i] = (this->*factor)(m)*magnitude[i];
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

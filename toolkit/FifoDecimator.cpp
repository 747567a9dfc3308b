#include "toolkit/FifoDecimator.h"

#include "toolkit/DspUtils.h"
#include "toolkit/DspUtilsAnalysis.h"
#include "toolkit/FftBufOps.h"

#include <climits>

namespace {

int ClampCount(int64_t n) {
    if (n < 0) return 0;
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

} // namespace

FifoDecimator::FifoDecimator(bool minMaxMode)
    : mMaxSize(0), mDecimFactor(1.0), mMinMax(minMaxMode) {}

FifoDecimator::FifoDecimator(int64_t maxSize, double decimFactor, bool minMaxMode)
    : mMaxSize(maxSize), mDecimFactor(decimFactor), mMinMax(minMaxMode) {
    mValues.Resize(ClampCount(maxSize));
    DspUtils::FillZero(mValues);
}

void FifoDecimator::SetParams(int64_t maxSize, double decimFactor) {
    mMaxSize = maxSize;
    mDecimFactor = decimFactor;
}

void FifoDecimator::SetParams(int64_t maxSize, double decimFactor, bool minMaxMode) {
    SetParams(maxSize, decimFactor);
    mMinMax = minMaxMode;
}

void FifoDecimator::Reset() {
    DspUtils::FillZero(mValues);
}

void FifoDecimator::AddValues(const KIT_TypedBuf<double>& block) {
    if (mMaxSize <= 0) {
        if (mValues.GetSize() > 0) mValues.Resize(0);
        return;
    }
    // The decimators leave their output untouched for an empty input, which
    // would append the previous block's values again.
    if (block.GetSize() == 0) return;
    if (mMinMax)
        DspUtils::DecimateSamplesMinMax(mDecimated, block, mDecimFactor);
    else
        DspUtils::DecimateSamplesPeak(mDecimated, block, mDecimFactor);
    // Append and drop without ever shrinking the block: the history swings
    // between maxSize and maxSize + one block every frame, and a shrinking
    // drop would reallocate on the audio thread each time.
    mValues.Add(mDecimated.Get(), mDecimated.GetSize());
    const int64_t surplus = mValues.GetSize() - mMaxSize;
    if (surplus > 0) fftbuf::ConsumeFront(mValues, static_cast<int>(surplus));
}

void FifoDecimator::GetValues(KIT_TypedBuf<double>* out) const {
    if (out) out->CopyFrom(mValues);
}

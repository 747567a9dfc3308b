#include "toolkit/StreamResampler.h"

#include "toolkit/BufReserve.h"
#include "toolkit/ResamplerBiquad.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Largest start position Reset accepts, far beyond any real buffer.
constexpr double kMaxStartPosition = 1073741824.0;

bool ValidChannels(int channels) {
    return channels >= 1 && channels <= StreamResampler::kMaxChannels;
}

// The interpolation loops take the channel count as a template argument for
// mono and stereo (kChannels 1 or 2) and at run time otherwise (kChannels 0);
// the arithmetic is the same in every form. Each loop stops before its first
// output that would read beyond `available` frames, compares positions as
// doubles before truncating them, and returns the frames written.

template <int kChannels>
int PointLoop(const double* in, double* out, int nOut, int available, int channels, double& x,
              double step) {
    const int c = kChannels ? kChannels : channels;
    int produced = 0;
    while (produced < nOut && x < available) {
        const double* frame = in + static_cast<int64_t>(x) * c;
        for (int ch = 0; ch < c; ++ch) out[ch] = frame[ch];
        out += c;
        ++produced;
        x += step;
    }
    return produced;
}

template <int kChannels>
int LinearLoop(const double* in, double* out, int nOut, int available, int channels, double& x,
               double step) {
    const int c = kChannels ? kChannels : channels;
    int produced = 0;
    while (produced < nOut && x < available - 1) {
        const int64_t i = static_cast<int64_t>(x);
        const double f = x - static_cast<double>(i);
        const double* a = in + i * c;
        const double* b = a + c;
        for (int ch = 0; ch < c; ++ch) out[ch] = a[ch] * (1.0 - f) + b[ch] * f;
        out += c;
        ++produced;
        x += step;
    }
    return produced;
}

// Dot product of `taps` table values with one channel of `taps` frames, two
// taps per iteration.
inline double SincDot(const double* slice, const double* in, int taps, int stride) {
    double s0 = 0.0, s1 = 0.0;
    int j = 0;
    for (; j + 1 < taps; j += 2) {
        s0 += slice[j] * in[static_cast<int64_t>(j) * stride];
        s1 += slice[j + 1] * in[static_cast<int64_t>(j + 1) * stride];
    }
    if (j < taps) s0 += slice[j] * in[static_cast<int64_t>(j) * stride];
    return s0 + s1;
}

template <int kChannels>
int SincLoop(const double* in, double* out, int nOut, int available, int channels, double& x,
             double step, const double* table, int taps, int slices) {
    const int c = kChannels ? kChannels : channels;
    int produced = 0;
    while (produced < nOut && x < static_cast<double>(available) - taps - 1) {
        const int64_t i = static_cast<int64_t>(x);
        const double q = slices * (x - static_cast<double>(i));
        int k = static_cast<int>(q);
        double f = q - k;
        if (k >= slices) { // q rounded up to `slices`: the last slice pair, fully
            k = slices - 1;
            f = 1.0;
        }
        if (taps == 0) { // no table: silence
            for (int ch = 0; ch < c; ++ch) out[ch] = 0.0;
        } else {
            const double* sliceA = table + static_cast<int64_t>(slices - k) * taps;
            const double* sliceB = sliceA - taps;
            const double* frame = in + i * c;
            for (int ch = 0; ch < c; ++ch) {
                const double sumA = SincDot(sliceA, frame + ch, taps, c);
                const double sumB = SincDot(sliceB, frame + ch, taps, c);
                out[ch] = sumA * (1.0 - f) + sumB * f;
            }
        }
        out += c;
        ++produced;
        x += step;
    }
    return produced;
}

// Calls loop with std::integral_constant<int, 1>, <int, 2> or, for any other
// channel count, <int, 0>.
template <typename Loop> int ByChannelCount(int channels, Loop&& loop) {
    switch (channels) {
    case 1:
        return loop(std::integral_constant<int, 1>{});
    case 2:
        return loop(std::integral_constant<int, 2>{});
    default:
        return loop(std::integral_constant<int, 0>{});
    }
}

} // namespace

StreamResampler::StreamResampler() = default;
StreamResampler::~StreamResampler() = default;

void StreamResampler::Reset(double fractionalPosition) {
    mLastRequested = 0;
    mFilterLatency = 0;
    mBufferedFrames = 0;
    // A negative or non-finite start would read before the buffer.
    if (!(fractionalPosition >= 0.0)) fractionalPosition = 0.0;
    mFractionalPos = std::min(fractionalPosition, kMaxStartPosition);
    mLeadPending = true;
    if (mLowPass) mLowPass->ClearHistories();
}

void StreamResampler::SetMode(bool linearInterpolation, int filterCount, bool sinc, int sincLength,
                              int sincOversampling) {
    int length = 0;
    if (sinc && sincLength >= 4)
        length = sincLength > kMaxSincLength ? kMaxSincLength : (sincLength & ~1);
    mSincLength = length;
    mSincOversampling = (length == 0 || sincOversampling < 2)
                            ? 1
                            : std::min(sincOversampling, kMaxSincOversampling);
    mFilterCount = (length != 0 || filterCount <= 0) ? 0 : std::min(filterCount, kMaxFilterCount);
    mLinear = linearInterpolation && length == 0;
    if (length == 0) {
        mSincTable.Resize(0, true);
        mTableLength = 0;
    }
    if (mFilterCount == 0) mLowPass.reset();
}

void StreamResampler::SetRates(double inputRate, double outputRate) {
    // NaN counts as below 1.
    if (!(inputRate >= 1.0)) inputRate = 1.0;
    if (!(outputRate >= 1.0)) outputRate = 1.0;
    if (inputRate == mInputRate && outputRate == mOutputRate) return;
    mInputRate = inputRate;
    mOutputRate = outputRate;
    mRatio = inputRate / outputRate;
}

void StreamResampler::Reserve(int maxFrames, int channels) {
    if (!ValidChannels(channels) || maxFrames < 0) return;
    // ResamplePrepare's largest request, with the frames a block leaves
    // buffered: the interpolator's reach (a sinc table, or two frames) and
    // the sinc lead.
    const int fs = mSincLength >= 2 ? mSincLength : 0;
    const double wanted = feedMode ? maxFrames : fs + maxFrames * mRatio + 4;
    const double frames = wanted + 2.0 * fs + 4;
    if (frames * channels < INT_MAX / sizeof(double))
        kitbuf::ReserveCapacity(mInput, static_cast<int>(frames) * channels);
    if (mFilterCount > 0 && !mLowPass) mLowPass = std::make_unique<ResamplerBiquad>();
    if (mSincLength != 0) DesignSincFilter(SincCutoff());
}

int StreamResampler::ResamplePrepare(int count, int channels, double** input) {
    if (!ValidChannels(channels)) return 0;
    const int c = channels;

    const int fs = mSincLength >= 2 ? mSincLength : 0;
    const int lead = fs / 2 - 1;
    if (fs >= 4 && mLeadPending) {
        // Zeros in front of the stream centre the first output on the first
        // input frame; frames still buffered move behind them. Only once per
        // stream: mid-stream, fewer buffered frames than the lead (steps
        // longer than half the table) are no reason to insert silence.
        if (mBufferedFrames >= lead) {
            mLeadPending = false;
        } else {
            const int add = lead - mBufferedFrames;
            mInput.Resize(static_cast<int64_t>(lead) * c, false);
            if (mInput.GetSize() == lead * c) {
                double* data = mInput.Get();
                std::memmove(data + static_cast<int64_t>(add) * c, data,
                             sizeof(double) * static_cast<size_t>(mBufferedFrames) * c);
                std::memset(data, 0, sizeof(double) * static_cast<size_t>(add) * c);
                mFilterLatency += add;
                mBufferedFrames = lead;
                mLeadPending = false;
            }
        }
    }

    int64_t request;
    if (feedMode) {
        request = count;
    } else {
        const double wanted =
            std::min(static_cast<double>(count) * mRatio, static_cast<double>(INT_MAX));
        request = fs + static_cast<int64_t>(wanted) - mBufferedFrames + 4;
    }
    request = std::clamp<int64_t>(request, 0, INT_MAX);

    int64_t granted = 0;
    for (;;) {
        mInput.Resize((mBufferedFrames + request) * c, false);
        granted = std::max<int64_t>(mInput.GetSize() / c - mBufferedFrames, 0);
        if (granted != request && request > 4 && granted == 0) {
            request /= 2;
            continue;
        }
        break;
    }

    mLastRequested = static_cast<int>(granted);
    if (input)
        *input = mInput.Get() ? mInput.Get() + static_cast<int64_t>(mBufferedFrames) * c : nullptr;
    return mLastRequested;
}

void StreamResampler::RunLowPass(double* frames, int n, int channels, double position) {
    if (!mLowPass) mLowPass = std::make_unique<ResamplerBiquad>();
    mLowPass->Configure(position, filterQ);
    if (channels == 2) {
        for (int s = 0; s < mFilterCount; ++s) mLowPass->RunStereo(frames, n, s, mFilterCount + s);
        return;
    }
    for (int ch = 0; ch < channels; ++ch)
        for (int s = 0; s < mFilterCount; ++s)
            mLowPass->Run(frames + ch, frames + ch, n, channels, ch * mFilterCount + s);
}

int StreamResampler::ResampleOut(double* output, int inputFrames, int outputFrames, int channels) {
    if (!ValidChannels(channels)) return 0;
    const int c = channels;

    // Never count frames the buffer does not hold (a caller that changed the
    // channel count or wrote more than it was granted).
    const int held = mInput.GetSize() / c;
    mBufferedFrames = std::min(mBufferedFrames, held);
    const int fresh = std::clamp(inputFrames, 0, std::min(mLastRequested, held - mBufferedFrames));

    if (mFilterCount > 0 && mRatio > 1.0 && fresh > 0)
        RunLowPass(mInput.Get() + static_cast<int64_t>(mBufferedFrames) * c, fresh, c,
                   filterPos * (1.0 / mRatio));

    mBufferedFrames += fresh;
    int available = mBufferedFrames;

    if (fresh < mLastRequested) {
        // End of stream: zeros let the interpolator reach the last real frames.
        const int64_t pad = (static_cast<int64_t>(mLastRequested) - fresh + mSincLength) * 2;
        const int64_t samples = (mBufferedFrames + pad) * c;
        mInput.Resize(samples, false);
        if (mInput.GetSize() == samples) {
            std::memset(mInput.Get() + static_cast<int64_t>(mBufferedFrames) * c, 0,
                        sizeof(double) * static_cast<size_t>(pad * c));
            available = static_cast<int>(mBufferedFrames + pad);
        }
    }

    double x = mFractionalPos;
    int produced = 0;
    double latencyFrames = 0.0;
    const int wanted = output ? std::max(outputFrames, 0) : 0;
    const double* in = mInput.Get();
    const double step = mRatio;
    if (mSincLength != 0) {
        DesignSincFilter(SincCutoff());
        latencyFrames = mTableLength / 2 - 1;
        const double* table = mSincTable.Get();
        const int taps = table ? mTableLength : 0;
        const int slices = mTableOversampling;
        if (wanted > 0)
            produced = ByChannelCount(c, [&](auto k) {
                return SincLoop<decltype(k)::value>(in, output, wanted, available, c, x, step,
                                                    table, taps, slices);
            });
    } else if (!mLinear) {
        if (wanted > 0)
            produced = ByChannelCount(c, [&](auto k) {
                return PointLoop<decltype(k)::value>(in, output, wanted, available, c, x, step);
            });
    } else if (wanted > 0) {
        produced = ByChannelCount(c, [&](auto k) {
            return LinearLoop<decltype(k)::value>(in, output, wanted, available, c, x, step);
        });
    }

    if (mFilterCount > 0 && mRatio < 1.0 && produced > 0)
        RunLowPass(output, produced, c, mRatio * filterPos);

    if (produced > 0 && available > mBufferedFrames) {
        // Outputs made only from padding are not returned.
        const double a = (x - mBufferedFrames + latencyFrames) / mRatio;
        if (a > 0.0) {
            const double drop = std::floor(a + 0.5);
            produced = drop >= produced ? 0 : produced - static_cast<int>(drop);
        }
    }

    const double consumed = std::floor(x);
    mFractionalPos = x - consumed;
    if (consumed >= mBufferedFrames) {
        // A step that went past the last real frame (ratios above 2, or above
        // 1 in point sampling) keeps its overshoot, so that the frames it
        // jumped over are skipped in the next block instead of being read as
        // new output positions. Past the end of a padded stream only the
        // fraction is kept.
        if (available == mBufferedFrames) mFractionalPos = x - mBufferedFrames;
        mBufferedFrames = 0;
    } else {
        const int64_t i = static_cast<int64_t>(consumed);
        mBufferedFrames -= static_cast<int>(i);
        double* data = mInput.Get();
        std::memmove(data, data + i * c, sizeof(double) * static_cast<size_t>(mBufferedFrames) * c);
    }
    return produced;
}

double StreamResampler::SincCutoff() const {
    return mRatio > 1.0 ? 1.0 / (1.03 * mRatio) : 1.0;
}

void StreamResampler::DesignSincFilter(double cutoff) {
    const int W = mSincLength;
    const int O = mSincOversampling;
    if (cutoff == mLastSincCutoff && W == mTableLength && O == mTableOversampling) return;
    mTableOversampling = O;
    mLastSincCutoff = cutoff;
    const int64_t size = static_cast<int64_t>(W) * (O + 1);
    mSincTable.Resize(size, true);
    if (mSincTable.GetSize() != size) {
        mTableLength = 0;
        return;
    }
    mTableLength = W;
    double* table = mSincTable.Get();
    double sum = 0.0; // non-centre taps of slices 0 .. O-1
    for (int s = 0; s <= O; ++s) {
        for (int j = 0; j < W; ++j) {
            const bool centre = (s == 0 && j == W / 2) || (s == O && j == W / 2 - 1);
            double v = 1.0;
            if (!centre) {
                const double u = static_cast<double>(s) / O + j;
                const double w = 2.0 * kPi * u / W;
                const double z = cutoff * kPi * (u - W / 2);
                // 4-term Blackman-Harris window times the sinc.
                const double window = 0.35875 - 0.48829 * std::cos(w) +
                                      0.14128 * std::cos(2.0 * w) - 0.01168 * std::cos(3.0 * w);
                v = window * std::sin(z) / z;
                if (s < O) sum += v;
            }
            table[static_cast<int64_t>(s) * W + j] = v;
        }
    }
    const double scale = O / (sum + 1.0);
    for (int64_t n = 0; n < size; ++n) table[n] *= scale;
}

double StreamResampler::GetLatencySeconds() const {
    const double seconds = (mBufferedFrames - mFilterLatency) / mInputRate;
    return seconds > 0.0 ? seconds : 0.0;
}

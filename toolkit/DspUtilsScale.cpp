#include "toolkit/DspUtilsScale.h"

#include "toolkit/PositionCache.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace DspUtils {

namespace {

inline double Db(double x) {
    return std::log(std::fabs(x)) * kAmpToDbFactor;
}

// in[j] (1 - t) + in[j + 1] t at position p, or fill when p does not lie
// before the last element. Checks the range before truncating so that huge or
// NaN positions never become an index.
inline double SampleAt(const double* in, int n, double p, double fill) {
    if (!(p >= 0.0) || p >= n) return fill;
    const int j = static_cast<int>(p);
    if (j + 1 >= n) return fill;
    const double t = p - j;
    return in[j] * (1.0 - t) + in[j + 1] * t;
}

// Shared by every caller in the process; the plug-in's sizes are the first
// and only ones they see.
PositionCache gLinearToMelPositions;
PositionCache gMelToLinearPositions;

// output resized to input's count n; element i samples input at position(i)
// (taken from positions when not null), or is fill when the mapping is not
// valid.
template <typename Position>
void MapAxis(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double fill,
             bool valid, const double* positions, Position position) {
    assert(&output != &input && "the mapping reads every input element after the first write");
    const int n = input.GetSize();
    output.Resize(n);
    const int count = std::min(n, output.GetSize());
    const double* in = input.Get();
    double* out = output.Get();
    if (!valid) {
        for (int i = 0; i < count; ++i) out[i] = fill;
    } else if (positions) {
        for (int i = 0; i < count; ++i) out[i] = SampleAt(in, n, positions[i], fill);
    } else {
        for (int i = 0; i < count; ++i) out[i] = SampleAt(in, n, position(i), fill);
    }
}

// The two Mel mappings' validity, scale and positions, shared by the cached
// and the reference forms.
struct LinearToMelAxis {
    LinearToMelAxis(int n, double h)
        : n(n), F((n - 1) * h), valid(n > 0 && F >= 1e-15 && std::isfinite(F)),
          M(valid ? HzToMel(F) : 0.0) {}
    double operator()(int i) const { return MelToHz(i * M / n) * n / F; }
    int n;
    double F;
    bool valid;
    double M;
};

struct MelToLinearAxis {
    MelToLinearAxis(int n, double h)
        : n(n), h(h), valid(n >= 2 && h > 0.0 && std::isfinite(h)),
          M(valid ? HzToMel((n - 1) * h) : 0.0) {}
    // SampleAt's "j + 1 below n" is the same test as "j and trunc(p + 1) below n".
    double operator()(int i) const { return HzToMel(i * h) / M * n; }
    int n;
    double h;
    bool valid;
    double M;
};

template <typename Axis>
void MapMelAxis(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                double fill, PositionCache* cache) {
    const Axis axis(input.GetSize(), h);
    const double* positions = cache && axis.valid ? cache->Find(axis.n, h, axis) : nullptr;
    MapAxis(output, input, fill, axis.valid, positions, axis);
}

} // namespace

double AmpToDb(double x, double eps, double floor) {
    return std::fabs(x) > eps ? Db(x) : floor;
}

double AmpToDbNormValue(double x, double eps, double minDb) {
    const double d = std::fabs(x) > eps ? Db(x) : minDb;
    return (std::max(minDb, d) - minDb) / -minDb;
}

void AmpToDbNorm(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double eps,
                 double minDb) {
    output.Resize(input.GetSize());
    const int count = std::min(output.GetSize(), input.GetSize());
    for (int i = 0; i < count; ++i) output[i] = AmpToDbNormValue(input[i], eps, minDb);
}

void AmpToDbNorm(KIT_TypedBuf<double>& buf, double eps, double minDb) {
    AmpToDbNorm(buf, buf, eps, minDb);
}

double AmpToDbNormRange(double x, double minDb, double maxDb) {
    const double d = std::fabs(x) < 1e-16 ? minDb : Db(x);
    return (d - minDb) / (maxDb - minDb);
}

double NormDbToAmp(double t, double minDb, double maxDb) {
    return std::exp((t * (maxDb - minDb) + minDb) * kDbToAmpFactor);
}

int NextPowerOfTwo(int n) {
    int p = 1;
    while (p < n) {
        if (p > (1 << 29)) return 0;
        p *= 2;
    }
    return p;
}

double ComputeShapeForCenter0(double min, double max) {
    return std::log(-min / (max - min)) / -std::log(2.0);
}

double HzToMel(double hz) {
    return 2595.0 * std::log10(1.0 + hz / 700.0);
}

double MelToHz(double mel) {
    return 700.0 * (std::pow(10.0, mel / 2595.0) - 1.0);
}

void LinearToMel(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                 double fill) {
    MapMelAxis<LinearToMelAxis>(output, input, h, fill, &gLinearToMelPositions);
}

void MelToLinear(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                 double fill) {
    MapMelAxis<MelToLinearAxis>(output, input, h, fill, &gMelToLinearPositions);
}

void LinearToMelReference(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                          double fill) {
    MapMelAxis<LinearToMelAxis>(output, input, h, fill, nullptr);
}

void MelToLinearReference(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                          double fill) {
    MapMelAxis<MelToLinearAxis>(output, input, h, fill, nullptr);
}

void ResizeLinear(KIT_TypedBuf<double>& buf, int n) {
    const int old = buf.GetSize();
    if (n <= 0) {
        buf.Resize(0);
        return;
    }
    const double step = static_cast<double>(old - 1) / n;
    const auto sample = [old, step](const double* in, int i, double next) {
        const double p = i * step;
        const int j = static_cast<int>(p);
        if (j < 0 || j >= old - 1) return 0.0;
        const double t = p - j;
        return in[j] * (1.0 - t) + next * t;
    };

    if (step >= 1.0) {
        // Shrinking: output i reads old elements j, j + 1 with j >= i, which
        // are still unwritten when walking forward.
        double* d = buf.Get();
        for (int i = 0; i < n; ++i) {
            const int j = static_cast<int>(i * step);
            d[i] = sample(d, i, j + 1 < old ? d[j + 1] : 0.0);
        }
        buf.Resize(n);
        if (buf.GetSize() != n) buf.Resize(n, false);
        return;
    }

    // Growing (n >= old): output i reads j, j + 1 <= i for i >= 1, so walk
    // backward; output 0 reads old element 1, kept aside.
    const double second = old >= 2 ? buf[1] : 0.0;
    buf.Resize(n);
    if (buf.GetSize() != n) {
        buf.Resize(0); // as a failed copy-back: emptied
        return;
    }
    double* d = buf.Get();
    for (int i = n - 1; i >= 1; --i) {
        const int j = static_cast<int>(i * step);
        d[i] = sample(d, i, j >= 0 && j + 1 < old ? d[j + 1] : 0.0);
    }
    d[0] = sample(d, 0, second);
}

void WarpExpAxis(KIT_TypedBuf<double>& buf, double k) {
    const int n = buf.GetSize();
    if (n == 0 || k == 0.0 || !std::isfinite(k)) return;
    // Every output reads the old elements. No in-place walk order is safe:
    // for small |k| the cancellation in e^x - 1 sends the source index to
    // either side of i.
    KIT_TypedBuf<double> old;
    old.CopyFrom(buf);
    if (old.GetSize() != n) return;
    const double E = std::exp(k);
    const double* src = old.Get();
    double* d = buf.Get();
    for (int i = 0; i < n; ++i) {
        const double b = (std::exp(k * i / n) - 1.0) / (E - 1.0) * n;
        const int index = !(b >= 0.0) ? 0 : b >= n - 1 ? n - 1 : static_cast<int>(b);
        d[i] = src[index];
    }
}

} // namespace DspUtils

#include "toolkit/DspUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace DspUtils {

namespace {

inline bool IsSilent(double x) {
    return std::fabs(x) <= kSilenceThreshold;
}

template <typename T> void ZeroElements(KIT_TypedBuf<T>& buf) {
    if (buf.GetSize() > 0)
        std::memset(static_cast<void*>(buf.Get()), 0,
                    sizeof(T) * static_cast<size_t>(buf.GetSize()));
}

} // namespace

bool IsAllZero(const KIT_TypedBuf<double>& buf) {
    return IsAllZero(buf.Get(), buf.GetSize());
}

bool IsAllZero(const double* data, int count) {
    if (!data) return true;
    for (int i = 0; i < count; ++i)
        if (!IsSilent(data[i])) return false;
    return true;
}

bool IsAllZero(const KIT_TypedBuf<ComplexValue>& buf) {
    const ComplexValue* data = buf.Get();
    const int count = buf.GetSize();
    for (int i = 0; i < count; ++i)
        if (!IsSilent(data[i].re) || !IsSilent(data[i].im)) return false;
    return true;
}

void FillZero(KIT_TypedBuf<double>& buf) {
    ZeroElements(buf);
}

void FillZero(KIT_TypedBuf<ComplexValue>& buf) {
    ZeroElements(buf);
}

void FillZero(KIT_TypedBuf<float>& buf) {
    ZeroElements(buf);
}

void FillZero(KIT_TypedBuf<int32_t>& buf) {
    ZeroElements(buf);
}

void FillZero(double* data, int count) {
    if (data && count > 0) std::memset(data, 0, sizeof(double) * static_cast<size_t>(count));
}

void ResizeFillZeros(KIT_TypedBuf<double>& buf, int n) {
    const int old = buf.GetSize();
    buf.Resize(std::max(n, 0));
    const int now = buf.GetSize();
    if (now > old) FillZero(buf.Get() + old, now - old);
}

void AppendValues(KIT_TypedBuf<double>& dst, const KIT_TypedBuf<double>& source) {
    if (dst.GetSize() == 0)
        dst.CopyFrom(source);
    else
        dst.Add(source.Get(), source.GetSize());
}

void ConsumeLeft(KIT_TypedBuf<double>& buf, int n) {
    if (n <= 0) return;
    const int count = buf.GetSize();
    if (n >= count) {
        buf.Resize(0);
        return;
    }
    const int rest = count - n;
    std::memmove(buf.Get(), buf.Get() + n, sizeof(double) * static_cast<size_t>(rest));
    buf.Resize(rest);
    // A shrinking reallocation that failed leaves the old count; shrinking
    // within the block always succeeds and keeps the moved elements.
    if (buf.GetSize() != rest) buf.Resize(rest, false);
}

void TakeHalf(KIT_TypedBuf<double>& buf) {
    buf.Resize(buf.GetSize() / 2);
}

void TakeHalf(KIT_TypedBuf<ComplexValue>& buf) {
    buf.Resize(buf.GetSize() / 2);
}

void MultValues(KIT_TypedBuf<double>& buf, double factor) {
    MultValues(buf.Get(), buf.GetSize(), factor);
}

void MultValues(double* data, int count, double factor) {
    if (!data) return;
    for (int i = 0; i < count; ++i) data[i] *= factor;
}

void AbsValues(KIT_TypedBuf<double>& buf) {
    double* data = buf.Get();
    const int count = buf.GetSize();
    for (int i = 0; i < count; ++i) data[i] = std::fabs(data[i]);
}

void ClipMin(KIT_TypedBuf<double>& buf, double v) {
    double* data = buf.Get();
    const int count = buf.GetSize();
    for (int i = 0; i < count; ++i) data[i] = std::max(data[i], v);
}

void Interp(KIT_TypedBuf<double>& out, const KIT_TypedBuf<double>& a, const KIT_TypedBuf<double>& b,
            double t) {
    out.Resize(a.GetSize());
    Interp(out.Get(), a.Get(), b.Get(), std::min(out.GetSize(), a.GetSize()), t);
}

void Interp(KIT_TypedBuf<ComplexValue>& out, const KIT_TypedBuf<ComplexValue>& a,
            const KIT_TypedBuf<ComplexValue>& b, double t) {
    out.Resize(a.GetSize());
    const int count = std::min(out.GetSize(), a.GetSize());
    ComplexValue* o = out.Get();
    const ComplexValue* pa = a.Get();
    const ComplexValue* pb = b.Get();
    for (int i = 0; i < count; ++i) {
        o[i].re = Interp(pa[i].re, pb[i].re, t);
        o[i].im = Interp(pa[i].im, pb[i].im, t);
    }
}

void Interp(double* out, const double* a, const double* b, int count, double t) {
    if (!out || !a || !b) return;
    for (int i = 0; i < count; ++i) out[i] = Interp(a[i], b[i], t);
}

void Interp2D(KIT_TypedBuf<double>& out, const KIT_TypedBuf<double>& q0,
              const KIT_TypedBuf<double>& q1, const KIT_TypedBuf<double>& q2,
              const KIT_TypedBuf<double>& q3, double t0, double t1) {
    out.Resize(q0.GetSize());
    const int count = std::min(out.GetSize(), q0.GetSize());
    double* o = out.Get();
    const double *p0 = q0.Get(), *p1 = q1.Get(), *p2 = q2.Get(), *p3 = q3.Get();
    for (int i = 0; i < count; ++i) {
        // Read all four before writing: out may alias any input.
        const double u = Interp(p0[i], p2[i], t0);
        const double v = Interp(p1[i], p3[i], t0);
        o[i] = Interp(u, v, t1);
    }
}

} // namespace DspUtils

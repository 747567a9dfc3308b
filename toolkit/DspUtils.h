#pragma once
// Sample-buffer arithmetic: free functions over KIT_TypedBuf sample arrays.
//
// Conventions for every function here:
// - A buffer is a KIT_TypedBuf<double>; a complex buffer a KIT_TypedBuf<ComplexValue>;
//   a channel list a std::vector of buffers in channel order.
// - The output comes first, the inputs after it, unless the function works in place.
// - Resizes use the shrink flag, so a buffer releases memory only under the
//   KIT_HeapBuf rule. When a resize fails, loops cover the count actually reached.
// - Where two inputs are combined, the first (or the output) fixes the count and
//   the others must hold at least that many elements (caller's guarantee).
// - A sample is silent when |x| <= kSilenceThreshold (inclusive).
//
// [any thread] Every function is reentrant and allocates nothing beyond the
// resizes it names; with buffers already at their size it is safe on the
// audio thread.
#include "toolkit/ComplexValue.h"
#include "toolkit/KIT_TypedBuf.h"

#include <cstdint>
#include <vector>

namespace DspUtils {

using ChannelList = std::vector<KIT_TypedBuf<double>>;

constexpr double kSilenceThreshold = 1e-16;

// --- silence tests -------------------------------------------------------

// True when empty or every sample is silent.
bool IsAllZero(const KIT_TypedBuf<double>& buf);
// True for a null pointer or count <= 0, else when all count samples are silent.
bool IsAllZero(const double* data, int count);
// True when both parts of every element are silent.
bool IsAllZero(const KIT_TypedBuf<ComplexValue>& buf);

// --- fills and resizing --------------------------------------------------

void FillZero(KIT_TypedBuf<double>& buf);
void FillZero(KIT_TypedBuf<ComplexValue>& buf);
void FillZero(KIT_TypedBuf<float>& buf);
void FillZero(KIT_TypedBuf<int32_t>& buf);
// Null data or count <= 0: nothing.
void FillZero(double* data, int count);

// Resizes to n (negative counts as 0); new elements are 0, old ones unchanged.
void ResizeFillZeros(KIT_TypedBuf<double>& buf, int n);

// An empty destination becomes a copy of source (non-exact CopyFrom); otherwise
// source's elements are appended. source may be dst.
void AppendValues(KIT_TypedBuf<double>& dst, const KIT_TypedBuf<double>& source);

// Removes the first n elements (n <= 0: nothing). n >= count frees the block.
// Otherwise the rest moves down in place and the buffer shrinks under the
// KIT_HeapBuf rule; no temporary is allocated.
void ConsumeLeft(KIT_TypedBuf<double>& buf, int n);

// Keeps the first count / 2 (truncated) elements.
void TakeHalf(KIT_TypedBuf<double>& buf);
void TakeHalf(KIT_TypedBuf<ComplexValue>& buf);

// --- element-wise arithmetic --------------------------------------------

void MultValues(KIT_TypedBuf<double>& buf, double factor);
void MultValues(double* data, int count, double factor);

// x = |x|.
void AbsValues(KIT_TypedBuf<double>& buf);

// x = max(x, v).
void ClipMin(KIT_TypedBuf<double>& buf, double v);

// --- interpolation -------------------------------------------------------

// a * (1 - t) + b * t.
inline double Interp(double a, double b, double t) {
    return a * (1.0 - t) + b * t;
}
// out resized to a's count; out[i] = Interp(a[i], b[i], t). b holds at least
// a's count. out may be a or b.
void Interp(KIT_TypedBuf<double>& out, const KIT_TypedBuf<double>& a, const KIT_TypedBuf<double>& b,
            double t);
// Both parts interpolated the same way.
void Interp(KIT_TypedBuf<ComplexValue>& out, const KIT_TypedBuf<ComplexValue>& a,
            const KIT_TypedBuf<ComplexValue>& b, double t);
// count elements; any pointer null or count <= 0: nothing.
void Interp(double* out, const double* a, const double* b, int count, double t);

// out = Interp(Interp(q0, q2, t0), Interp(q1, q3, t0), t1), resized to q0's
// count; q1..q3 hold at least that many. Computed without temporaries.
void Interp2D(KIT_TypedBuf<double>& out, const KIT_TypedBuf<double>& q0,
              const KIT_TypedBuf<double>& q1, const KIT_TypedBuf<double>& q2,
              const KIT_TypedBuf<double>& q3, double t0, double t1);

} // namespace DspUtils

// The host-block helpers belong to the same family.
#include "toolkit/DspUtilsHost.h"

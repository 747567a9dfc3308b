#pragma once
// Window makers of the STFT engine and the fade-in, and the overlap-add gain
// check used to normalise synthesis windows. Windows are symmetric: sample i
// of n is evaluated at i / (n - 1).
#include "toolkit/KIT_TypedBuf.h"

namespace Window {

// [any thread] Reentrant. Each maker resizes buf to n values (empty for
// n <= 0), which allocates only when buf must grow; n = 1 gives the single
// value the window takes at its centre (1 for Hann).

// w[i] = 0.5 * (1 - cos(2 pi i / (n - 1))).
void MakeHanning(int n, KIT_TypedBuf<double>& buf);
// The Hann value raised to p (std::pow).
void MakeHanningPow(int n, KIT_TypedBuf<double>& buf, double p);
// Every value = value.
void MakeConstWindow(int n, KIT_TypedBuf<double>& buf, double value);

// Overlap-add gain of window at the given overlap: with hop = n / overlapping
// (truncated), the sums of the window shifted by 0, hop, 2 hop, ... (wrapping
// around) must lie within 0.001 of their mean, which is returned. Returns -1
// when they do not, and also when overlapping < 1 or overlapping > n (no
// whole hop) or the window is empty.
double CheckCOLA(const KIT_TypedBuf<double>& window, int overlapping);

// Divides window by CheckCOLA(window, overlapping) and returns that gain.
// A failed check (-1) leaves the window unchanged: dividing by -1 would only
// flip its sign.
double NormalizeWindowCOLA(KIT_TypedBuf<double>& window, int overlapping);

// [any thread] CheckCOLA, NormalizeWindowCOLA and ScaleWindow never allocate.
// Divides every value by x.
void ScaleWindow(KIT_TypedBuf<double>& window, double x);

} // namespace Window

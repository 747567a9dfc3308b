#pragma once
// Level and frequency-scale conversions: decibels (plain and normalised to
// 0..1), the Mel scale, linear resizing and exponential axis warping.
// Conventions as in DspUtils.h.
//
// dB(x) = ln|x| * 8.685889638065037; amplitude(d) = exp(d * 0.1151292546497).
// The constants are kept as written: the networks were trained on features
// computed with them.
// Every function: [any thread] reentrant, touches only its arguments (the Mel
// mappings also share their cached positions, lock-free, see below); all but
// WarpExpAxis allocate nothing once their outputs have held their sizes.
#include "toolkit/DspUtils.h"

namespace DspUtils {

constexpr double kAmpToDbFactor = 8.685889638065037;
constexpr double kDbToAmpFactor = 0.1151292546497;

// dB(|x|) when |x| > eps, else floor.
double AmpToDb(double x, double eps, double floor);

// d = dB(|x|) when |x| > eps, else minDb; (max(minDb, d) - minDb) / -minDb.
// minDb < 0: 0 dB gives 1, louder gives more than 1.
double AmpToDbNormValue(double x, double eps, double minDb);

// output resized to input's count, element-wise AmpToDbNormValue.
void AmpToDbNorm(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double eps,
                 double minDb);
// In place.
void AmpToDbNorm(KIT_TypedBuf<double>& buf, double eps, double minDb);

// (d - minDb) / (maxDb - minDb) with d = dB(|x|), or minDb when |x| < 1e-16.
// Not clamped: levels below minDb give negative values, above maxDb above 1.
double AmpToDbNormRange(double x, double minDb, double maxDb);
// Inverse of AmpToDbNormRange: amplitude of t (maxDb - minDb) + minDb dB.
double NormDbToAmp(double t, double minDb, double maxDb);

// Smallest power of two >= n, starting from 1 (1 for n <= 1); 0 when n exceeds
// the largest int power of two.
int NextPowerOfTwo(int n);

// Exponent s with 0.5^s = -min / (max - min): a parameter of range [min, max]
// (min < 0 < max) with this shape shows 0 at the middle of its travel.
double ComputeShapeForCenter0(double min, double max);

// Mel(f) = 2595 log10(1 + f / 700) and its inverse.
double HzToMel(double hz);
double MelToHz(double mel);

// [audio thread] no allocation once output holds n elements.
// Maps a linear spectrum of n bins spaced h Hz (covering F = (n - 1) h) onto
// n Mel-spaced bins by linear interpolation; output resized to n. Bins that
// fall past the last input pair take fill; all are fill when n == 0 or F is
// not a finite value >= 1e-15. output must not be input. Output i samples
// the input at p = f n / F with f = MelToHz(i HzToMel(F) / n), in that order.
void LinearToMel(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                 double fill);
// [audio thread] no allocation once output holds n elements.
// The inverse mapping; all elements are fill when the input holds fewer than
// two bins or h is not a finite positive width. output must not be input.
// Output i samples the input at p = HzToMel(i h) / HzToMel(F) n.
void MelToLinear(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                 double fill);
// Both mappings keep the positions of the first few sizes (n, h) they see,
// up to n = 2048, in static storage and reuse them; these forms compute every
// position afresh and give the same bits (the reference of that reuse).
void LinearToMelReference(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                          double fill);
void MelToLinearReference(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double h,
                          double fill);

// [audio thread] no allocation once the block has held n elements.
// In place, to n elements (n <= 0 empties it): step = (count - 1) / n, output
// i samples the old elements at i * step by linear interpolation, 0 where that
// position is at or past the last element. The last output therefore stops
// short of the end. No temporary is allocated.
void ResizeLinear(KIT_TypedBuf<double>& buf, int n);

// [non-audio thread] allocates a copy of the buffer.
// In place: element i takes the old element at
// trunc((e^(k i / n) - 1) / (e^k - 1) * n), clamped to 0..n - 1.
// Nothing for an empty buffer, k == 0 (the identity warp) or when the copy
// cannot be allocated.
void WarpExpAxis(KIT_TypedBuf<double>& buf, double k);

} // namespace DspUtils

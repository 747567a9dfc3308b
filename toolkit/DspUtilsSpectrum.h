#pragma once
// Spectrum and phase utilities: complex spectra to and from magnitude/phase
// form, the upper half of a real signal's spectrum, phase wrapping.
// Conventions as in DspUtils.h; phases are radians, atan2 range (-pi, pi].
// Every function: [any thread] reentrant, touches only its arguments, and
// allocates nothing once its outputs have held their sizes ([audio thread]
// safe: the plug-in runs the conversions and FillSecondFftHalf every frame).
#include "toolkit/DspUtils.h"

namespace DspUtils {

// magn resized to spectrum's count; magn[i] = |spectrum[i]|.
void ComplexToMagn(KIT_TypedBuf<double>& magn, const KIT_TypedBuf<ComplexValue>& spectrum);

// Both outputs resized to spectrum's count; phase[i] = atan2(im, re) (0 for 0 + 0i).
void ComplexToMagnPhase(KIT_TypedBuf<double>& magn, KIT_TypedBuf<double>& phase,
                        const KIT_TypedBuf<ComplexValue>& spectrum);

// Nothing when the counts differ; otherwise spectrum resized to that count and
// element i = magn[i] * (cos phase[i], sin phase[i]).
void MagnPhaseToComplex(KIT_TypedBuf<ComplexValue>& spectrum, const KIT_TypedBuf<double>& magn,
                        const KIT_TypedBuf<double>& phase);

// Rebuilds the upper half of an n-point real transform from bins 0 .. n/2 - 1:
// bin n/2 becomes 0, bin n/2 + i the conjugate of bin n/2 - i. Nothing for n < 4.
void FillSecondFftHalf(KIT_TypedBuf<ComplexValue>& spectrum);
// Same for magnitudes, without conjugation.
void FillSecondFftHalf(KIT_TypedBuf<double>& magn);

// Wraps an angle into (-pi, pi].
double MapToPi(double angle);
void MapToPi(KIT_TypedBuf<double>& angles);

// reals/imags resized to magn's count; phase holds at least that many.
// reals[i] = magn[i] cos(phase[i]), imags[i] = magn[i] sin(phase[i]).
void MagnPhaseToCartesian(const KIT_TypedBuf<double>& magn, const KIT_TypedBuf<double>& phase,
                          KIT_TypedBuf<double>& reals, KIT_TypedBuf<double>& imags);
// In place: the first phase is raised by 2 pi steps to at least 0; each
// following one by 2 pi steps (offset carried on) to at least the previous.
void UnwrapPhases(KIT_TypedBuf<double>& phases);

} // namespace DspUtils

#include "toolkit/DspUtilsSpectrum.h"

#include <algorithm>
#include <cmath>

namespace DspUtils {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

// The smallest angle + k 2 pi (k >= 0) that is at least limit. Counted in one
// step rather than by repeated addition, so huge or infinite gaps cannot hang.
double RaiseTo(double angle, double limit) {
    if (!(angle < limit) || !std::isfinite(angle) || !std::isfinite(limit)) return angle;
    double raised = angle + std::ceil((limit - angle) / kTwoPi) * kTwoPi;
    if (raised < limit) raised += kTwoPi; // rounding of the step count
    return raised;
}

} // namespace

void ComplexToMagn(KIT_TypedBuf<double>& magn, const KIT_TypedBuf<ComplexValue>& spectrum) {
    magn.Resize(spectrum.GetSize());
    const int count = std::min(magn.GetSize(), spectrum.GetSize());
    for (int i = 0; i < count; ++i) {
        const ComplexValue c = spectrum[i];
        magn[i] = std::sqrt(c.re * c.re + c.im * c.im);
    }
}

void ComplexToMagnPhase(KIT_TypedBuf<double>& magn, KIT_TypedBuf<double>& phase,
                        const KIT_TypedBuf<ComplexValue>& spectrum) {
    magn.Resize(spectrum.GetSize());
    phase.Resize(spectrum.GetSize());
    const int count = std::min({magn.GetSize(), phase.GetSize(), spectrum.GetSize()});
    for (int i = 0; i < count; ++i) {
        const ComplexValue c = spectrum[i];
        magn[i] = std::sqrt(c.re * c.re + c.im * c.im);
        phase[i] = std::atan2(c.im, c.re);
    }
}

void MagnPhaseToComplex(KIT_TypedBuf<ComplexValue>& spectrum, const KIT_TypedBuf<double>& magn,
                        const KIT_TypedBuf<double>& phase) {
    if (magn.GetSize() != phase.GetSize()) return;
    spectrum.Resize(magn.GetSize());
    const int count = std::min(spectrum.GetSize(), magn.GetSize());
    for (int i = 0; i < count; ++i)
        spectrum[i] = {magn[i] * std::cos(phase[i]), magn[i] * std::sin(phase[i])};
}

void FillSecondFftHalf(KIT_TypedBuf<ComplexValue>& spectrum) {
    const int n = spectrum.GetSize();
    if (n < 4) return;
    const int h = n / 2;
    ComplexValue* s = spectrum.Get();
    s[h] = {0.0, 0.0};
    for (int i = 1; i < h; ++i) s[h + i] = {s[h - i].re, -s[h - i].im};
}

void FillSecondFftHalf(KIT_TypedBuf<double>& magn) {
    const int n = magn.GetSize();
    if (n < 4) return;
    const int h = n / 2;
    double* m = magn.Get();
    m[h] = 0.0;
    for (int i = 1; i < h; ++i) m[h + i] = m[h - i];
}

double MapToPi(double angle) {
    double a = std::fmod(angle, kTwoPi);
    if (a <= -kPi) a += kTwoPi;
    if (a > kPi) a -= kTwoPi;
    return a;
}

void MapToPi(KIT_TypedBuf<double>& angles) {
    double* a = angles.Get();
    const int count = angles.GetSize();
    for (int i = 0; i < count; ++i) a[i] = MapToPi(a[i]);
}

void MagnPhaseToCartesian(const KIT_TypedBuf<double>& magn, const KIT_TypedBuf<double>& phase,
                          KIT_TypedBuf<double>& reals, KIT_TypedBuf<double>& imags) {
    reals.Resize(magn.GetSize());
    imags.Resize(magn.GetSize());
    const int count = std::min({reals.GetSize(), imags.GetSize(), magn.GetSize()});
    for (int i = 0; i < count; ++i) {
        // Read both inputs first: an output may be one of them.
        const double m = magn[i], p = phase[i];
        reals[i] = m * std::cos(p);
        imags[i] = m * std::sin(p);
    }
}

void UnwrapPhases(KIT_TypedBuf<double>& phases) {
    const int count = phases.GetSize();
    if (count == 0) return;
    double* p = phases.Get();
    p[0] = RaiseTo(p[0], 0.0);
    double offset = 0.0;
    for (int i = 1; i < count; ++i) {
        const double shifted = p[i] + offset;
        const double raised = RaiseTo(shifted, p[i - 1]);
        offset += raised - shifted;
        p[i] = raised;
    }
}

} // namespace DspUtils

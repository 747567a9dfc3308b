#include "toolkit/ResamplerBiquad.h"

#include <cassert>
#include <cfloat>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Zero and subnormal values (exponent field zero) become +0: subnormals
// would slow the recursion down by orders of magnitude as a signal decays.
inline double FlushTiny(double y) {
    return std::fabs(y) < DBL_MIN ? 0.0 : y;
}

} // namespace

ResamplerBiquad::ResamplerBiquad() {
    ClearHistories();
}

void ResamplerBiquad::ClearHistories() {
    for (History& h : mHistories) h = History{0.0, 0.0, 0.0, 0.0};
}

void ResamplerBiquad::Configure(double position, double q) {
    // Q is compared too: a change of Q alone must reach the coefficients.
    if (std::fabs(position - mLastPosition) < 1e-6 && std::fabs(q - mLastQ) < 1e-6) return;
    mLastPosition = position;
    mLastQ = q;
    const double t = kPi * position;
    const double c = std::cos(t);
    const double alpha = std::sin(t) / (2.0 * q);
    const double k = 1.0 / (1.0 + alpha);
    mB1 = (1.0 - c) * k;
    mB0 = mB2 = mB1 * 0.5;
    mA1 = -2.0 * c * k;
    mA2 = (1.0 - alpha) * k;
}

void ResamplerBiquad::Run(const double* in, double* out, int n, int stride, int set) {
    assert(set >= 0 && set < kHistorySets);
    History& h = mHistories[set];
    double x1 = h.x1, x2 = h.x2, y1 = h.y1, y2 = h.y2;
    for (int i = 0; i < n; ++i) {
        const double x = *in;
        double y = mB0 * x + mB1 * x1 + mB2 * x2 - mA1 * y1 - mA2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y = FlushTiny(y);
        y1 = y;
        *out = y;
        in += stride;
        out += stride;
    }
    h = History{x1, x2, y1, y2};
}

void ResamplerBiquad::RunStereo(double* frames, int n, int left, int right) {
    assert(left >= 0 && left < kHistorySets && right >= 0 && right < kHistorySets && left != right);
    History& hl = mHistories[left];
    History& hr = mHistories[right];
    double lx1 = hl.x1, lx2 = hl.x2, ly1 = hl.y1, ly2 = hl.y2;
    double rx1 = hr.x1, rx2 = hr.x2, ry1 = hr.y1, ry2 = hr.y2;
    for (int i = 0; i < n; ++i, frames += 2) {
        const double lx = frames[0], rx = frames[1];
        double ly = mB0 * lx + mB1 * lx1 + mB2 * lx2 - mA1 * ly1 - mA2 * ly2;
        double ry = mB0 * rx + mB1 * rx1 + mB2 * rx2 - mA1 * ry1 - mA2 * ry2;
        lx2 = lx1, lx1 = lx, ly2 = ly1;
        rx2 = rx1, rx1 = rx, ry2 = ry1;
        ly = FlushTiny(ly);
        ry = FlushTiny(ry);
        ly1 = ly, ry1 = ry;
        frames[0] = ly;
        frames[1] = ry;
    }
    hl = History{lx1, lx2, ly1, ly2};
    hr = History{rx1, rx2, ry1, ry2};
}

#include "toolkit/Window.h"

#include <cmath>

namespace Window {
namespace {

constexpr double kPi = 3.141592653589793;

// Resizes to max(n, 0); returns the data (null when empty).
double* Size(KIT_TypedBuf<double>& buf, int n) {
    buf.Resize(n > 0 ? n : 0);
    return buf.GetSize() == n ? buf.Get() : nullptr;
}

double Hann(int i, int n) {
    if (n == 1) return 1.0; // 0/0 otherwise
    return 0.5 * (1.0 - std::cos(2.0 * kPi * i / (n - 1)));
}

} // namespace

void MakeHanning(int n, KIT_TypedBuf<double>& buf) {
    double* w = Size(buf, n);
    if (!w) return;
    for (int i = 0; i < n; ++i) w[i] = Hann(i, n);
}

void MakeHanningPow(int n, KIT_TypedBuf<double>& buf, double p) {
    double* w = Size(buf, n);
    if (!w) return;
    for (int i = 0; i < n; ++i) w[i] = std::pow(Hann(i, n), p);
}

void MakeConstWindow(int n, KIT_TypedBuf<double>& buf, double value) {
    double* w = Size(buf, n);
    if (!w) return;
    for (int i = 0; i < n; ++i) w[i] = value;
}

double CheckCOLA(const KIT_TypedBuf<double>& window, int overlapping) {
    const int n = window.GetSize();
    if (n <= 0 || overlapping < 1 || overlapping > n) return -1.0;
    const int hop = static_cast<int>(static_cast<double>(n) / overlapping);
    if (hop < 1) return -1.0;
    const double* w = window.Get();
    // The sums are evaluated twice (for the mean, then for the deviations)
    // instead of being stored: this runs on the audio thread when a window
    // method changes, where nothing may allocate.
    auto overlapSum = [&](int i) {
        double s = 0.0;
        for (int offset = 0; offset < n; offset += hop) s += w[(offset + i) % n];
        return s;
    };
    double mean = 0.0;
    for (int i = 0; i < n; ++i) mean += overlapSum(i);
    mean /= n;
    for (int i = 0; i < n; ++i) {
        if (std::fabs(overlapSum(i) - mean) > 0.001) return -1.0;
    }
    return mean;
}

double NormalizeWindowCOLA(KIT_TypedBuf<double>& window, int overlapping) {
    const double gain = CheckCOLA(window, overlapping);
    if (gain > 0.0) ScaleWindow(window, gain);
    return gain;
}

void ScaleWindow(KIT_TypedBuf<double>& window, double x) {
    double* w = window.Get();
    for (int i = 0, n = window.GetSize(); i < n; ++i) w[i] /= x;
}

} // namespace Window

#include "toolkit/SecureRestarter.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Symmetric Hann window, w[j] = 0.5 (1 - cos(2 pi j / (n - 1))), n >= 2: the
// values of Window::MakeHanning, written into a buffer that only grows, as
// this runs on the audio thread (MakeHanning may shrink its buffer).
void FillHann(double* w, int n) {
    for (int j = 0; j < n; ++j) w[j] = 0.5 * (1.0 - std::cos(2.0 * kPi * j / (n - 1)));
}

} // namespace

bool SecureRestarter::BuildWindow(int n) {
    if (n == mWindowLength) return true;
    // Growth only: a shorter block later reuses the allocation.
    mWindow.Resize(n, false);
    if (mWindow.GetSize() != n) return false;
    FillHann(mWindow.Get(), n);
    mWindowLength = n;
    return true;
}

void SecureRestarter::Prepare(int blockSize) {
    if (blockSize >= 2) BuildWindow(blockSize);
}

void SecureRestarter::Process(std::vector<KIT_TypedBuf<double>>& channels) {
    if (channels.empty()) return;
    if (mArmed) {
        const int n = channels[0].GetSize();
        if (n >= 2 && BuildWindow(n)) {
            const double* w = mWindow.Get();
            for (KIT_TypedBuf<double>& channel : channels) {
                if (channel.GetSize() != n) continue;
                double* x = channel.Get();
                for (int j = 0; j < n / 2; ++j) x[j] *= w[j];
            }
        }
    }
    mArmed = false;
}

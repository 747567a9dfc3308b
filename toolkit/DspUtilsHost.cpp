#include "toolkit/DspUtilsHost.h"

namespace DspUtils {

bool PlugIOAllZero(const ChannelList& a, const ChannelList& b) {
    if (a.empty() || b.empty()) return false;
    if (!IsAllZero(a[0]) || !IsAllZero(b[0])) return false;
    if (a.size() >= 2 && b.size() >= 2) return IsAllZero(a[1]) && IsAllZero(b[1]);
    return true;
}

void CopyStereoBuffers(const double* const* src, double* const* dst, int frames) {
    if (!src || !dst || frames <= 0) return;
    for (int channel = 0; channel < 2; ++channel) {
        if (src[channel] && dst[channel] && src[channel] != dst[channel])
            std::memmove(dst[channel], src[channel], sizeof(double) * static_cast<size_t>(frames));
    }
}

void PlugCopyOutputs(const ChannelList& channels, double* const* hostOutputs, int frames) {
    if (!hostOutputs) return;
    for (size_t i = 0; i < channels.size(); ++i) {
        const KIT_TypedBuf<double>& buf = channels[i];
        if (hostOutputs[i] && buf.GetSize() == frames && frames > 0)
            std::memcpy(hostOutputs[i], buf.Get(), sizeof(double) * static_cast<size_t>(frames));
    }
}

} // namespace DspUtils

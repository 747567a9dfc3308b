#pragma once
// Building sample buffers from literal values and reading them back, for the
// DspUtils tests.
#include "toolkit/KIT_TypedBuf.h"

#include <vector>

namespace dsptest {

inline KIT_TypedBuf<double> FromVector(const std::vector<double>& v) {
    KIT_TypedBuf<double> b;
    b.Set(v.data(), static_cast<int>(v.size()));
    return b;
}

// Replaces buf's contents (an empty vector empties it).
inline void SetValues(KIT_TypedBuf<double>& buf, const std::vector<double>& v) {
    buf.Set(v.data(), static_cast<int>(v.size()));
    if (v.empty()) buf.Resize(0);
}

inline std::vector<double> Values(const KIT_TypedBuf<double>& b) {
    return std::vector<double>(b.Get(), b.Get() + b.GetSize());
}

} // namespace dsptest

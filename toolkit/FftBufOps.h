#pragma once
// Buffer moves of the STFT engine. Unlike the general DspUtils versions these
// never shrink or free a block: the engine's FIFOs are filled and drained every
// block, and a freed block would have to be allocated again on the audio thread.
#include "toolkit/KIT_TypedBuf.h"

#include <cstring>

namespace fftbuf {

// Resizes to n (negative counts as 0) keeping the block; false when the
// growth failed (the buffer then keeps its old size).
template <typename T> inline bool SetSize(KIT_TypedBuf<T>& buf, int n) {
    if (n < 0) n = 0;
    buf.Resize(n, false);
    return buf.GetSize() == n;
}

// dst becomes the first n elements of src (n <= src's count).
template <typename T> inline void CopyInto(KIT_TypedBuf<T>& dst, const T* src, int n) {
    if (!SetSize(dst, n) || n == 0) return;
    std::memmove(dst.Get(), src, sizeof(T) * static_cast<size_t>(n));
}

template <typename T> inline void CopyInto(KIT_TypedBuf<T>& dst, const KIT_TypedBuf<T>& src) {
    if (&dst != &src) CopyInto(dst, src.Get(), src.GetSize());
}

// Removes the first n elements (all when n >= count).
template <typename T> inline void ConsumeFront(KIT_TypedBuf<T>& buf, int n) {
    const int count = buf.GetSize();
    if (n <= 0) return;
    if (n >= count) {
        buf.Resize(0, false);
        return;
    }
    std::memmove(buf.Get(), buf.Get() + n, sizeof(T) * static_cast<size_t>(count - n));
    buf.Resize(count - n, false);
}

} // namespace fftbuf

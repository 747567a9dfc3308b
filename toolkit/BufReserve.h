#pragma once
// Room reserved ahead of the audio thread: a buffer grown once during setup
// keeps its block through later resizes (KIT_TypedBuf::Resize with shrink
// false), so growth up to the reserved count allocates nothing.
#include "toolkit/KIT_TypedBuf.h"

namespace kitbuf {

// [setup] allocates. Grows buf's block to hold at least capacity elements,
// keeping its size and contents; false when the block could not grow.
template <typename T> inline bool ReserveCapacity(KIT_TypedBuf<T>& buf, int capacity) {
    const int size = buf.GetSize();
    if (capacity <= size) return true;
    buf.Resize(capacity, false);
    const bool grown = buf.GetSize() == capacity;
    buf.Resize(size, false);
    return grown;
}

} // namespace kitbuf

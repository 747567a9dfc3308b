#pragma once
// Growable byte string carrying the plug-in's state. Values are stored in
// memory order (little-endian on every target we build for). Reads take a
// start position and return the position after the value, or -1 when the
// value does not lie wholly inside the chunk (negative positions and sizes
// included). Appends return the size after the append, 0 when the chunk
// could not grow (then nothing is appended).
#include "toolkit/KIT_HeapBuf.h"

#include <cstdint>
#include <type_traits>

class ByteChunk {
public:
    ByteChunk() : mBytes(KIT_HeapBuf::kDefaultGranularity) {}
    ByteChunk(const ByteChunk&) = delete;
    ByteChunk& operator=(const ByteChunk&) = delete;

    int Size() const { return mBytes.GetSize(); }
    // Null while empty.
    const uint8_t* GetBytes() const { return static_cast<const uint8_t*>(mBytes.Get()); }
    // Size 0; the allocation stays.
    void Clear();

    // Appends size bytes from data (size 0 appends nothing and returns Size();
    // a negative size or null data with size > 0 fails).
    int PutBytes(const void* data, int size);
    // Copies size bytes at startPos into out.
    int GetBytes(void* out, int size, int startPos) const;

    template <typename T> int Put(const T* value) {
        static_assert(std::is_trivially_copyable<T>::value, "plain values only");
        return PutBytes(value, static_cast<int>(sizeof(T)));
    }
    template <typename T> int Get(T* value, int startPos) const {
        static_assert(std::is_trivially_copyable<T>::value, "plain values only");
        return GetBytes(value, static_cast<int>(sizeof(T)), startPos);
    }

    // An int32 byte count followed by the bytes, no NUL. Null counts as "".
    int PutStr(const char* text);
    // Reads such a string into out (outSize bytes with the NUL; a longer
    // string is cut, its whole length still consumed). out is untouched when
    // the read fails.
    int GetStr(char* out, int outSize, int startPos) const;

    // One byte, non-zero = true.
    int PutBool(bool value);
    int GetBool(bool* value, int startPos) const;

    // Appends all of other's bytes.
    int PutChunk(const ByteChunk& other);

private:
    // True when [startPos, startPos + size) lies inside the chunk.
    bool Holds(int startPos, int64_t size) const;

    KIT_HeapBuf mBytes;
};

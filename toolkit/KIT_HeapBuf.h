#pragma once
// Growable byte block with a cheap growth policy. Callers detect allocation
// failure by comparing GetSize() with the size they asked for, so the growth
// and shrink rules in Resize() are exact and must not be "improved".
// [any thread] one owner at a time, no locks; only Resize and CopyFrom
// allocate (through the KIT_Alloc hooks), and never throw.
#include <cstdint>

class KIT_HeapBuf {
public:
    static constexpr int kDefaultGranularity = 4096;

    explicit KIT_HeapBuf(int granularity = kDefaultGranularity) : mGranularity(granularity) {}
    ~KIT_HeapBuf();

    KIT_HeapBuf(const KIT_HeapBuf&) = delete;
    KIT_HeapBuf& operator=(const KIT_HeapBuf&) = delete;
    KIT_HeapBuf(KIT_HeapBuf&& other) noexcept;
    KIT_HeapBuf& operator=(KIT_HeapBuf&& other) noexcept;

    // Block pointer while the used size is non-zero, else null (even with a block).
    void* Get() const { return mUsed ? mBuffer : nullptr; }
    // Used size in bytes.
    int GetSize() const { return mUsed; }
    int GetAllocated() const { return mAllocated; }
    int GetGranularity() const { return mGranularity; }
    void SetGranularity(int granularity) { mGranularity = granularity; }

    // Sets the used size to bytes (negative counts as 0). Sizes are computed in
    // 64 bits; a request or allocation above INT_MAX bytes is a failure. On
    // failure returns the old Get() value and changes nothing. With shrink true
    // the block is reallocated smaller only below the shrink threshold.
    void* Resize(int64_t bytes, bool shrink = true);

    // exact false: becomes a copy of source's used bytes (emptied when the copy
    // cannot be allocated). exact true: also takes source's allocated size and
    // granularity. Copying a buffer onto itself changes nothing.
    void CopyFrom(const KIT_HeapBuf& source, bool exact = false);

private:
    void Release();

    void* mBuffer = nullptr;
    int mAllocated = 0;
    int mUsed = 0;
    int mGranularity;
};

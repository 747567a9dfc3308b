#include "toolkit/KIT_HeapBuf.h"

#include "toolkit/KIT_Alloc.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

KIT_HeapBuf::~KIT_HeapBuf() {
    Release();
}

KIT_HeapBuf::KIT_HeapBuf(KIT_HeapBuf&& other) noexcept
    : mBuffer(other.mBuffer), mAllocated(other.mAllocated), mUsed(other.mUsed),
      mGranularity(other.mGranularity) {
    other.mBuffer = nullptr;
    other.mAllocated = 0;
    other.mUsed = 0;
}

KIT_HeapBuf& KIT_HeapBuf::operator=(KIT_HeapBuf&& other) noexcept {
    if (this != &other) {
        Release();
        mBuffer = std::exchange(other.mBuffer, nullptr);
        mAllocated = std::exchange(other.mAllocated, 0);
        mUsed = std::exchange(other.mUsed, 0);
        mGranularity = other.mGranularity;
    }
    return *this;
}

void KIT_HeapBuf::Release() {
    KIT_Free(mBuffer);
    mBuffer = nullptr;
    mAllocated = 0;
    mUsed = 0;
}

void* KIT_HeapBuf::Resize(int64_t bytes, bool shrink) {
    const int64_t A = mAllocated, S = mUsed, G = mGranularity;
    const int64_t n = bytes < 0 ? 0 : bytes;
    if (n > INT_MAX) return Get();

    if (n == S && (!shrink || n >= A / 2)) return n ? mBuffer : nullptr;

    int64_t threshold = 0;
    if (shrink && n < S) {
        threshold = std::min(A / 2, A - 4 * G);
        if (threshold < 1) threshold = 1;
    }

    if (n > A || n < threshold) {
        int64_t N = 0;
        if (n != 0) {
            int64_t g = std::max(n / 2, G);
            if (G <= 4095) {
                N = n + g;
            } else {
                g = std::clamp<int64_t>(g / 4096 * 4096, 4096, 4194304);
                N = (n + g + 96) / 4096 * 4096 - 96;
            }
        }
        if (N > INT_MAX) return Get();
        if (N != A) {
            if (N == 0) {
                Release();
                return nullptr;
            }
            void* block = KIT_Realloc(mBuffer, static_cast<size_t>(N));
            if (!block) {
                block = KIT_Malloc(static_cast<size_t>(N));
                if (!block) return Get();
                const int64_t keep = std::min(S, n);
                if (mBuffer && keep > 0) std::memcpy(block, mBuffer, static_cast<size_t>(keep));
                KIT_Free(mBuffer);
            }
            mBuffer = block;
            mAllocated = static_cast<int>(N);
        }
    }
    mUsed = static_cast<int>(n);
    return n ? mBuffer : nullptr;
}

void KIT_HeapBuf::CopyFrom(const KIT_HeapBuf& source, bool exact) {
    if (&source == this) return;
    if (!exact) {
        Resize(source.mUsed, true);
        if (mUsed != source.mUsed) {
            Resize(0, true);
            return;
        }
        if (mUsed > 0) std::memcpy(mBuffer, source.mBuffer, static_cast<size_t>(mUsed));
        return;
    }
    Release();
    mGranularity = source.mGranularity;
    if (!source.mBuffer || source.mAllocated <= 0) return;
    void* block = KIT_Malloc(static_cast<size_t>(source.mAllocated));
    if (!block) return;
    mBuffer = block;
    mAllocated = source.mAllocated;
    if (source.mUsed > 0) std::memcpy(mBuffer, source.mBuffer, static_cast<size_t>(source.mUsed));
    mUsed = source.mUsed;
}

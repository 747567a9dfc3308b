#pragma once
// Typed array over one KIT_HeapBuf. Element types must be trivially copyable:
// growth moves the bytes with realloc or memcpy.
// [any thread] one owner at a time, no locks; Resize, Set, Add, Insert and
// CopyFrom allocate only when the block must grow (never with shrink false
// within the block's size), and report failure instead of throwing.
#include "toolkit/KIT_HeapBuf.h"

#include <cstring>
#include <type_traits>

template <typename T> class KIT_TypedBuf {
    static_assert(std::is_trivially_copyable<T>::value, "KIT_TypedBuf holds plain records only");

public:
    KIT_TypedBuf() = default;
    KIT_TypedBuf(KIT_TypedBuf&&) noexcept = default;
    KIT_TypedBuf& operator=(KIT_TypedBuf&&) noexcept = default;
    KIT_TypedBuf(const KIT_TypedBuf&) = delete;
    KIT_TypedBuf& operator=(const KIT_TypedBuf&) = delete;

    // Null while empty.
    T* Get() const { return static_cast<T*>(mBuf.Get()); }
    int GetSize() const { return mBuf.GetSize() / static_cast<int>(sizeof(T)); }
    KIT_HeapBuf& GetHeapBuf() { return mBuf; }
    const KIT_HeapBuf& GetHeapBuf() const { return mBuf; }

    // i in 0 .. GetSize() - 1 (unchecked).
    T& operator[](int i) const { return Get()[i]; }

    // Resizes to n elements (64-bit byte count). Returns the data pointer, null
    // when empty; on failure the old pointer and size stay (check GetSize()).
    T* Resize(int64_t n, bool shrink = true) {
        return static_cast<T*>(mBuf.Resize(n * static_cast<int64_t>(sizeof(T)), shrink));
    }

    // Copies n elements from src (zeros when src is null). Null when n < 0,
    // n == 0 or the resize failed.
    T* Set(const T* src, int n) {
        if (n < 0) return nullptr;
        Resize(n, false);
        if (n == 0 || GetSize() != n) return nullptr;
        Fill(Get(), src, n);
        return Get();
    }

    // Appends n elements from src (zeros when src is null); returns the first
    // appended element, null when n <= 0 or on failure.
    T* Add(const T* src, int n) {
        if (n <= 0) return nullptr;
        const int old = GetSize();
        // src may point into this buffer: remember it as an offset.
        const T* base = Get();
        const bool inside = src && base && src >= base && src < base + old;
        const int64_t offset = inside ? src - base : 0;
        Resize(static_cast<int64_t>(old) + n, false);
        if (GetSize() != old + n) return nullptr;
        if (inside) src = Get() + offset;
        Fill(Get() + old, src, n);
        return Get() + old;
    }

    // Inserts value at index (0..count); null when the index is out of range
    // or the growth failed.
    T* Insert(int index, const T& value) {
        const int old = GetSize();
        if (index < 0 || index > old) return nullptr;
        const T copy = value; // value may live in this buffer
        Resize(static_cast<int64_t>(old) + 1, false);
        if (GetSize() != old + 1) return nullptr;
        T* data = Get();
        std::memmove(data + index + 1, data + index, sizeof(T) * static_cast<size_t>(old - index));
        data[index] = copy;
        return data + index;
    }

    void CopyFrom(const KIT_TypedBuf& other, bool exact = false) {
        mBuf.CopyFrom(other.mBuf, exact);
    }

private:
    static void Fill(T* dst, const T* src, int n) {
        if (src)
            std::memmove(dst, src, sizeof(T) * static_cast<size_t>(n));
        else
            std::memset(static_cast<void*>(dst), 0, sizeof(T) * static_cast<size_t>(n));
    }

    KIT_HeapBuf mBuf;
};

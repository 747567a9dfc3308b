#pragma once
// Ordered list of pointers in one KIT_HeapBuf (8 bytes per entry). The list
// owns nothing by itself: the owner says at Delete/Empty time whether the
// items are destroyed. Not thread-safe; owners guard it with their mutex.
#include "toolkit/KIT_HeapBuf.h"

#include <cstdint>
#include <cstring>

template <typename T> class KIT_PtrList {
public:
    // Destroys one item when the owner asks for deletion; null means `delete`.
    using DeleteFn = void (*)(T* item);

    KIT_PtrList() : mBuf(KIT_HeapBuf::kDefaultGranularity) {}
    KIT_PtrList(const KIT_PtrList&) = delete;
    KIT_PtrList& operator=(const KIT_PtrList&) = delete;

    int GetSize() const { return mBuf.GetSize() / static_cast<int>(sizeof(T*)); }

    // Null when i is out of [0, GetSize()).
    T* Get(int i) const {
        if (i < 0 || i >= GetSize()) return nullptr;
        return Data()[i];
    }

    // Appends item; returns it, or null when the list could not grow (then
    // nothing is stored).
    T* Add(T* item) {
        const int n = GetSize();
        if (!Grow(n + 1)) return nullptr;
        Data()[n] = item;
        return item;
    }

    // Stores item at index, clamped into [0, GetSize()], moving the later
    // entries up. Returns item, or null when the list could not grow.
    T* Insert(int index, T* item) {
        const int n = GetSize();
        if (index < 0) index = 0;
        if (index > n) index = n;
        if (!Grow(n + 1)) return nullptr;
        T** data = Data();
        std::memmove(data + index + 1, data + index, sizeof(T*) * static_cast<size_t>(n - index));
        data[index] = item;
        return item;
    }

    // Index of the first entry equal to item; -1 for null or when absent.
    int Find(const T* item) const {
        if (!item) return -1;
        const int n = GetSize();
        for (int i = 0; i < n; ++i)
            if (Data()[i] == item) return i;
        return -1;
    }

    // Removes entry index (nothing when out of range), destroying its item
    // first when wantDelete. The allocation is kept.
    void Delete(int index, bool wantDelete = false, DeleteFn deleteFn = nullptr) {
        const int n = GetSize();
        if (index < 0 || index >= n) return;
        T** data = Data();
        if (wantDelete) Destroy(data[index], deleteFn);
        std::memmove(data + index, data + index + 1,
                     sizeof(T*) * static_cast<size_t>(n - index - 1));
        mBuf.Resize(static_cast<int64_t>(n - 1) * static_cast<int64_t>(sizeof(T*)), false);
    }

    // Removes every entry; with wantDelete the items are destroyed last to
    // first, the list shrinking as it goes (an item's destructor never sees
    // itself or a later item in the list). The allocation is kept.
    void Empty(bool wantDelete = false, DeleteFn deleteFn = nullptr) {
        if (wantDelete) {
            for (int n = GetSize(); n > 0; --n) {
                T* item = Data()[n - 1];
                mBuf.Resize(static_cast<int64_t>(n - 1) * static_cast<int64_t>(sizeof(T*)), false);
                Destroy(item, deleteFn);
            }
        }
        mBuf.Resize(0, false);
    }

private:
    // Data() of the heap buffer is null at size 0; callers index only below
    // GetSize().
    T** Data() const { return static_cast<T**>(mBuf.Get()); }

    bool Grow(int entries) {
        const int64_t bytes = static_cast<int64_t>(entries) * static_cast<int64_t>(sizeof(T*));
        mBuf.Resize(bytes, false);
        return mBuf.GetSize() == bytes;
    }

    static void Destroy(T* item, DeleteFn deleteFn) {
        if (!item) return;
        if (deleteFn)
            deleteFn(item);
        else
            delete item;
    }

    KIT_HeapBuf mBuf;
};

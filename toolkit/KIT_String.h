#pragma once
// NUL-terminated text over one KIT_HeapBuf of granularity 128. The used size
// counts the text and its NUL; a string never set has used size 0. Edits never
// shrink the allocation.
// [any thread] one owner at a time; every edit may allocate (never on the
// audio thread), and a failed allocation leaves the text as it was.
#include "toolkit/KIT_HeapBuf.h"

class KIT_String {
public:
    static constexpr int kGranularity = 128;

    KIT_String() : mBuf(kGranularity) {}
    explicit KIT_String(const char* text) : mBuf(kGranularity) { Set(text); }
    // Copy of other's text; null gives the empty text.
    explicit KIT_String(const KIT_String* other) : mBuf(kGranularity) {
        Set(other ? other->Get() : nullptr);
    }
    KIT_String(const KIT_String&) = delete;
    KIT_String& operator=(const KIT_String&) = delete;
    KIT_String(KIT_String&&) noexcept = default;
    KIT_String& operator=(KIT_String&&) noexcept = default;

    // Never null: an empty literal while nothing is stored.
    const char* Get() const;
    char* GetMutable() { return static_cast<char*>(mBuf.Get()); }
    int GetLength() const;
    const KIT_HeapBuf& GetHeapBuf() const { return mBuf; }

    // Takes the text up to maxLength bytes (whole text when maxLength <= 0).
    void Set(const char* text, int maxLength = 0);
    void Append(const char* text, int maxLength = 0);
    // Writes count bytes of src at offset after moving the keep bytes that stood
    // there behind them; NUL-terminates. src may lie inside this string's block.
    void SetAt(int offset, const char* src, int count, int keep);
    // Removes count characters from position on (clipped to the text).
    void DeleteSub(int position, int count);

private:
    static int TakenLength(const char* text, int maxLength);

    KIT_HeapBuf mBuf;
};

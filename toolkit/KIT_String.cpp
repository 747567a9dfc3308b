#include "toolkit/KIT_String.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

const char* KIT_String::Get() const {
    const char* text = static_cast<const char*>(mBuf.Get());
    return text ? text : "";
}

int KIT_String::GetLength() const {
    return static_cast<int>(std::strlen(Get()));
}

int KIT_String::TakenLength(const char* text, int maxLength) {
    if (!text) return 0;
    if (maxLength <= 0) return static_cast<int>(std::strlen(text));
    const void* nul = std::memchr(text, 0, static_cast<size_t>(maxLength));
    return nul ? static_cast<int>(static_cast<const char*>(nul) - text) : maxLength;
}

void KIT_String::Set(const char* text, int maxLength) {
    SetAt(0, text, TakenLength(text, maxLength), 0);
}

void KIT_String::Append(const char* text, int maxLength) {
    SetAt(GetLength(), text, TakenLength(text, maxLength), 0);
}

void KIT_String::SetAt(int offset, const char* src, int count, int keep) {
    if (offset == 0 && count == 0 && keep == 0) {
        mBuf.Resize(1, false);
        if (mBuf.GetSize() == 1) static_cast<char*>(mBuf.Get())[0] = 0;
        return;
    }
    if (count <= 0 || offset < 0 || keep < 0) return;

    const int64_t required = static_cast<int64_t>(offset) + count + keep + 1;
    const int used = mBuf.GetSize();
    if (used < required) {
        const char* oldData = static_cast<const char*>(mBuf.Get());
        const bool inside = src && oldData && src >= oldData && src < oldData + used;
        const ptrdiff_t srcOffset = inside ? src - oldData : 0;
        mBuf.Resize(required, false);
        if (inside) src = static_cast<const char*>(mBuf.Get()) + srcOffset;
    }
    if (mBuf.GetSize() < required) return;

    char* data = static_cast<char*>(mBuf.Get());
    if (keep > 0) std::memmove(data + offset + count, data + offset, static_cast<size_t>(keep));
    if (src) std::memmove(data + offset, src, static_cast<size_t>(count));
    data[offset + count + keep] = 0;
    if (required < used) mBuf.Resize(required, false);
}

void KIT_String::DeleteSub(int position, int count) {
    const int used = mBuf.GetSize();
    const int length = used - 1;
    if (length < 0 || position < 0) return;
    char* data = static_cast<char*>(mBuf.Get());
    if (!data || data[0] == 0 || length - position <= 0) return;
    if (position + count > length) count = length - position;
    if (count <= 0) return;
    std::memmove(data + position, data + position + count,
                 static_cast<size_t>(length - position - count + 1));
    mBuf.Resize(used - count, false);
}

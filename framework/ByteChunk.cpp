#include "framework/ByteChunk.h"

#include "framework/Trace.h"

#include <algorithm>
#include <cstring>

void ByteChunk::Clear() {
    FW_TRACE();
    mBytes.Resize(0, false);
}

bool ByteChunk::Holds(int startPos, int64_t size) const {
    FW_TRACE();
    return startPos >= 0 && size >= 0 && static_cast<int64_t>(startPos) + size <= Size();
}

int ByteChunk::PutBytes(const void* data, int size) {
    FW_TRACE();
    if (size < 0 || (size > 0 && !data)) return 0;
    const int old = Size();
    if (size == 0) return old;
    const int64_t wanted = static_cast<int64_t>(old) + size;
    // data may lie inside this chunk: remember it as an offset across the resize.
    const uint8_t* base = GetBytes();
    const uint8_t* src = static_cast<const uint8_t*>(data);
    const bool inside = base && src >= base && src < base + old;
    const int64_t offset = inside ? src - base : 0;
    mBytes.Resize(wanted, false);
    if (Size() != wanted) return 0;
    uint8_t* dst = static_cast<uint8_t*>(mBytes.Get());
    if (inside) src = dst + offset;
    std::memmove(dst + old, src, static_cast<size_t>(size));
    return Size();
}

int ByteChunk::GetBytes(void* out, int size, int startPos) const {
    FW_TRACE();
    if (!out || !Holds(startPos, size)) return -1;
    if (size > 0) std::memcpy(out, GetBytes() + startPos, static_cast<size_t>(size));
    return startPos + size;
}

int ByteChunk::PutStr(const char* text) {
    FW_TRACE();
    if (!text) text = "";
    const size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT32_MAX - 4)) return 0;
    const int32_t count = static_cast<int32_t>(length);
    const int old = Size();
    if (!Put(&count)) return 0;
    if (!PutBytes(text, count)) {
        mBytes.Resize(old, false); // no half-written string
        return 0;
    }
    return Size();
}

int ByteChunk::GetStr(char* out, int outSize, int startPos) const {
    FW_TRACE();
    if (!out || outSize < 1) return -1;
    int32_t count = 0;
    const int pos = Get(&count, startPos);
    if (pos < 0 || !Holds(pos, count)) return -1;
    const int kept = std::min(count, outSize - 1);
    if (kept > 0) std::memcpy(out, GetBytes() + pos, static_cast<size_t>(kept));
    out[kept] = '\0';
    return pos + count;
}

int ByteChunk::PutBool(bool value) {
    FW_TRACE();
    const uint8_t byte = value ? 1 : 0;
    return Put(&byte);
}

int ByteChunk::GetBool(bool* value, int startPos) const {
    FW_TRACE();
    if (!value) return -1;
    uint8_t byte = 0;
    const int pos = Get(&byte, startPos);
    if (pos >= 0) *value = byte != 0;
    return pos;
}

int ByteChunk::PutChunk(const ByteChunk& other) {
    FW_TRACE();
    return PutBytes(other.GetBytes(), other.Size());
}

#include "nn/nn_parser.h"

#include <algorithm>
#include <cstring>
#include <iostream>

namespace nn {

static_assert(sizeof(float) == 4, "model files hold IEEE 754 float32");

void reportError(const char* file, int line, const std::string& message) {
    const char* base = std::strrchr(file, '/');
    base = base ? base + 1 : file;
    // One write per line so that reports from different threads do not interleave.
    std::string text;
    text.reserve(message.size() + 32);
    text += '[';
    text += base;
    text += "::";
    text += std::to_string(line);
    text += "] ";
    text += message;
    text += '\n';
    std::cerr << text << std::flush;
}

namespace {
// Reads up to `wanted` bytes; returns how many arrived.
size_t readBytes(std::istream& stream, char* dst, size_t wanted) {
    stream.read(dst, static_cast<std::streamsize>(wanted));
    return static_cast<size_t>(stream.gcount());
}

// The model format is little-endian; x86-64 is too, so the bytes are the value.
bool littleEndianHost() {
    const uint32_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

void swapWords(void* block, size_t n) {
    auto* p = static_cast<unsigned char*>(block);
    for (size_t i = 0; i < n; ++i, p += 4) {
        unsigned char t = p[0];
        p[0] = p[3];
        p[3] = t;
        t = p[1];
        p[1] = p[2];
        p[2] = t;
    }
}

bool readWord(std::istream& stream, void* value) {
    char bytes[4];
    const size_t got = readBytes(stream, bytes, 4);
    if (got != 4) {
        NN_ERROR("Parse failed: " << got << " - " << 4);
        return false;
    }
    std::memcpy(value, bytes, 4);
    if (!littleEndianHost()) swapWords(value, 1);
    return true;
}
} // namespace

bool Parser::read(std::istream& stream, uint32_t& value) {
    return readWord(stream, &value);
}

bool Parser::read(std::istream& stream, float& value) {
    return readWord(stream, &value);
}

bool Parser::readArray(std::istream& stream, float* block, size_t n) {
    if (!block && n > 0) {
        NN_ERROR("Output ptr is null");
        return false;
    }
    const size_t wanted = n * 4;
    const size_t got = n ? readBytes(stream, reinterpret_cast<char*>(block), wanted) : 0;
    if (got != wanted) {
        NN_ERROR("Parse failed: " << got << " - " << wanted);
        return false;
    }
    if (!littleEndianHost()) swapWords(block, n);
    return true;
}

bool Parser::readArray(std::istream& stream, FloatBlock& block, size_t n) {
    const uint64_t wanted = uint64_t(n) * 4;
    const int64_t available = remainingBytes(stream);
    if (available >= 0) {
        if (uint64_t(available) < wanted) {
            // What a read would do, without first allocating the whole block.
            stream.ignore(std::streamsize(available));
            stream.setstate(std::ios_base::eofbit | std::ios_base::failbit);
            NN_ERROR("Parse failed: " << available << " - " << wanted);
            return false;
        }
        block.resize(n);
        return readArray(stream, block.data(), n);
    }
    // Length unknown: the block grows by at most one piece beyond the bytes
    // that actually arrived.
    constexpr size_t kPiece = size_t(1) << 20;
    block.clear();
    size_t done = 0;
    while (done < n) {
        const size_t piece = std::min(kPiece, n - done);
        block.resize(done + piece);
        const size_t got =
            readBytes(stream, reinterpret_cast<char*>(block.data() + done), piece * 4);
        if (got != piece * 4) {
            NN_ERROR("Parse failed: " << done * 4 + got << " - " << wanted);
            return false;
        }
        done += piece;
    }
    fromLittleEndian(block.data(), n);
    return true;
}

void Parser::fromLittleEndian(void* block, size_t n) {
    if (!littleEndianHost()) swapWords(block, n);
}

int64_t Parser::remainingBytes(std::istream& stream) {
    if (!stream.good()) return stream.eof() ? 0 : -1;
    std::streambuf* buf = stream.rdbuf();
    if (!buf) return -1;
    const std::streampos here = buf->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    if (here == std::streampos(-1)) return -1;
    const std::streampos end = buf->pubseekoff(0, std::ios_base::end, std::ios_base::in);
    buf->pubseekpos(here, std::ios_base::in);
    if (end == std::streampos(-1)) return -1;
    return static_cast<int64_t>(end - here);
}

} // namespace nn

#pragma once
// Model-stream readers and the engine's error report.
//
// Every failure in the engine writes exactly one line to standard error:
//   "[<source base name>::<line>] <message>\n", flushed.
// Use NN_ERROR(a << b << ...) so that file and line are those of the report.
#include "nn/nn_aligned_allocator.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <sstream>
#include <string>
#include <vector>

namespace nn {

// Writes one report line; file is the path the build records (cut after the
// last '/'). [any thread] allocates (error paths only).
void reportError(const char* file, int line, const std::string& message);

class Parser {
public:
    // Reads exactly 4 bytes as one little-endian value. Reports
    // "Parse failed: <read> - 4" and returns false on a short read; the
    // stream is left failed. [loading thread]
    static bool read(std::istream& stream, uint32_t& value);
    static bool read(std::istream& stream, float& value);

    // Reads exactly 4n bytes into block as n little-endian floats. Reports
    // "Output ptr is null" for a null block (n > 0), "Parse failed: <read> -
    // <4n>" on a short read; false on either. [loading thread]
    static bool readArray(std::istream& stream, float* block, size_t n);
    // As above into block, resized to n. The block never outgrows what the
    // stream holds: a seekable stream with fewer than 4n bytes left is read
    // to its end and reported before anything is allocated; another stream
    // is read in pieces of a few megabytes. [loading thread] allocates
    using FloatBlock = std::vector<float, aligned_allocator<float>>;
    static bool readArray(std::istream& stream, FloatBlock& block, size_t n);

    // Turns n words read from a model stream into host order (nothing to do
    // on little-endian hosts).
    static void fromLittleEndian(void* block, size_t n);

    // Bytes left between the stream's read position and its end, or -1 when
    // the stream cannot tell (not seekable). Leaves the position unchanged.
    static int64_t remainingBytes(std::istream& stream);
};

} // namespace nn

#define NN_ERROR(expr)                                                                             \
    do {                                                                                           \
        std::ostringstream nnErrorText_;                                                           \
        nnErrorText_ << expr;                                                                      \
        ::nn::reportError(__FILE__, __LINE__, nnErrorText_.str());                                 \
    } while (false)

#pragma once
// Helpers for the engine's tests: model bytes written field by field, and
// the engine's error reports captured from standard error.
#include "nn/nn_tensor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace nntest {

class ModelBytes {
public:
    ModelBytes& u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_ += char((v >> (8 * i)) & 0xff);
        return *this;
    }
    ModelBytes& f32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return u32(bits);
    }
    // A tensor record: the sizes, then the floats (the dimension count is not stored).
    ModelBytes& tensor(std::initializer_list<uint32_t> dims, const std::vector<float>& values) {
        for (uint32_t d : dims) u32(d);
        for (float v : values) f32(v);
        return *this;
    }
    ModelBytes& raw(const std::string& bytes) {
        bytes_ += bytes;
        return *this;
    }
    const std::string& str() const { return bytes_; }
    std::istringstream stream() const { return std::istringstream(bytes_); }

private:
    std::string bytes_;
};

// Splits captured report lines into their messages (the text after "] ");
// a line not in the report format is kept whole so that a test shows it.
inline std::vector<std::string> messagesOf(const std::string& captured) {
    std::vector<std::string> messages;
    std::istringstream lines(captured);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t cut = line.find("] ");
        messages.push_back(line.size() && line[0] == '[' && cut != std::string::npos
                               ? line.substr(cut + 2)
                               : line);
    }
    return messages;
}

// Runs f with standard error captured and returns the report messages.
template <typename F> std::vector<std::string> reportsOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return messagesOf(testing::internal::GetCapturedStderr());
}

// A tensor of the given dims (1 to 4) holding values, zeros after them.
inline nn::Tensor tensorOf(const nn::Tensor::Dims& dims, const std::vector<float>& values = {}) {
    nn::Tensor t;
    if (dims.size() == 1) t.resize(dims[0]);
    if (dims.size() == 2) t.resize(dims[0], dims[1]);
    if (dims.size() == 3) t.resize(dims[0], dims[1], dims[2]);
    if (dims.size() == 4) t.resize(dims[0], dims[1], dims[2], dims[3]);
    for (size_t i = 0; i < values.size() && i < t.size(); ++i) t[i] = values[i];
    return t;
}

inline std::vector<float> valuesOf(const nn::Tensor& t) {
    return std::vector<float>(t.data(), t.data() + t.size());
}

inline bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

using Messages = std::vector<std::string>;

} // namespace nntest

#pragma once
// nn::membuf: a read-only stream buffer over the caller's memory block (no
// copy), seekable so that loaders can check how many bytes remain.
#include <cstddef>
#include <streambuf>

namespace nn {

class membuf : public std::streambuf {
public:
    // [begin, begin + size) must outlive the buffer. [loading thread]
    membuf(const char* begin, size_t size);

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
};

} // namespace nn

#include "nn/nn_membuf.h"

namespace nn {

membuf::membuf(const char* begin, size_t size) {
    // The get area is never written through; streambuf wants char*.
    char* first = const_cast<char*>(begin);
    setg(first, first, first + size);
}

membuf::pos_type membuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                 std::ios_base::openmode which) {
    if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
    off_type base = 0;
    if (dir == std::ios_base::cur)
        base = gptr() - eback();
    else if (dir == std::ios_base::end)
        base = egptr() - eback();
    const off_type target = base + off;
    if (target < 0 || target > egptr() - eback()) return pos_type(off_type(-1));
    setg(eback(), eback() + target, egptr());
    return pos_type(target);
}

membuf::pos_type membuf::seekpos(pos_type pos, std::ios_base::openmode which) {
    return seekoff(off_type(pos), std::ios_base::beg, which);
}

} // namespace nn

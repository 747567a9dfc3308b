#pragma once
// Allocator for tensor data: every block starts on a 16-byte boundary so the
// SSE kernels can use aligned loads at element offsets that are multiples of 4.
//
// allocate(n) takes n * sizeof(T) + 16 bytes from operator new, returns the
// first 16-byte boundary strictly after the raw start and keeps the raw
// address in the 8 bytes just before the returned one.
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace nn {

template <typename T> class aligned_allocator {
public:
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using is_always_equal = std::true_type;

    aligned_allocator() noexcept = default;
    template <typename U> aligned_allocator(const aligned_allocator<U>&) noexcept {}

    // n == 0 gives no block. Throws std::length_error for n >= 2^62 and
    // std::bad_alloc when memory runs out.
    T* allocate(size_t n) {
        if (n == 0) return nullptr;
        if (n >= (size_t(1) << 62) || n > (SIZE_MAX - 16) / sizeof(T))
            throw std::length_error("aligned_allocator<T,A>::allocate() - Integer overflow.");
        void* raw = ::operator new(n * sizeof(T) + 16);
        const uintptr_t aligned = (reinterpret_cast<uintptr_t>(raw) + 16) & ~uintptr_t(15);
        reinterpret_cast<void**>(aligned)[-1] = raw;
        return reinterpret_cast<T*>(aligned);
    }

    void deallocate(T* p, size_t) noexcept {
        if (!p) return;
        ::operator delete(reinterpret_cast<void**>(p)[-1]);
    }

    template <typename U> bool operator==(const aligned_allocator<U>&) const noexcept {
        return true;
    }
    template <typename U> bool operator!=(const aligned_allocator<U>&) const noexcept {
        return false;
    }
};

} // namespace nn

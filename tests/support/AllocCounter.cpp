#include "tests/support/AllocCounter.h"

#include "toolkit/KIT_Alloc.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
std::atomic<int> gActive{0};
std::atomic<int64_t> gCount{0};

inline void Note() {
    if (gActive.load(std::memory_order_relaxed) > 0) gCount.fetch_add(1, std::memory_order_relaxed);
}

void* CountingMalloc(size_t n) {
    Note();
    return std::malloc(n);
}
void* CountingRealloc(void* p, size_t n) {
    Note();
    return std::realloc(p, n);
}

void* Allocate(size_t n) {
    Note();
    if (n == 0) n = 1;
    void* p = std::malloc(n);
    if (!p) throw std::bad_alloc();
    return p;
}
void* AllocateAligned(size_t n, size_t align) {
    Note();
    if (n == 0) n = 1;
    void* p = nullptr;
    if (posix_memalign(&p, align < sizeof(void*) ? sizeof(void*) : align, n) != 0)
        throw std::bad_alloc();
    return p;
}
} // namespace

void* operator new(size_t n) {
    return Allocate(n);
}
void* operator new[](size_t n) {
    return Allocate(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    Note();
    return std::malloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    Note();
    return std::malloc(n ? n : 1);
}
void* operator new(size_t n, std::align_val_t a) {
    return AllocateAligned(n, size_t(a));
}
void* operator new[](size_t n, std::align_val_t a) {
    return AllocateAligned(n, size_t(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace testsupport {

AllocCounter::AllocCounter() {
    if (gActive.fetch_add(1) == 0) KIT_SetAllocHooks({&CountingMalloc, &CountingRealloc, nullptr});
    gCount.store(0);
}

AllocCounter::~AllocCounter() {
    if (gActive.fetch_sub(1) == 1) KIT_ResetAllocHooks();
}

int64_t AllocCounter::Count() const {
    return gCount.load();
}
void AllocCounter::Reset() {
    gCount.store(0);
}

int ThreadCount() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    int threads = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "Threads:", 8) == 0) {
            threads = std::atoi(line + 8);
            break;
        }
    }
    std::fclose(f);
    return threads;
}

} // namespace testsupport

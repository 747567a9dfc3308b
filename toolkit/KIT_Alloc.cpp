#include "toolkit/KIT_Alloc.h"

#include <cstdlib>

namespace {
const KIT_AllocHooks kDefaultHooks = {&std::malloc, &std::realloc, &std::free};
KIT_AllocHooks gHooks = kDefaultHooks;
} // namespace

const KIT_AllocHooks& KIT_GetAllocHooks() {
    return gHooks;
}

void KIT_SetAllocHooks(const KIT_AllocHooks& hooks) {
    gHooks.malloc_fn = hooks.malloc_fn ? hooks.malloc_fn : kDefaultHooks.malloc_fn;
    gHooks.realloc_fn = hooks.realloc_fn ? hooks.realloc_fn : kDefaultHooks.realloc_fn;
    gHooks.free_fn = hooks.free_fn ? hooks.free_fn : kDefaultHooks.free_fn;
}

void KIT_ResetAllocHooks() {
    gHooks = kDefaultHooks;
}

void* KIT_Malloc(size_t bytes) {
    return gHooks.malloc_fn(bytes);
}
void* KIT_Realloc(void* block, size_t bytes) {
    return gHooks.realloc_fn(block, bytes);
}
void KIT_Free(void* block) {
    if (block) gHooks.free_fn(block);
}

#pragma once
// Heap primitives behind every KIT_ container. Tests replace them to inject
// allocation failure; production code never touches the hooks.
#include <cstddef>

struct KIT_AllocHooks {
    void* (*malloc_fn)(size_t bytes);
    void* (*realloc_fn)(void* block, size_t bytes);
    void (*free_fn)(void* block);
};

// [any thread] Returns the hooks in force (the C library's by default).
const KIT_AllocHooks& KIT_GetAllocHooks();

// [test setup] Installs hooks; a null member restores the C library's
// function for it. Not thread-safe: call only while no container is being
// resized.
void KIT_SetAllocHooks(const KIT_AllocHooks& hooks);
void KIT_ResetAllocHooks();

// [any thread] The hooks' functions, with the C library's contracts: null
// on failure, KIT_Free(null) does nothing. Allocating: never on the audio
// thread after prepare.
void* KIT_Malloc(size_t bytes);
void* KIT_Realloc(void* block, size_t bytes);
void KIT_Free(void* block);

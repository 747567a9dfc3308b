#pragma once
// Heap primitives behind every KIT_ container. Tests replace them to inject
// allocation failure; production code never touches the hooks.
#include <cstddef>

struct KIT_AllocHooks {
    void* (*malloc_fn)(size_t bytes);
    void* (*realloc_fn)(void* block, size_t bytes);
    void (*free_fn)(void* block);
};

// Returns the hooks in force (the C library's by default).
const KIT_AllocHooks& KIT_GetAllocHooks();

// Installs hooks; a null member restores the C library's function for it.
// Not thread-safe: call only while no container is being resized.
void KIT_SetAllocHooks(const KIT_AllocHooks& hooks);
void KIT_ResetAllocHooks();

void* KIT_Malloc(size_t bytes);
void* KIT_Realloc(void* block, size_t bytes);
void KIT_Free(void* block);

// AllocOrAbort and its handler (see alloc.h).
#include "base/alloc.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {
// Installed once by the shell: an allocation deep in the core cannot be
// handed the box that tells the user.
OutOfMemoryHandler g_out_of_memory = nullptr;
}

void SetOutOfMemoryHandler(OutOfMemoryHandler handler) {
    g_out_of_memory = handler;
}

void* AllocOrAbort(size_t size) {
    // Sixteen bytes of slack beyond the request, as callers have always had;
    // a size where that would wrap around is a failure, not a tiny block.
    void* block = size <= SIZE_MAX - 16 ? malloc(size + 16) : nullptr;
    if (block) return block;
    if (g_out_of_memory) g_out_of_memory();
    fputs("malloc: out of memory\n", stderr);
    abort();
}

void* GrowBlock(void* block, size_t used, size_t* capacity, size_t needed, size_t size) {
    if (needed <= *capacity) return block;
    size_t grown = *capacity ? *capacity : 64;
    while (grown < needed) grown *= 2;
    void* larger = AllocOrAbort(grown * size);
    if (used) memcpy(larger, block, used * size);
    free(block);
    *capacity = grown;
    return larger;
}

// AllocOrAbort and its handler (see alloc.h).
#include "base/alloc.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

namespace {
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

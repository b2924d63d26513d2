// The one heap allocation whose failure the user is told about. The core
// calls it freely; what happens when memory runs out is the shell's business.
#pragma once

#include <stddef.h>

// Returns at least size bytes from the heap (free with free()). On failure it
// calls the out-of-memory handler, which tells the user and ends the process;
// without one (vnpack, the tests) it reports on stderr and aborts.
void* AllocOrAbort(size_t size);

// Installed once by the Win32 shell. Must not return.
typedef void (*OutOfMemoryHandler)();
void SetOutOfMemoryHandler(OutOfMemoryHandler handler);

// Grows a heap block of elements of size bytes each, used of them in use, to
// hold at least needed; *capacity is updated. Returns the block (moved when it
// grew); the growth doubles, so appending one at a time stays linear.
void* GrowBlock(void* block, size_t used, size_t* capacity, size_t needed, size_t size);

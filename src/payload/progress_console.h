// Test hook of the console progress window: with a recorder set, the window
// "opens" (a non-null handle) and every progress call is passed on to it.
#pragma once

#include <stdint.h>

enum ProgressCall {
    kProgressOpen,  // value: total bytes
    kProgressClose,
    kProgressFileName,       // text: the destination path
    kProgressFileRange,      // value: upper bound of bar 1010
    kProgressFilePosition,   // value: position of bar 1010
    kProgressTotalPosition,  // value: position of bar 1019
};
typedef void (*ProgressRecorder)(ProgressCall call, int32_t value, const char* text);

// Null restores the default: no window, every call ignored.
void SetConsoleProgressRecorder(ProgressRecorder recorder);

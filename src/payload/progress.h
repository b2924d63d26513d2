// The copy progress window as the extraction engine sees it. The updater links
// progress_win.cpp (the "COPYINGDELUX" dialog); console builds link
// progress_console.cpp, where nothing is shown and the handle is null.
#pragma once

#include <stdint.h>

typedef struct CopyProgressWindow* CopyProgressHandle;

// Opens the window for a payload of total bytes (bar 1019 gets the range
// 0 .. max(1, total / 131072)). Any open window is closed first. Null when the
// window could not be created; the copy then runs without display.
CopyProgressHandle OpenCopyProgress(int32_t total);

// Closes the window. 1 when none was open, 0 after closing one.
int CloseCopyProgress();

// Controls of the window, all in units of 131,072 bytes: 1012 shows the
// destination path; 1010 is the current file's bar, 1019 the whole payload's.
// The window shows the latest values at most about 30 times a second; the
// end of a file whose name is on screen, and of the whole copy, always.
void SetCopyProgressFileName(CopyProgressHandle window, const char* path);
void SetCopyProgressFileRange(CopyProgressHandle window, int32_t upper);
void SetCopyProgressFilePosition(CopyProgressHandle window, int32_t position);
void SetCopyProgressTotalPosition(CopyProgressHandle window, int32_t position);

// Tests only (the window of progress_win.cpp): called after each time the
// controls were told of new values.
void SetCopyProgressShownForTesting(void (*shown)());

// The copy progress window ("COPYINGDELUX"): a modeless dialog owned by the
// main window, which the copy pass opens around its walk and tells of the
// walk's progress through the walk's events (ExtractEvents).
#pragma once

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <stdint.h>

#include "base/wide_win.h"
#include "payload/extract.h"

// Bar positions, in blocks of 131,072 bytes.
struct CopyBars {
    int32_t file_upper, file_position, total_position;
};

// The window and what it shows. The caller owns it, zeroed but for the
// seams below, from OpenCopyProgress to CloseCopyProgress.
struct CopyProgressWindow {
    HWND window;  // null: the window could not be made; the copy runs without display
    // What the walk last asked for and what the controls show: the latest
    // values win.
    CopyBars wanted, shown;
    wchar_t wanted_name[kWidePathCapacity];
    bool name_pending;
    uint32_t last_shown;  // clock reading when the controls were last told
    bool quit;            // a pump (the window's or the walk's) took a quit message
    int quit_code;
    // Seams for the tests: the clock (null: the system's), and a call after
    // each time the controls were told of new values.
    uint32_t (*clock)();
    void (*shown_hook)();
};

// Opens the window for a payload of total bytes (bar 1019 gets the range
// 0 .. max(1, total / 131072)) and runs the messages its creation queued.
// A quit message taken then sets copy->quit.
void OpenCopyProgress(CopyProgressWindow* copy, int32_t total);

// Shows the last values, closes the window and runs the messages that
// queued; a quit message taken then sets copy->quit.
void CloseCopyProgress(CopyProgressWindow* copy);

// The walk's events for the window: file names and bars, and the pump (a
// quit message it takes sets copy->quit as well; no pump runs after it).
ExtractEvents CopyProgressEvents(CopyProgressWindow* copy);

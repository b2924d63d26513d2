// The start-up window ("MAINDIALOG"): the program's main window and, through
// its modal loop, the program's main loop.
#pragma once

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include "image/surface.h"
#include "shell/exitpath_win.h"
#include "ui/startup.h"

// The start-up window's state, owned by the entry and handed to the window
// as its creation parameter.
struct StartupWindow {
    ButtonAction actions[kSlotCount];
    bool busy;            // a button's command runs: clicks and closes wait
    char readme[128];     // INSTREADME's caption, INSTREADMEFL's name when opened
    ImageSurface* picture;  // the title picture; null leaves the left side empty
    POINT picture_at;     // its top-left corner in client coordinates
    RunEnd end;           // how the run ends, once the window has ended
    int exit_code;        // what EndRun gave for it
};

// Shows the start-up window until the user leaves it or the run has to end;
// window->end and window->exit_code then say how (EndRun has run).
// kRunStartupWindowFailed when the window cannot be created at all.
void RunStartupWindow(StartupWindow* window);

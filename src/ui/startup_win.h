// The start-up window ("MAINDIALOG"): the program's main window and, through
// its modal loop, the program's main loop.
#pragma once

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

// Dialog procedure of "MAINDIALOG". The window always ends with result 0,
// after it has removed the work folder.
INT_PTR CALLBACK StartupWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

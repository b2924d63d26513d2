// The main window record: the start-up window registers itself here, and every
// message box and secondary dialog takes it as owner and the updater's title as
// caption.
#pragma once

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <stddef.h>

// Dispatches every message waiting in the thread's queue without waiting.
// False once it took a quit message, with the message's code in *quit_code:
// the caller ends the run with that code (messages behind it stay queued).
bool PumpMessages(int* quit_code);
// The same as a walk's pump event (ExtractEvents); context is not used.
bool PumpWalkMessages(void* context, int* quit_code);

// Stores the main window. Called once, when the start-up window initialises;
// never cleared.
void SetMainWindow(HWND window);

// The stored main window, or null before the start-up window exists.
HWND GetMainWindow();

// The module of the main window, whose resources its dialogs are made from;
// the program's own before the main window exists.
HINSTANCE GetMainWindowInstance();

// The updater's title, "<TITLEBAR> <suffix>" from the setting, into out: the
// start-up window shows it and every box under it takes it as caption.
void WindowTitle(char* out, size_t capacity);

// Centres the window's outer rectangle on the primary screen (not the work
// area); a window larger than the screen gets negative coordinates.
void CenterOnScreen(HWND window);

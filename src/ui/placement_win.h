// Window placement and launches shared by every dialog of the updater.
#pragma once

#include <windows.h>

// Centres the window's outer rectangle on the primary screen (not the work
// area); a window larger than the screen gets negative coordinates.
void CenterOnScreen(HWND window);

// Opens a document with the shell's "open" verb, owned by the main window; a
// relative name is taken from the current directory. Failures are silent.
void ShellOpen(const char* file_name);

// Starts a program (path quoted, so spaces are allowed) without waiting for
// it. Non-zero when the process was started.
int RunProgram(const char* program_path);

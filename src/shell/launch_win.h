// The start-up window's launches: a document through the shell, a program.
#pragma once

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

// Opens a document with the shell's "open" verb, owned by the main window; a
// relative name is taken from the current directory and handed on as a full
// path. The viewer starts in the document's folder, or in the system folder
// when that is the work folder or lies inside it. Failures are silent.
void ShellOpen(const char* file_name);

// Starts a program (path quoted, so spaces are allowed) without waiting for
// it. Non-zero when the process was started.
int RunProgram(const char* program_path);

// The program's reports to the user: error boxes with Retry/Cancel or OK and
// the yes/no question, with the clipboard copy of error texts. Only the Win32
// shell shows boxes; the portable core hands its failures up as results.
#pragma once

// Capacity of the formatted text of a box, terminator included.
enum { kBoxTextCapacity = 1024 };

// Error with Retry and Cancel. Returns only when the user chose Retry; Cancel
// ends the process with exit code -1. The text goes to the clipboard.
void ErrorRetryBox(const char* format, ...);

// Error with OK. The text goes to the clipboard.
void ErrorBox(const char* format, ...);

// Question with Yes and No; true only for Yes.
bool AskYesNo(const char* format, ...);

// Puts text on the clipboard. 0 on success, -1 when no memory block was had.
int CopyToClipboard(const char* text);

// Installs the shell's answers to the core's two questions that end a run:
// memory running out (the "malloc" box) and a setup file that the file layer
// cannot open (Retry and Cancel). Called first thing by every program that
// shows the updater's windows.
void InstallShellHandlers();

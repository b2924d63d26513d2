// The program's reports to the user: error boxes with Retry/Cancel or OK and
// the yes/no question, with the clipboard copy of error texts. Only the Win32
// shell shows boxes; the portable core hands its failures up as results.
#pragma once

// Capacity of the formatted text of a box, terminator included.
enum { kBoxTextCapacity = 1024 };

// Error with Retry and Cancel; true only for Retry. Wherever it is asked,
// Cancel ends the run (kRunCancelled). The text goes to the clipboard.
bool ErrorRetryBox(const char* format, ...);

// Error with OK. The text goes to the clipboard.
void ErrorBox(const char* format, ...);

// Question with Yes and No; true only for Yes.
bool AskYesNo(const char* format, ...);

// Puts text on the clipboard. 0 on success, -1 when no memory block was had.
int CopyToClipboard(const char* text);

// Installs the shell's answers to the core's two questions: memory running out
// (the "malloc" box, which ends the process) and a setup file that the file
// layer cannot open (Retry and Cancel; after Cancel the open fails). Called
// first thing by every program that shows the updater's windows.
void InstallShellHandlers();

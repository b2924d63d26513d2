// The program's reports to the user: error boxes with Retry/Cancel or OK, the
// yes/no question, the clipboard copy of error texts, and the one allocation
// whose failure the user is told about. The updater links msgbox_win.cpp;
// vnpack and the tests link msgbox_console.cpp.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// Capacity of the formatted text of a box, terminator included.
enum { kBoxTextCapacity = 1024 };

// Formats like vsnprintf into buffer (capacity bytes), but a text that does
// not fit is cut at a code page 932 character boundary, never inside one.
void FormatBoxText(char* buffer, size_t capacity, const char* format, va_list args);
void FormatText(char* buffer, size_t capacity, const char* format, ...);

// Copies text with each bare line break (LF) written as CR LF, the form that
// Windows programs expect of pasted text. Cut at a character boundary.
void ExpandLineBreaks(const char* text, char* buffer, size_t capacity);

// Error with Retry and Cancel. Returns only when the user chose Retry; Cancel
// ends the process with exit code -1. The text goes to the clipboard.
void ErrorRetryBox(const char* format, ...);

// Error with OK. The text goes to the clipboard.
void ErrorBox(const char* format, ...);

// Question with Yes and No; true only for Yes.
bool AskYesNo(const char* format, ...);

// Puts text on the clipboard. 0 on success, -1 when no memory block was had.
int CopyToClipboard(const char* text);

// Returns at least size bytes from the heap (free with free()); on failure
// shows the out-of-memory box and ends the process with exit code -1.
void* AllocOrAbort(size_t size);

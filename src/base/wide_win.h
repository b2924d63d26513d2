// Code page 932 <-> UTF-16 at the Win32 call boundary. Every text that the
// program hands to a W function passes through here with code page 932 named
// explicitly, so the system's ANSI code page never matters.
#pragma once

// Every Win32 file includes this one: the shell's system calls are bound ones.
#include "base/systemdll_win.h"

#include <stddef.h>

// Capacity in UTF-16 units of a converted path: a 260-byte code page 932 path
// never needs more than 260 units, but names coming back from the system can be
// longer than the program's buffers, and those must be detected, not cut.
enum { kWidePathCapacity = 1024 };

// Strict conversion for paths and names. The text must be valid code page 932
// and fit (terminator included) into capacity units; otherwise wide is set to
// the empty string and the result is false. A path that would be altered by
// the conversion must never reach the file system.
bool Cp932ToWide(const char* text, wchar_t* wide, size_t capacity);

// Strict conversion back: false when a character has no code page 932 form (no
// best-fit substitution is accepted) or when the result does not fit; text is
// then the empty string.
bool WideToCp932(const wchar_t* wide, char* text, size_t capacity);

// Lenient conversion for texts that are only shown (message boxes, captions,
// labels): an invalid byte becomes a replacement character, and a text that
// does not fit is cut at a character boundary. Always terminates wide.
void Cp932ToWideForDisplay(const char* text, wchar_t* wide, size_t capacity);

// A converted path on the stack, for the common "convert, then call" pattern.
struct WidePath {
    wchar_t text[kWidePathCapacity];
    bool ok;
};
WidePath ToWidePath(const char* path);

// The Windows directory in code page 932 into out; false, with out empty,
// when the system gives none or code page 932 cannot write it whole.
bool GetWindowsFolder(char* out, size_t capacity);

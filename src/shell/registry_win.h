// The registry, read and written in one place and in one view: the values the
// game's installer left under Software\group\title, and the [reg] entries the
// update writes there. Names and texts are code page 932 and cross into the
// system through explicit conversions, never an A call.
#pragma once

#include <stddef.h>

// Capacity of a registry value's text, terminator included: a longer value is
// treated as missing, never cut.
enum { kRegistryTextCapacity = 512 };

enum RegistryRoot { kRegistryUser, kRegistryMachine };

// Reads the REG_SZ value value_name under root\Software\group\title into text.
// False, with text untouched, for a missing key or value, another type, a text
// of kRegistryTextCapacity bytes or more once in code page 932, or one that
// code page 932 cannot write: every case that leaves the caller's default.
bool ReadRegistryText(RegistryRoot root, const char* group, const char* title,
                      const char* value_name, char (&text)[kRegistryTextCapacity]);

// A REG_SZ value under HKEY_CURRENT_USER\Software\group\title, created as
// needed. 0, or -1 when the key or the value could not be written.
int WriteRegistryText(const char* group, const char* title, const char* value_name,
                      const char* data);

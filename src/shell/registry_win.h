// The registry, read and written in one place and in one view: the values the
// game's installer left under Software\group\title, and the [reg] entries the
// update writes there. Names and texts are code page 932 and cross into the
// system through explicit conversions, never an A call.
#pragma once

#include <stddef.h>

// Capacity of a registry value's text, terminator included: a longer value is
// treated as missing, never cut.
enum { kRegistryTextCapacity = 512 };

// Reads under root\Software\group\title. Only REG_SZ values count; a missing
// key or value, another type, a text of kRegistryTextCapacity bytes or more
// once in code page 932, or one that code page 932 cannot write gives the
// default.
//
// The version value under HKEY_CURRENT_USER, read as RegistryTextToInt does.
int ReadUserRegInt(const char* group, const char* title, const char* value_name, int fallback);
// The same under HKEY_LOCAL_MACHINE (the installed marker IsInst).
int ReadMachineRegInt(const char* group, const char* title, const char* value_name, int fallback);
// A text under HKEY_LOCAL_MACHINE (the folder InstTo) into out. 0 when the
// value was read; -1 when out holds fallback instead, which is also the case
// for a value that does not fit capacity. fallback may be out itself; a
// fallback that does not fit gives the empty text.
int ReadMachineRegString(const char* group, const char* title, const char* value_name,
                         const char* fallback, char* out, size_t capacity);

// A REG_SZ value under HKEY_CURRENT_USER\Software\group\title, created as
// needed. 0, or -1 when the key or the value could not be written.
int WriteRegString(const char* group, const char* title, const char* value_name,
                      const char* data);

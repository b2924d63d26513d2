// The updater runs with administrator rights from a download folder, where
// anyone may have left a DLL under a system DLL's name. Its executable imports
// only kernel32 and the C runtime; every function of another system DLL that
// the shell calls (systemcalls.txt) is bound at run time from that DLL loaded
// by its full path in the system folder. The same C++ on every architecture:
// no import library, no linker feature, no name decoration.
//
// Every Windows header that declares a bound function is included here, before
// the macros that follow: a file may include this header anywhere, and the
// declarations are never seen again behind a macro.
#pragma once

// Before anything of libstdc++ (combaseapi.h pulls in its <stdlib.h>), which
// switches the printf family to MinGW's own: the updater keeps the system's.
#include <stdio.h>
#include <wchar.h>

#include <windows.h>
#include <commctrl.h>
#include <ntsecapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winternl.h>

// MinGW's winternl.h lacks this one (ntdll has exported it since NT 3.1).
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID routine,
                                               PVOID context, PIO_STATUS_BLOCK io, PVOID buffer,
                                               ULONG length, FILE_INFORMATION_CLASS kind,
                                               BOOLEAN single, PUNICODE_STRING name,
                                               BOOLEAN restart);

#include "systemcalls.h"

enum SystemCallId {
#define VN_SYSTEM_CALL_ID(dll, name) kCall_##name,
    VN_SYSTEM_CALLS(VN_SYSTEM_CALL_ID)
#undef VN_SYSTEM_CALL_ID
    kSystemCallCount
};

// Restricts the DLL search of this process to the system folder, binds every
// function of systemcalls.txt from its DLL loaded by full path, and loads
// from there the DLLs that the shell and the common controls would otherwise
// look up later. The updater's first call; false when a DLL or a function is
// missing, and then nothing of the shell may run. Another program binds on
// its first bound call.
bool LoadDllsFromSystemFolderOnly();

// The bound address of one function (bound on first use).
void* SystemCall(SystemCallId id);

// Each bound function's name stands for its bound address, with the
// function's own type: calls read as ordinary Win32 calls.
#define VN_SYSTEM_CALL(name) (reinterpret_cast<decltype(&::name)>(SystemCall(kCall_##name)))

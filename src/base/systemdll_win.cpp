// DLLs from the system folder only (see systemdll_win.h).
#include "base/systemdll_win.h"

#include <windows.h>

#include <wchar.h>

namespace {

// Not among the DLLs that Windows always maps from the system folder (the
// known DLLs), but loaded on demand by the shell's folder browser and
// ShellExecuteEx, by the themed common controls and by COM. Loaded once by
// full path, they are found already in memory when those ask for them.
const wchar_t* const kLaterDlls[] = {L"uxtheme.dll", L"dwmapi.dll",  L"cryptbase.dll",
                                     L"userenv.dll", L"propsys.dll", L"profapi.dll",
                                     L"version.dll", L"winmm.dll"};

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD);

}  // namespace

void LoadDllsFromSystemFolderOnly() {
    // Windows 7 without KB2533623 lacks SetDefaultDllDirectories; there the
    // empty DLL folder at least takes the current directory out of the search.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto restrict_search = kernel ? (SetDefaultDllDirectoriesCall)(void*)GetProcAddress(
                                        kernel, "SetDefaultDllDirectories")
                                  : nullptr;
    if (!restrict_search || !restrict_search(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");

    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    for (const wchar_t* name : kLaterDlls) {
        wchar_t path[MAX_PATH];
        int written = swprintf(path, MAX_PATH, L"%ls\\%ls", folder, name);
        // A DLL this Windows does not have is simply not loaded.
        if (written > 0 && written < MAX_PATH) LoadLibraryW(path);
    }
}

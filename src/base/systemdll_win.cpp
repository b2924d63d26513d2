// DLLs from the system folder only, and the shell's system functions bound
// from them (see systemdll_win.h).
#include "base/systemdll_win.h"

#include <wchar.h>

namespace {

struct SystemCallRow {
    const wchar_t* dll;
    const char* name;
};

const SystemCallRow kSystemCalls[] = {
#define VN_SYSTEM_CALL_ROW(dll, name) {dll, #name},
    VN_SYSTEM_CALLS(VN_SYSTEM_CALL_ROW)
#undef VN_SYSTEM_CALL_ROW
};

// Not among the DLLs that Windows always maps from the system folder (the
// known DLLs), but loaded on demand by the shell's folder browser and
// ShellExecuteEx, by the themed common controls and by COM. Loaded once by
// full path, they are found already in memory when those ask for them.
const wchar_t* const kLaterDlls[] = {L"uxtheme.dll", L"dwmapi.dll",  L"cryptbase.dll",
                                     L"userenv.dll", L"propsys.dll", L"profapi.dll",
                                     L"version.dll", L"winmm.dll"};

// Written once, by the first bind, before any bound call: what a process-wide
// table of addresses must be.
void* g_bound[kSystemCallCount];
// Whether that bind has run, and how it went: it runs once, whoever asks.
enum BindState { kBindNotTried, kBindDone, kBindFailed } g_bind = kBindNotTried;

// Loads name from the system folder by its full path; null when this Windows
// lacks it or the path does not fit.
HMODULE LoadSystemDll(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    size_t name_length = wcslen(name);
    if (length + 1 + name_length >= MAX_PATH) return nullptr;
    folder[length] = L'\\';
    wmemcpy(folder + length + 1, name, name_length + 1);
    return LoadLibraryW(folder);
}

bool BindSystemCalls() {
    if (g_bind != kBindNotTried) return g_bind == kBindDone;
    g_bind = kBindFailed;
    const wchar_t* loaded_name = nullptr;
    HMODULE loaded = nullptr;
    for (size_t i = 0; i < kSystemCallCount; ++i) {
        // The rows of one DLL follow each other.
        if (!loaded_name || wcscmp(loaded_name, kSystemCalls[i].dll) != 0) {
            loaded_name = kSystemCalls[i].dll;
            loaded = LoadSystemDll(loaded_name);
            if (!loaded) return false;
        }
        g_bound[i] = (void*)GetProcAddress(loaded, kSystemCalls[i].name);
        if (!g_bound[i]) return false;
    }
    g_bind = kBindDone;
    return true;
}

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD);

}  // namespace

bool LoadDllsFromSystemFolderOnly() {
    // Windows 7 without KB2533623 lacks SetDefaultDllDirectories; there the
    // empty DLL folder at least takes the current directory out of the search.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto restrict_search = kernel ? (SetDefaultDllDirectoriesCall)(void*)GetProcAddress(
                                        kernel, "SetDefaultDllDirectories")
                                  : nullptr;
    if (!restrict_search || !restrict_search(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");

    if (!BindSystemCalls()) return false;
    // A DLL this Windows does not have is simply not loaded.
    for (const wchar_t* name : kLaterDlls) LoadSystemDll(name);
    return true;
}

void* SystemCall(SystemCallId id) {
    // A program that did not bind first (vnpack.exe, the bench's programs)
    // binds here; the updater has bound and checked before its first call.
    if (g_bind == kBindNotTried) BindSystemCalls();
    return g_bound[id];
}

// A stand-in for the updater's start without a payload, used to develop and
// check the Wine bench itself: it makes a fresh work folder, reports the
// damaged payload in an error box (text also on the clipboard), removes the
// folder and exits with -1.
//
// A file "standin.fault" beside the executable names deliberate faults, one
// word per line, so that the bench can show that each test catches the
// behaviour it is about: caption, owner, icon, text, exitcode, leftover,
// reuse, ansiclipboard.
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include <string.h>

#include "texts.h"

namespace {

char g_faults[512];

bool Fault(const char* word) {
    size_t length = strlen(word);
    for (const char* at = g_faults; (at = strstr(at, word)) != nullptr; at += length) {
        bool starts = at == g_faults || at[-1] == '\n' || at[-1] == '\r';
        char end = at[length];
        if (starts && (end == 0 || end == '\n' || end == '\r')) return true;
    }
    return false;
}

void LoadFaults() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash || (slash - path) + 14 >= MAX_PATH) return;
    wcscpy(slash + 1, L"standin.fault");
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD got = 0;
    ReadFile(file, g_faults, sizeof(g_faults) - 1, &got, nullptr);
    g_faults[got] = 0;
    CloseHandle(file);
}

wchar_t g_workFolder[MAX_PATH];

// A name that exists already is never taken: its files are someone else's.
void CreateWorkFolder() {
    wchar_t temp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp)) return;
    DWORD clock = timeGetTime();
    for (int attempt = 0; attempt < 100000; ++attempt) {
        swprintf(g_workFolder, MAX_PATH, L"%lsTempGPInstallFolder_%09d", temp,
                 (int)(clock + attempt));
        if (CreateDirectoryW(g_workFolder, nullptr)) break;
        if (Fault("reuse")) break;
    }
    SetCurrentDirectoryW(g_workFolder);
}

void RemoveWorkFolder() {
    SetCurrentDirectoryW(L"C:\\");
    wchar_t pattern[MAX_PATH + 4];
    swprintf(pattern, MAX_PATH + 4, L"%ls\\*.*", g_workFolder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            wchar_t file[MAX_PATH * 2];
            swprintf(file, MAX_PATH * 2, L"%ls\\%ls", g_workFolder, found.cFileName);
            DeleteFileW(file);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(g_workFolder);
}

HGLOBAL GlobalCopy(const void* data, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block) return nullptr;
    memcpy(GlobalLock(block), data, size);
    GlobalUnlock(block);
    return block;
}

void CopyToClipboard(const char* text, const wchar_t* wide) {
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    SetClipboardData(CF_TEXT, GlobalCopy(text, strlen(text) + 1));
    // Without the wide form the system would convert with its own code page.
    if (!Fault("ansiclipboard"))
        SetClipboardData(CF_UNICODETEXT, GlobalCopy(wide, (wcslen(wide) + 1) * sizeof(wchar_t)));
    CloseClipboard();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    LoadFaults();
    CreateWorkFolder();
    const char* text = Fault("text") ? kTextSetupFilesMissing : kTextPayloadDamaged;
    wchar_t wide[1024];
    int units = MultiByteToWideChar(932, 0, text, -1, wide, 1024);
    if (units <= 0) wide[0] = 0;
    CopyToClipboard(text, wide);
    HWND owner = nullptr;
    if (Fault("owner"))
        owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                nullptr);
    UINT style = MB_OK | (Fault("icon") ? MB_ICONWARNING : MB_ICONERROR);
    MessageBoxW(owner, wide, Fault("caption") ? L"vnupdate" : L"", style);
    if (!Fault("leftover")) RemoveWorkFolder();
    ExitProcess(Fault("exitcode") ? 1u : (UINT)-1);
}

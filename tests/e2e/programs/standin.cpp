// A stand-in for the updater's start without a payload, for checking the
// bench itself (tests/e2e/selfcheck.py): it makes a fresh work folder, reports
// the damaged payload in an error box (text also on the clipboard), removes the
// folder and exits with -1. The environment variable STANDIN_FAULT names one
// deliberate fault, so that the bench can show that each test catches the
// behaviour it is about: caption, owner, icon, text, exitcode, leftover,
// ansiclipboard.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "texts.h"

namespace {

char g_fault[64];
wchar_t g_work_folder[MAX_PATH];

bool Fault(const char* word) {
    return strcmp(g_fault, word) == 0;
}

// A name that exists already is never taken: its files are someone else's.
void CreateWorkFolder() {
    wchar_t temp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp)) return;
    DWORD clock = GetTickCount();
    for (int attempt = 0; attempt < 100000; ++attempt) {
        swprintf(g_work_folder, MAX_PATH, L"%lsTempGPInstallFolder_%09d", temp,
                 (int)(clock + attempt));
        if (CreateDirectoryW(g_work_folder, nullptr)) break;
    }
}

// Everything in the folder goes, as the updater's removal does.
void RemoveWorkFolder() {
    wchar_t path[MAX_PATH * 2];
    swprintf(path, MAX_PATH * 2, L"%ls\\*.*", g_work_folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        swprintf(path, MAX_PATH * 2, L"%ls\\%ls", g_work_folder, found.cFileName);
        DeleteFileW(path);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    RemoveDirectoryW(g_work_folder);
}

HGLOBAL GlobalCopy(const void* data, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block) {
        memcpy(GlobalLock(block), data, size);
        GlobalUnlock(block);
    }
    return block;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    GetEnvironmentVariableA("STANDIN_FAULT", g_fault, sizeof g_fault);
    CreateWorkFolder();
    const char* text = Fault("text") ? kTextSetupFilesMissing : kTextPayloadDamaged;
    wchar_t wide[1024] = {0};
    MultiByteToWideChar(932, 0, text, -1, wide, 1024);
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        SetClipboardData(CF_TEXT, GlobalCopy(text, strlen(text) + 1));
        // Without the wide form the system would convert with its own code page.
        if (!Fault("ansiclipboard"))
            SetClipboardData(CF_UNICODETEXT, GlobalCopy(wide, (wcslen(wide) + 1) * 2));
        CloseClipboard();
    }
    HWND owner = Fault("owner") ? CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                                  nullptr, nullptr, nullptr)
                                : nullptr;
    MessageBoxW(owner, wide, Fault("caption") ? L"vnupdate" : L"",
                MB_OK | (Fault("icon") ? MB_ICONWARNING : MB_ICONERROR));
    if (!Fault("leftover")) RemoveWorkFolder();
    ExitProcess(Fault("exitcode") ? 1u : (UINT)-1);
}

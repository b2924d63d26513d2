// Stands in for the programs the updater starts (the readme's viewer, the
// DirectX set-up): appends its command line and current folder, as UTF-8,
// one line each, to echoargs.out beside itself. While someone holds the mutex
// "echoargs hold" it then stays, as a viewer the user has not closed yet.
#include <windows.h>

#include <wchar.h>

static void Append(HANDLE file, const wchar_t* text) {
    char utf8[4096];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
    if (length <= 0) return;
    utf8[length - 1] = '\n';
    DWORD written;
    WriteFile(file, utf8, (DWORD)length, &written, nullptr);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    wcscpy(wcsrchr(path, L'\\') + 1, L"echoargs.out");
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    Append(file, GetCommandLineW());
    wchar_t folder[MAX_PATH];
    if (GetCurrentDirectoryW(MAX_PATH, folder)) Append(file, folder);
    CloseHandle(file);
    if (HANDLE hold = OpenMutexW(SYNCHRONIZE, FALSE, L"echoargs hold")) {
        WaitForSingleObject(hold, INFINITE);
        CloseHandle(hold);
    }
    return 0;
}

// Document opening and program launch.
#include "shell/launch_win.h"

#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include "base/text.h"
#include "base/wide_win.h"
#include "shell/window_win.h"
#include "base/workfolder.h"

namespace {

// The full form of a path, for the comparison below and for the viewer, which
// must not depend on the current folder it is given.
bool FullPath(const wchar_t* path, wchar_t* full) {
    DWORD length = GetFullPathNameW(path, kWidePathCapacity, full, nullptr);
    return length > 0 && length < kWidePathCapacity;
}

// True when path is folder or lies below it, letter case aside as Windows
// compares names.
bool IsWithin(const wchar_t* path, const wchar_t* folder) {
    size_t length = wcslen(folder);
    while (length > 0 && folder[length - 1] == L'\\') --length;
    return length > 0 && wcslen(path) >= length &&
           CompareStringOrdinal(path, (int)length, folder, (int)length, TRUE) == CSTR_EQUAL &&
           (path[length] == L'\\' || path[length] == L'\0');
}

// Where the viewer starts. Not the work folder: a viewer left open past the
// updater's end would keep it, since no process can remove a folder that is
// another's current one. The system folder instead is always there and adds
// nothing to where a program looks for its DLLs.
bool ViewerFolder(const wchar_t* document, wchar_t* folder) {
    wcscpy(folder, document);
    wchar_t* last = wcsrchr(folder, L'\\');
    if (!last) return false;
    last[last == folder + 2 ? 1 : 0] = L'\0';  // "C:\" keeps its separator
    // Only a folder known to lie outside the work folder is taken.
    WidePath work = ToWidePath(WorkFolderPath());
    wchar_t full_work[kWidePathCapacity];
    if (work.ok && (work.text[0] == L'\0' ||
                    (FullPath(work.text, full_work) && !IsWithin(folder, full_work)))) {
        return true;
    }
    UINT length = GetSystemDirectoryW(folder, kWidePathCapacity);
    return length > 0 && length < kWidePathCapacity;
}

}  // namespace

void ShellOpen(const char* file_name) {
    WidePath wide = ToWidePath(file_name);
    wchar_t document[kWidePathCapacity], folder[kWidePathCapacity];
    if (!wide.ok || !FullPath(wide.text, document) || !ViewerFolder(document, folder)) return;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.hwnd = GetMainWindow();
    info.lpVerb = L"open";
    info.lpFile = document;
    info.lpDirectory = folder;
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
}

int RunProgram(const char* program_path) {
    char command[kPathCapacity];
    // A path that does not fit between the quotes is not started at all: a
    // cut path could name a different program.
    int length = snprintf(command, sizeof command, "\"%s\"", program_path);
    if (length < 0 || (size_t)length >= sizeof command) return 0;
    WidePath wide = ToWidePath(command);  // CreateProcessW may write into it
    if (!wide.ok) return 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(nullptr, wide.text, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process);
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return started;
}

// Document opening and program launch.
#include "ui/launch_win.h"

#include <shellapi.h>

#include <stdio.h>

#include "base/window_win.h"
#include "base/text.h"
#include "base/wide_win.h"

void ShellOpen(const char* file_name) {
    WidePath wide = ToWidePath(file_name);
    if (!wide.ok) return;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.hwnd = GetMainWindow();
    info.lpVerb = L"open";
    info.lpFile = wide.text;
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

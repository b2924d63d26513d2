// boxes.exe MODE TITLEBAR [FORMAT ARGUMENT]: one of the updater's message
// boxes, through its own code, under a main window titled as the start-up
// window of an updater with that TITLEBAR. MODE: retry (ErrorRetryBox), error
// (ErrorBox, 5 for a "%d" after the string), ask (AskYesNo), or alloc
// (AllocOrAbort of more than a process can hold). Exit code and printed line
// say what came back: 3 ErrorRetryBox, 4 ErrorBox, 1 / 0 AskYesNo, 2 bad arguments.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "base/alloc.h"
#include "shell/window_win.h"
#include "base/wide_win.h"
#include "config/settings.h"
#include "shell/msgbox_win.h"

namespace {

// Far beyond what the address space can hand out in one piece, yet far
// from the top, so the sixteen bytes of slack cannot wrap around.
const size_t kImpossibleSize = sizeof(size_t) == 4 ? (size_t)0xF0000000u : (size_t)1 << 60;

int Report(const char* outcome, int code) {
    printf("%s\n", outcome);
    fflush(stdout);
    return code;
}

int Run(const wchar_t* mode, const char* format, const char* argument) {
    if (wcscmp(mode, L"retry") == 0)  // Cancel: nothing printed
        return ErrorRetryBox(format, argument) ? Report("retry returned", 3) : -1;
    if (wcscmp(mode, L"ask") == 0)
        return AskYesNo(format, argument) ? Report("yes", 1) : Report("no", 0);
    if (wcscmp(mode, L"error") == 0) {
        ErrorBox(format, argument, 5);
        return Report("error returned", 4);
    }
    if (wcscmp(mode, L"alloc") == 0) free(AllocOrAbort(kImpossibleSize));
    return Report("unknown mode or alloc returned", 2);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    InstallShellHandlers();
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    static char format[kBoxTextCapacity], argument[2 * kBoxTextCapacity];
    if (!args || (count != 3 && count != 5) ||
        (count == 5 && (!WideToCp932(args[3], format, sizeof format) ||
                        !WideToCp932(args[4], argument, sizeof argument))))
        return Report("usage: boxes MODE TITLEBAR [FORMAT ARGUMENT]", 2);
    char title[kBoxTextCapacity];
    FILE* settings = tmpfile();
    if (!settings || !WideToCp932(args[2], title, sizeof title)) return Report("no settings", 2);
    fprintf(settings, "TITLEBAR %s\n", title);
    rewind(settings);
    ReadSettings(settings);
    fclose(settings);
    // A plain window stands in for the start-up window: the boxes' owner.
    WindowTitle(title, sizeof title);
    wchar_t wide_title[kBoxTextCapacity];
    Cp932ToWideForDisplay(title, wide_title, kBoxTextCapacity);
    HWND window = CreateWindowExW(0, L"STATIC", wide_title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                                  100, 400, 300, nullptr, nullptr, nullptr, nullptr);
    if (!window) return Report("no main window", 2);
    SetMainWindow(window);
    return Run(args[1], format, argument);
}

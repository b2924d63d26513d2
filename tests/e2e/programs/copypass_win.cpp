// Runs the copy pass of an updater's payload into a folder, under the real
// copy progress window, for the bench to watch. The walk, the window and the
// file writing are the updater's own code; only the payload comes from the
// updater file named on the command line instead of from this program.
//
// copypass.exe UPDATER.exe DESTINATION [PAUSE_MS [LINGER_MS]]
//
// PAUSE_MS (default 0) holds the window still, pumping its messages, after
// each file's start and after each block, so that every destination path and
// every bar position stays on the screen long enough to be read. LINGER_MS
// (default 0) keeps the process alive after the window has closed, so that
// its disappearance can be seen apart from the end of the process.
//
// Prints "opened SIZE", "closed" and "done" (or the reason of a refusal);
// exit code 0 after a complete copy, 2 for bad arguments, 3 when the updater
// cannot be read, 4 when its archive is refused, 5 without a window, 6 when
// the walk failed.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "base/pump.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "payload/progress.h"
#include "resources/resource.h"

namespace {

DWORD g_pause = 0;
WNDPROC g_file_bar_proc = nullptr;
WNDPROC g_total_bar_proc = nullptr;

// Pumps until the time is up, waking at once for every message: the bench
// reads the window with messages sent from its own process, one at a time.
void Wait(DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        PumpMessages();
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

// The walk sets the file bar to 0 once the label and the range of a new file
// are in place: hold the window there.
LRESULT CALLBACK FileBarProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = CallWindowProcW(g_file_bar_proc, window, message, wparam, lparam);
    if (message == PBM_SETPOS && wparam == 0) Wait(g_pause);
    return result;
}

// The overall bar is the last control set after each block.
LRESULT CALLBACK TotalBarProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = CallWindowProcW(g_total_bar_proc, window, message, wparam, lparam);
    if (message == PBM_SETPOS) Wait(g_pause);
    return result;
}

void HoldAtEachStep(HWND window) {
    HWND file_bar = GetDlgItem(window, IDC_COPY_FILE_BAR);
    HWND total_bar = GetDlgItem(window, IDC_COPY_TOTAL_BAR);
    g_file_bar_proc = (WNDPROC)SetWindowLongPtrW(file_bar, GWLP_WNDPROC, (LONG_PTR)FileBarProc);
    g_total_bar_proc = (WNDPROC)SetWindowLongPtrW(total_bar, GWLP_WNDPROC, (LONG_PTR)TotalBarProc);
}

int Run(const wchar_t* updater, const wchar_t* destination_wide, DWORD linger) {
    char destination[kPathCapacity];
    if (!WideToCp932(destination_wide, destination, sizeof destination)) {
        printf("destination has no code page 932 form\n");
        return 2;
    }
    FILE* stream = _wfopen(updater, L"rb");
    PayloadArchive archive;
    if (!stream || LocateArchive(stream, &archive) != 0) {
        printf("cannot read the updater's archive\n");
        return 3;
    }
    ArchiveFault fault = {"", 0, ""};
    if (CheckArchive(&archive, strlen(destination), &fault) != 0) {
        printf("archive refused at %ld: %s\n", (long)fault.offset, fault.reason);
        return 4;
    }
    CopyProgressHandle window = OpenCopyProgress(archive.size);
    if (!window) {
        printf("no window\n");
        return 5;
    }
    printf("opened %ld\n", (long)archive.size);
    fflush(stdout);
    if (g_pause) HoldAtEachStep((HWND)window);
    ExtractTarget target = {destination, kCopyPass, window, nullptr};
    int walked = WalkArchive(&archive, &target, &fault);
    fclose(stream);
    CloseCopyProgress();
    printf("closed\n");
    fflush(stdout);
    Wait(linger);
    if (walked != 0) {
        printf("walk failed at %ld: %s\n", (long)fault.offset, fault.reason);
        return 6;
    }
    printf("done\n");
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    InitCommonControls();
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count < 3 || count > 5) {
        printf("usage: copypass UPDATER DESTINATION [PAUSE_MS [LINGER_MS]]\n");
        return 2;
    }
    if (count > 3) g_pause = (DWORD)wcstoul(args[3], nullptr, 10);
    DWORD linger = count > 4 ? (DWORD)wcstoul(args[4], nullptr, 10) : 0;
    int result = Run(args[1], args[2], linger);
    fflush(stdout);
    LocalFree(args);
    return result;
}

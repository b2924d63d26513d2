// copypass.exe UPDATER.exe DESTINATION: the updater's own copy pass of the
// payload of UPDATER into DESTINATION under the real progress window, for the
// bench to watch. It holds still at every step (a file's name and range in
// place, each block, and once after the window has closed): it prints "hold"
// and keeps the window alive until the bench posts WM_APP to its thread, so
// that every step is read whole however slow the machine. Prints "opened SIZE",
// "hold"s, "closed", "done" or why it stopped; exit code 0 after a complete
// copy, 2 to 6 for a refusal on the way.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "base/wide_win.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "payload/progress.h"
#include "resources/resource.h"

namespace {

WNDPROC g_file_bar_proc = nullptr;
WNDPROC g_total_bar_proc = nullptr;

// Dispatches everything but a quit message, which stays queued for the
// updater's own pump to take once the copy goes on.
void Hold() {
    printf("hold\n");
    fflush(stdout);
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, WM_QUIT - 1, PM_REMOVE) ||
               PeekMessageW(&message, nullptr, WM_QUIT + 1, 0xFFFFFFFF, PM_REMOVE)) {
            if (!message.hwnd && message.message == WM_APP) return;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

// The walk sets the file bar to 0 once the label and the range of a new file
// are in place.
LRESULT CALLBACK FileBarProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = CallWindowProcW(g_file_bar_proc, window, message, wparam, lparam);
    if (message == PBM_SETPOS && wparam == 0) Hold();
    return result;
}

// The overall bar is the last control set after each block.
LRESULT CALLBACK TotalBarProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = CallWindowProcW(g_total_bar_proc, window, message, wparam, lparam);
    if (message == PBM_SETPOS) Hold();
    return result;
}

int Stop(const char* why, const ArchiveFault& fault, int code) {
    printf("%s at %ld: %s\n", why, (long)fault.offset, fault.reason);
    return code;
}

int Run(const wchar_t* updater, const wchar_t* destination_wide) {
    char destination[kPathCapacity];
    ArchiveFault fault = {"", 0, ""};
    if (!WideToCp932(destination_wide, destination, sizeof destination))
        return Stop("destination not in code page 932", fault, 2);
    FILE* stream = _wfopen(updater, L"rb");
    PayloadArchive archive;
    if (!stream || LocateArchive(stream, &archive) != 0)
        return Stop("cannot read the updater's archive", fault, 3);
    if (CheckArchive(&archive, strlen(destination), &fault) != 0)
        return Stop("archive refused", fault, 4);
    HWND window = (HWND)OpenCopyProgress(archive.size);
    if (!window) return Stop("no window", fault, 5);
    printf("opened %ld\n", (long)archive.size);
    g_file_bar_proc = (WNDPROC)SetWindowLongPtrW(GetDlgItem(window, IDC_COPY_FILE_BAR),
                                                 GWLP_WNDPROC, (LONG_PTR)FileBarProc);
    g_total_bar_proc = (WNDPROC)SetWindowLongPtrW(GetDlgItem(window, IDC_COPY_TOTAL_BAR),
                                                  GWLP_WNDPROC, (LONG_PTR)TotalBarProc);
    ExtractTarget target = {destination, kCopyPass, (CopyProgressHandle)window, nullptr};
    int walked = WalkArchive(&archive, &target, &fault);
    fclose(stream);
    CloseCopyProgress();
    printf("closed\n");
    Hold();
    if (walked != 0) return Stop("walk failed", fault, 6);
    printf("done\n");
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    InitCommonControls();
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    int result = 2;
    if (args && count == 3)
        result = Run(args[1], args[2]);
    else
        printf("usage: copypass UPDATER DESTINATION\n");
    fflush(stdout);
    return result;
}

// copypass.exe UPDATER.exe DESTINATION: the updater's copy pass of UPDATER's
// payload under the real progress window. It prints "hold" and holds still
// each time the window updated its controls, and once after it closed, until
// the bench posts WM_APP to its thread; the window's clock moves 10 ms per
// reading, so what it shows depends on the walk alone. Exit code 0 after a
// complete copy ("done"), 2 to 6 for a refusal on the way.
// copypass UPDATER DESTINATION --time: at full speed; prints "copied MS".
// copypass FOLDER --create N: N files of 700 bytes into one folder; prints "created MS".
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "shell/progress_win.h"

namespace {

uint32_t PacedClock() {
    static uint32_t now = 0;
    return now += 10;
}

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

int Stop(const char* why, const ArchiveFault& fault, int code) {
    printf("%s at %ld: %s\n", why, (long)fault.offset, fault.reason);
    return code;
}

int Run(const wchar_t* updater, const wchar_t* destination_wide, bool timed) {
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
    CopyProgressWindow copy = {};
    copy.clock = timed ? nullptr : PacedClock;
    copy.shown_hook = timed ? nullptr : Hold;
    ULONGLONG start = GetTickCount64();
    OpenCopyProgress(&copy, archive.size);
    if (!copy.window) return Stop("no window", fault, 5);
    ExtractTarget target = {destination, kCopyPass, nullptr, nullptr, nullptr};
    ExtractEvents events = CopyProgressEvents(&copy);
    StagedList staged = {};
    int walked = ExtractArchive(&archive, &target, &events, &staged, &fault);
    fclose(stream);
    CloseCopyProgress(&copy);
    printf("closed\n");
    if (timed)
        printf("copied %lu\n", (unsigned long)(GetTickCount64() - start));
    else
        Hold();
    if (walked != 0) return Stop("walk failed", fault, 6);
    printf("done\n");
    return 0;
}

int CreateFiles(const wchar_t* folder, int count) {
    static const char kData[700] = {'x'};
    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < count; ++i) {
        wchar_t path[kWidePathCapacity];
        _snwprintf(path, kWidePathCapacity, L"%ls\\f%05d.txt", folder, i);
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (file == INVALID_HANDLE_VALUE || !WriteFile(file, kData, sizeof kData, &written, nullptr))
            return Stop("cannot create", ArchiveFault{"", 0, ""}, 6);
        CloseHandle(file);
    }
    printf("created %lu\n", (unsigned long)(GetTickCount64() - start));
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    InitCommonControls();
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    int result = 2;
    if (args && count == 4 && wcscmp(args[2], L"--create") == 0)
        result = CreateFiles(args[1], _wtoi(args[3]));
    else if (args && (count == 3 || (count == 4 && wcscmp(args[3], L"--time") == 0)))
        result = Run(args[1], args[2], count == 4);
    else
        printf("usage: copypass UPDATER DESTINATION [--time] | copypass FOLDER --create N\n");
    fflush(stdout);
    return result;
}

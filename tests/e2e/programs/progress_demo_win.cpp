// Opens the copy progress window, runs a made-up copy of three files through
// it and closes it again: for looking at the window and its animation, and for
// the bench to take pictures of it. Exit code 0 when the window opened.
//
// progress_demo.exe [milliseconds per step]   (default 150)
#include <windows.h>
#include <commctrl.h>

#include <stdlib.h>

#include "base/pump.h"
#include "payload/progress.h"

namespace {

struct DemoFile {
    const char* path;  // code page 932
    int32_t blocks;    // size in 128 KiB blocks
};

// A Japanese folder name (ゲーム, "game") and a 0x5C second byte (表) among the paths.
const DemoFile kFiles[] = {
    {"C:\\Program Files\\\x83\x51\x81\x5b\x83\x80\\data.arc", 12},
    {"C:\\Program Files\\\x83\x51\x81\x5b\x83\x80\\\x95\x5c"
     "bg.arc",
     30},
    {"C:\\Program Files\\\x83\x51\x81\x5b\x83\x80\\velnor.exe", 6},
};

void Wait(DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        PumpMessages();
        Sleep(10);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
    InitCommonControls();
    DWORD step = 150;
    if (command_line && *command_line) step = (DWORD)wcstoul(command_line, nullptr, 10);

    int32_t total_blocks = 0;
    for (const DemoFile& file : kFiles) total_blocks += file.blocks;
    CopyProgressHandle window = OpenCopyProgress(total_blocks * 131072);
    if (!window) return 1;

    int32_t done = 0;
    for (const DemoFile& file : kFiles) {
        SetCopyProgressFileName(window, file.path);
        SetCopyProgressFileRange(window, file.blocks);
        SetCopyProgressFilePosition(window, 0);
        for (int32_t block = 1; block <= file.blocks; ++block) {
            Wait(step);
            SetCopyProgressFilePosition(window, block);
            SetCopyProgressTotalPosition(window, ++done);
        }
    }
    Wait(step);
    CloseCopyProgress();
    return 0;
}

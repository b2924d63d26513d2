// boxes.exe MODE [nomain]: one of the updater's message boxes, through its own
// code, under a main window like the start-up window ("nomain": none recorded
// yet), for the bench to inspect and answer. MODE: retry (ErrorRetryBox, a file
// name with 0x5C second bytes), error (ErrorBox, a string and an integer), ask
// (AskYesNo), alloc (AllocOrAbort of more than a 32-bit process can hold), long
// (ErrorBox whose text runs past the box's buffer, the cut inside a double-byte
// character). Exit code and printed line say what came back: 3 ErrorRetryBox,
// 4 ErrorBox, 1 / 0 AskYesNo, 5 AllocOrAbort, 2 bad arguments.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "base/alloc.h"
#include "base/text.h"
#include "base/window_win.h"
#include "base/wide_win.h"
#include "ui/msgbox.h"

namespace {

// 表示テスト アップデータ: the 0x5C second byte of 表 must not upset the caption.
const char kMainTitle[] =
    "\x95\x5c\x8e\xa6\x83"
    "e\x83X\x83g \x83"
    "A\x83"
    "b\x83v\x83"
    "f\x81[\x83^";

// Ffopen : ファイル[%s]の読み込みで失敗しました, with C:\ゲーム\表示.dat
const char kRetryFormat[] =
    "Ffopen : \x83t\x83@\x83"
    "C\x83\x8b[%s]\x82\xcc\x93\xc7\x82\xdd\x8d\x9e\x82\xdd\x82\xc5"
    "\x8e\xb8\x94s\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
const char kRetryPath[] = "C:\x5c\x83Q\x81[\x83\x80\x5c\x95\x5c\x8e\xa6.dat";

// ファイル[%s]の書き込みで失敗しました (%d), with 表示.dat and 5
const char kErrorFormat[] =
    "\x83t\x83@\x83"
    "C\x83\x8b[%s]\x82\xcc\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x82\xc5\x8e\xb8"
    "\x94s\x82\xb5\x82\xdc\x82\xb5\x82\xbd (%d)";
const char kErrorName[] = "\x95\x5c\x8e\xa6.dat";

// [%s] を更新しますか？, with 表示テスト
const char kAskFormat[] = "[%s] \x82\xf0\x8dX\x90V\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81H";
const char kAskName[] =
    "\x95\x5c\x8e\xa6\x83"
    "e\x83X\x83g";

// 表示%s with テスト two hundred times: 1204 bytes of double-byte characters
// from the first byte on, so the 1023 that fit end in half a character.
const char kLongFormat[] = "\x95\x5c\x8e\xa6%s";
const char kLongPiece[] =
    "\x83"
    "e\x83X\x83g";
enum { kLongPieces = 200 };

// Far beyond what the address space can hand out in one piece, yet far
// from the top, so the sixteen bytes of slack cannot wrap around.
const size_t kImpossibleSize = sizeof(size_t) == 4 ? (size_t)0xF0000000u : (size_t)1 << 60;

// A plain window stands in for the start-up window: the boxes take their
// owner and caption from the recorded main window.
HWND OpenMainWindow() {
    wchar_t title[kPathCapacity];
    Cp932ToWideForDisplay(kMainTitle, title, kPathCapacity);
    return CreateWindowExW(0, L"STATIC", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400,
                           300, nullptr, nullptr, nullptr, nullptr);
}

int Report(const char* outcome, int code) {
    printf("%s\n", outcome);
    fflush(stdout);
    return code;
}

int Run(const wchar_t* mode) {
    if (wcscmp(mode, L"retry") == 0) {
        ErrorRetryBox(kRetryFormat, kRetryPath);
        return Report("retry returned", 3);
    }
    if (wcscmp(mode, L"error") == 0) {
        ErrorBox(kErrorFormat, kErrorName, 5);
        return Report("error returned", 4);
    }
    if (wcscmp(mode, L"ask") == 0) {
        return AskYesNo(kAskFormat, kAskName) ? Report("yes", 1) : Report("no", 0);
    }
    if (wcscmp(mode, L"alloc") == 0) {
        void* block = AllocOrAbort(kImpossibleSize);
        free(block);
        return Report("alloc returned", 5);
    }
    if (wcscmp(mode, L"long") == 0) {
        static char piece[sizeof kLongPiece * kLongPieces];
        piece[0] = '\0';
        for (int i = 0; i < kLongPieces; ++i) strcat(piece, kLongPiece);
        ErrorBox(kLongFormat, piece);
        return Report("error returned", 4);
    }
    return Report("unknown mode", 2);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    InstallShellHandlers();
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count < 2 || count > 3 || (count == 3 && wcscmp(args[2], L"nomain") != 0))
        return Report("usage: boxes MODE [nomain]", 2);
    if (count == 2) {
        HWND window = OpenMainWindow();
        if (!window) return Report("no main window", 2);
        SetMainWindow(window);
    }
    return Run(args[1]);
}

// Message boxes, the clipboard copy of error texts and the allocation that
// tells the user when memory runs out. Texts are code page 932 and are shown
// through MessageBoxW after an explicit conversion.
#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "shell/window_win.h"
#include "filelayer/filelayer.h"
#include "texts.h"
#include "shell/msgbox_win.h"

namespace {

// Japanese (Japan): tells the clipboard how to read the CF_TEXT bytes when a
// program asks for a format that the system has to derive from them.
const LCID kJapaneseLocale =
    MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT);

// Under the start-up window a box has it as owner and the updater's title as
// caption; before the window exists it has neither.
int ShowBox(const char* text, UINT style) {
    HWND owner = GetMainWindow();
    wchar_t wide_text[kBoxTextCapacity];
    Cp932ToWideForDisplay(text, wide_text, kBoxTextCapacity);
    char caption[kPathCapacity] = "";
    if (owner) WindowTitle(caption, sizeof caption);
    wchar_t wide_caption[kPathCapacity];
    Cp932ToWideForDisplay(caption, wide_caption, kPathCapacity);
    return MessageBoxW(owner, wide_text, wide_caption, style);
}

void BringMainWindowForward() {
    HWND owner = GetMainWindow();
    if (owner) SetForegroundWindow(owner);
}

// A movable global block holding size bytes copied from data; null on failure.
HGLOBAL CopyToGlobal(const void* data, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block) return nullptr;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(target, data, size);
    GlobalUnlock(block);
    return block;
}

}  // namespace

// The steps every box shares: format, bring the main window forward, copy an
// error text to the clipboard, show the box; returns the button chosen.
static int FormatAndShow(UINT style, bool copy_to_clipboard, const char* format, va_list args) {
    char text[kBoxTextCapacity];
    FormatBoxText(text, sizeof text, format, args);
    BringMainWindowForward();
    if (copy_to_clipboard) CopyToClipboard(text);
    return ShowBox(text, style);
}

bool ErrorRetryBox(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int answer = FormatAndShow(MB_RETRYCANCEL | MB_ICONERROR, true, format, args);
    va_end(args);
    // A box that could not be shown at all (0) does not count as Retry: the
    // file layer would ask again at once, for ever, with nobody able to see
    // the question.
    return answer == IDRETRY;
}

void ErrorBox(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatAndShow(MB_OK | MB_ICONERROR, true, format, args);
    va_end(args);
}

bool AskYesNo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int answer = FormatAndShow(MB_YESNO | MB_ICONQUESTION, false, format, args);
    va_end(args);
    return answer == IDYES;
}

int CopyToClipboard(const char* text) {
    // The code page 932 bytes as CF_TEXT, and the same text as UTF-16 beside
    // them: a program on a system set to another language would otherwise
    // read the bytes in its own code page and paste garbage.
    // Line breaks as CR LF, so that a pasted text keeps its lines.
    char pasted[2 * kBoxTextCapacity];
    ExpandLineBreaks(text, pasted, sizeof pasted);
    HGLOBAL ansi = CopyToGlobal(pasted, strlen(pasted) + 1);
    if (!ansi) return -1;
    wchar_t wide[2 * kBoxTextCapacity];
    Cp932ToWideForDisplay(pasted, wide, 2 * kBoxTextCapacity);
    HGLOBAL unicode = CopyToGlobal(wide, (wcslen(wide) + 1) * sizeof(wchar_t));
    HGLOBAL locale = CopyToGlobal(&kJapaneseLocale, sizeof kJapaneseLocale);

    if (OpenClipboard(GetActiveWindow())) {
        EmptyClipboard();
        // A block handed over belongs to the clipboard; one refused stays ours.
        if (SetClipboardData(CF_TEXT, ansi)) ansi = nullptr;
        if (unicode && SetClipboardData(CF_UNICODETEXT, unicode)) unicode = nullptr;
        if (locale && SetClipboardData(CF_LOCALE, locale)) locale = nullptr;
        CloseClipboard();
    }
    if (ansi) GlobalFree(ansi);
    if (unicode) GlobalFree(unicode);
    if (locale) GlobalFree(locale);
    return 0;
}

// The "malloc" box: no owner, since the main window may be what could not be
// made, and the one end of the process outside the entry's exit path: nothing
// more can be allocated to clean up with.
static void ShowOutOfMemoryBox() {
    wchar_t text[128];
    wchar_t caption[16];
    Cp932ToWideForDisplay(kTextOutOfMemory, text, 128);
    Cp932ToWideForDisplay(kTextMallocCaption, caption, 16);
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
    exit(-1);
}

// Retry repeats the whole lookup; Cancel makes the open fail, and the caller
// ends the run (kRunCancelled).
static bool AskRetryOpen(const char* name) {
    return ErrorRetryBox(kTextFfopenFailed, name);
}

void InstallShellHandlers() {
    SetOutOfMemoryHandler(ShowOutOfMemoryBox);
    FfSetRetryHandler(AskRetryOpen);
}

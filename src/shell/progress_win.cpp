// The copy progress window ("COPYINGDELUX"): a modeless dialog owned by the
// main window, alive only while the copy pumps messages.
#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include "base/platform.h"
#include "shell/window_win.h"
#include "base/wide_win.h"
#include "payload/progress.h"
#include "resources/resource.h"

namespace {

// Every progress value counts blocks of this many bytes.
const int32_t kProgressUnit = 131072;

// The controls are told of new values at most this often. The engine sets
// them after every block; under Wine each position drawn costs about 3 ms,
// which made the window most of the copy's time.
const uint32_t kShowInterval = 30;  // milliseconds

HWND g_window = nullptr;
HWND g_animation = nullptr;
int32_t g_total = 0;

// What the engine last asked for and what the controls show; the latest
// values win.
struct CopyDisplay {
    int32_t file_upper, file_position, total_position;
};
CopyDisplay g_wanted, g_shown;
wchar_t g_wanted_name[kWidePathCapacity];
bool g_name_pending = false;
uint32_t g_last_shown = 0;
void (*g_shown_for_testing)() = nullptr;

// Progress bars take 16-bit bounds in PBM_SETRANGE.
WORD ToRangeBound(int32_t value) {
    if (value < 0) return 0;
    return value > 0xFFFF ? (WORD)0xFFFF : (WORD)value;
}

void SetBarRange(HWND window, int id, int32_t upper) {
    SendDlgItemMessageW(window, id, PBM_SETRANGE, 0, MAKELPARAM(0, ToRangeBound(upper)));
}

void SetBarPosition(HWND window, int id, int32_t position) {
    SendDlgItemMessageW(window, id, PBM_SETPOS, (WPARAM)position, 0);
}

// Tells the controls what has changed since they were last told, when
// kShowInterval has passed or when forced.
void ShowWanted(bool force) {
    if (!g_window) return;
    uint32_t now = OsMilliseconds();
    if (!force && now - g_last_shown < kShowInterval) return;
    g_last_shown = now;
    if (g_name_pending) SetDlgItemTextW(g_window, IDC_COPY_FILE_NAME, g_wanted_name);
    g_name_pending = false;
    if (g_wanted.file_upper != g_shown.file_upper)
        SetBarRange(g_window, IDC_COPY_FILE_BAR, g_wanted.file_upper);
    if (g_wanted.file_position != g_shown.file_position)
        SetBarPosition(g_window, IDC_COPY_FILE_BAR, g_wanted.file_position);
    if (g_wanted.total_position != g_shown.total_position)
        SetBarPosition(g_window, IDC_COPY_TOTAL_BAR, g_wanted.total_position);
    g_shown = g_wanted;
    if (g_shown_for_testing) g_shown_for_testing();
}

INT_PTR OnInitDialog(HWND window) {
    CenterOnScreen(window);
    SetDlgItemTextW(window, IDC_COPY_FILE_NAME, L"");
    SetBarRange(window, IDC_COPY_FILE_BAR, 1);
    SetBarPosition(window, IDC_COPY_FILE_BAR, 0);
    SetBarRange(window, IDC_COPY_TOTAL_BAR, 1);
    SetBarPosition(window, IDC_COPY_TOTAL_BAR, 0);
    // Files already written cannot be taken back and the copy does not stop
    // half way, so the window offers no Cancel while it runs.
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);

    g_animation = GetDlgItem(window, IDC_COPY_ANIMATION);
    // Instance 0: the control loads the clip from the module that created it.
    SendMessageW(g_animation, ACM_OPENW, 0, (LPARAM)L"AVI_FILECOPY");
    SendMessageW(g_animation, ACM_PLAY, (WPARAM)-1, MAKELPARAM(0, 0xFFFF));
    ShowWindow(g_animation, SW_SHOW);
    return TRUE;
}

}  // namespace

static INT_PTR CALLBACK CopyProgressProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(window);
        case WM_COMMAND:
            // Cancel (the disabled button, or Escape should it reach the
            // window) is swallowed: the copy always runs to its end.
            return wparam == IDCANCEL ? TRUE : FALSE;
        default:
            return FALSE;
    }
}

CopyProgressHandle OpenCopyProgress(int32_t total) {
    g_total = total;
    CloseCopyProgress();
    HWND owner = GetMainWindow();
    g_window = CreateDialogParamW(GetMainWindowInstance(), L"COPYINGDELUX", owner, CopyProgressProc, 0);
    if (!g_window) return nullptr;
    PumpMessages();
    int32_t blocks = g_total / kProgressUnit;
    SetBarRange(g_window, IDC_COPY_TOTAL_BAR, blocks > 1 ? blocks : 1);
    SetBarPosition(g_window, IDC_COPY_TOTAL_BAR, 0);
    // As OnInitDialog left the controls.
    g_wanted = g_shown = {1, 0, 0};
    g_name_pending = false;
    g_last_shown = OsMilliseconds();
    PumpMessages();
    return reinterpret_cast<CopyProgressHandle>(g_window);
}

int CloseCopyProgress() {
    if (!g_window) return 1;
    ShowWanted(true);  // the whole copy's end, however soon it came
    DestroyWindow(g_window);
    g_window = nullptr;
    g_animation = nullptr;
    PumpMessages();
    return 0;
}

void SetCopyProgressFileName(CopyProgressHandle handle, const char* path) {
    if (!handle) return;
    // A file whose name is on screen ends with its bar full before the next
    // name comes: that one bar now, the rest at the next turn.
    if (g_window && !g_name_pending && g_wanted.file_position != g_shown.file_position) {
        SetBarPosition(g_window, IDC_COPY_FILE_BAR, g_wanted.file_position);
        g_shown.file_position = g_wanted.file_position;
        if (g_shown_for_testing) g_shown_for_testing();
    }
    Cp932ToWideForDisplay(path, g_wanted_name, kWidePathCapacity);
    g_name_pending = true;
}

void SetCopyProgressFileRange(CopyProgressHandle handle, int32_t upper) {
    if (handle) g_wanted.file_upper = upper;
}

void SetCopyProgressFilePosition(CopyProgressHandle handle, int32_t position) {
    if (!handle) return;
    g_wanted.file_position = position;
    ShowWanted(false);
}

void SetCopyProgressTotalPosition(CopyProgressHandle handle, int32_t position) {
    if (!handle) return;
    g_wanted.total_position = position;
    ShowWanted(false);
}

void SetCopyProgressShownForTesting(void (*shown)()) {
    g_shown_for_testing = shown;
}

// The copy progress window ("COPYINGDELUX"): a modeless dialog owned by the
// main window, alive only while the copy pumps messages.
#include <windows.h>
#include <commctrl.h>

#include "base/window_win.h"
#include "base/wide_win.h"
#include "payload/progress.h"
#include "resources/resource.h"

namespace {

// Every progress value counts blocks of this many bytes.
const int32_t kProgressUnit = 131072;

HWND g_window = nullptr;
HWND g_animation = nullptr;
int32_t g_total = 0;

HWND AsWindow(CopyProgressHandle handle) {
    return reinterpret_cast<HWND>(handle);
}

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
    HINSTANCE instance =
        owner ? (HINSTANCE)GetWindowLongPtrW(owner, GWLP_HINSTANCE) : GetModuleHandleW(nullptr);
    g_window = CreateDialogParamW(instance, L"COPYINGDELUX", owner, CopyProgressProc, 0);
    if (!g_window) return nullptr;
    PumpMessages();
    int32_t blocks = g_total / kProgressUnit;
    SetBarRange(g_window, IDC_COPY_TOTAL_BAR, blocks > 1 ? blocks : 1);
    SetBarPosition(g_window, IDC_COPY_TOTAL_BAR, 0);
    PumpMessages();
    return reinterpret_cast<CopyProgressHandle>(g_window);
}

int CloseCopyProgress() {
    if (!g_window) return 1;
    DestroyWindow(g_window);
    g_window = nullptr;
    g_animation = nullptr;
    PumpMessages();
    return 0;
}

void SetCopyProgressFileName(CopyProgressHandle handle, const char* path) {
    if (!handle) return;
    wchar_t wide[kWidePathCapacity];
    Cp932ToWideForDisplay(path, wide, kWidePathCapacity);
    SetDlgItemTextW(AsWindow(handle), IDC_COPY_FILE_NAME, wide);
}

void SetCopyProgressFileRange(CopyProgressHandle handle, int32_t upper) {
    if (handle) SetBarRange(AsWindow(handle), IDC_COPY_FILE_BAR, upper);
}

void SetCopyProgressFilePosition(CopyProgressHandle handle, int32_t position) {
    if (handle) SetBarPosition(AsWindow(handle), IDC_COPY_FILE_BAR, position);
}

void SetCopyProgressTotalPosition(CopyProgressHandle handle, int32_t position) {
    if (handle) SetBarPosition(AsWindow(handle), IDC_COPY_TOTAL_BAR, position);
}

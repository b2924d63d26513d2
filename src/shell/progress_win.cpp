// The copy progress window (see progress_win.h).
#include "shell/progress_win.h"

#include "base/platform.h"
#include "base/text.h"
#include "resources/resource.h"
#include "shell/window_win.h"
#include "texts.h"

namespace {

// Every progress value counts blocks of this many bytes.
const int32_t kProgressUnit = 131072;

// The controls are told of new values at most this often. The walk sets
// them after every block; under Wine each position drawn costs about 3 ms,
// which made the window most of the copy's time.
const uint32_t kShowInterval = 30;  // milliseconds

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

void SetText(HWND window, int id, const char* text) {
    wchar_t wide[kPathCapacity];
    Cp932ToWideForDisplay(text, wide, kPathCapacity);
    if (id)
        SetDlgItemTextW(window, id, wide);
    else
        SetWindowTextW(window, wide);
}

uint32_t Now(const CopyProgressWindow* copy) {
    return copy->clock ? copy->clock() : OsMilliseconds();
}

void Pump(CopyProgressWindow* copy) {
    if (!copy->quit) copy->quit = !PumpMessages(&copy->quit_code);
}

// Tells the controls what has changed since they were last told, when
// kShowInterval has passed or when forced.
void ShowWanted(CopyProgressWindow* copy, bool force) {
    if (!copy->window) return;
    uint32_t now = Now(copy);
    if (!force && now - copy->last_shown < kShowInterval) return;
    copy->last_shown = now;
    if (copy->name_pending) SetDlgItemTextW(copy->window, IDC_COPY_FILE_NAME, copy->wanted_name);
    copy->name_pending = false;
    const CopyBars& wanted = copy->wanted;
    if (wanted.file_upper != copy->shown.file_upper)
        SetBarRange(copy->window, IDC_COPY_FILE_BAR, wanted.file_upper);
    if (wanted.file_position != copy->shown.file_position)
        SetBarPosition(copy->window, IDC_COPY_FILE_BAR, wanted.file_position);
    if (wanted.total_position != copy->shown.total_position)
        SetBarPosition(copy->window, IDC_COPY_TOTAL_BAR, wanted.total_position);
    copy->shown = wanted;
    if (copy->shown_hook) copy->shown_hook();
}

void FileBegun(void* context, const char* path, int32_t blocks) {
    CopyProgressWindow* copy = (CopyProgressWindow*)context;
    if (!copy->window) return;
    // A file whose name is on screen ends with its bar full before the next
    // name comes: that one bar now, the rest at the next turn.
    if (!copy->name_pending && copy->wanted.file_position != copy->shown.file_position) {
        SetBarPosition(copy->window, IDC_COPY_FILE_BAR, copy->wanted.file_position);
        copy->shown.file_position = copy->wanted.file_position;
        if (copy->shown_hook) copy->shown_hook();
    }
    Cp932ToWideForDisplay(path, copy->wanted_name, kWidePathCapacity);
    copy->name_pending = true;
    copy->wanted.file_upper = blocks;
    copy->wanted.file_position = 0;
    ShowWanted(copy, false);
}

void Progress(void* context, int32_t file_blocks, int32_t total_blocks) {
    CopyProgressWindow* copy = (CopyProgressWindow*)context;
    // Each bar asks on its own, as the window always took them.
    copy->wanted.file_position = file_blocks;
    ShowWanted(copy, false);
    copy->wanted.total_position = total_blocks;
    ShowWanted(copy, false);
}

bool PumpEvent(void* context, int* quit_code) {
    CopyProgressWindow* copy = (CopyProgressWindow*)context;
    Pump(copy);
    *quit_code = copy->quit_code;
    return !copy->quit;
}

INT_PTR OnInitDialog(HWND window) {
    CenterOnScreen(window);
    SetText(window, 0, kTextCopyCaption);
    SetText(window, IDCANCEL, kTextCancel);
    SetBarRange(window, IDC_COPY_FILE_BAR, 1);
    SetBarPosition(window, IDC_COPY_FILE_BAR, 0);
    SetBarRange(window, IDC_COPY_TOTAL_BAR, 1);
    SetBarPosition(window, IDC_COPY_TOTAL_BAR, 0);
    // Files already written cannot be taken back and the copy does not stop
    // half way, so the window offers no Cancel while it runs.
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);

    HWND animation = GetDlgItem(window, IDC_COPY_ANIMATION);
    // Instance 0: the control loads the clip from the module that created it.
    SendMessageW(animation, ACM_OPENW, 0, (LPARAM)L"AVI_FILECOPY");
    SendMessageW(animation, ACM_PLAY, (WPARAM)-1, MAKELPARAM(0, 0xFFFF));
    ShowWindow(animation, SW_SHOW);
    return TRUE;
}

INT_PTR CALLBACK CopyProgressProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
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

}  // namespace

void OpenCopyProgress(CopyProgressWindow* copy, int32_t total) {
    copy->window = CreateDialogParamW(GetMainWindowInstance(), L"COPYINGDELUX", GetMainWindow(),
                                      CopyProgressProc, 0);
    if (!copy->window) return;
    Pump(copy);
    int32_t blocks = total / kProgressUnit;
    SetBarRange(copy->window, IDC_COPY_TOTAL_BAR, blocks > 1 ? blocks : 1);
    SetBarPosition(copy->window, IDC_COPY_TOTAL_BAR, 0);
    // As OnInitDialog left the controls.
    copy->wanted = copy->shown = {1, 0, 0};
    copy->name_pending = false;
    copy->last_shown = Now(copy);
    Pump(copy);
}

void CloseCopyProgress(CopyProgressWindow* copy) {
    if (!copy->window) return;
    ShowWanted(copy, true);  // the whole copy's end, however soon it came
    DestroyWindow(copy->window);
    copy->window = nullptr;
    Pump(copy);
}

ExtractEvents CopyProgressEvents(CopyProgressWindow* copy) {
    return {copy, FileBegun, Progress, PumpEvent, nullptr};
}

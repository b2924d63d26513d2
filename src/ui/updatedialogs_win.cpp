// The folder prompt and the end dialog (see updatedialogs_win.h).
#include "ui/updatedialogs_win.h"

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "resources/resource.h"
#include "shell/msgbox_win.h"
#include "shell/window_win.h"
#include "texts.h"

namespace {

// The text of the one open folder prompt: the browser's pick replaces it, OK
// takes the field's. The dialog procedure gets it only with WM_INITDIALOG.
char* g_prompt_text = nullptr;

void ShowTextInField(HWND dialog) {
    wchar_t wide[kPathCapacity];
    Cp932ToWideForDisplay(g_prompt_text, wide, kPathCapacity);
    SetDlgItemTextW(dialog, IDC_SETUP_FOLDER, wide);
}

// The shell's folder browser; a picked file-system folder replaces the text.
// A folder without a code page 932 name is refused, never mangled.
void BrowseForFolder(HWND owner) {
    wchar_t title[128];
    Cp932ToWideForDisplay(kTextBrowseTitle, title, 128);
    wchar_t picked[MAX_PATH];
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pszDisplayName = picked;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (!item) return;
    if (SHGetPathFromIDListW(item, picked)) {
        char path[kPathCapacity];
        if (WideToCp932(picked, path, sizeof path)) {
            memcpy(g_prompt_text, path, sizeof path);
        } else {
            ErrorBox(kTextFolderNameUnusable);
        }
    }
    CoTaskMemFree(item);
}

// The field's text, whole or not at all.
PromptResult TakeFieldText(HWND dialog) {
    wchar_t wide[kWidePathCapacity];
    GetDlgItemTextW(dialog, IDC_SETUP_FOLDER, wide, kWidePathCapacity);
    char text[kWidePathCapacity * 2];
    if (!WideToCp932(wide, text, sizeof text)) return kPromptUnusable;
    if (!CopyText(g_prompt_text, kPathCapacity, text)) return kPromptTooLong;
    return kPromptAccepted;
}

INT_PTR CALLBACK FolderPromptProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CenterOnScreen(dialog);
            ShowTextInField(dialog);
            return TRUE;  // the default focus: "次へ", the first tab stop
        case WM_COMMAND:
            switch (wparam) {
                case IDOK:
                    EndDialog(dialog, TakeFieldText(dialog));
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, kPromptCancelled);
                    return TRUE;
                case IDC_SETUP_BROWSE:
                    BrowseForFolder(dialog);
                    ShowTextInField(dialog);
                    return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK EndDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            CheckDlgButton(dialog, IDC_END_README, BST_UNCHECKED);
            wchar_t caption[kLineCapacity];
            Cp932ToWideForDisplay((const char*)lparam, caption, kLineCapacity);
            SetDlgItemTextW(dialog, IDC_END_README, caption);
            CenterOnScreen(dialog);
            return TRUE;
        }
        case WM_COMMAND:
            if (wparam == IDOK) {
                // The short dialog has no check box: unchecked.
                EndDialog(dialog, IsDlgButtonChecked(dialog, IDC_END_README) == BST_CHECKED);
                return TRUE;
            }
            if (wparam == IDCANCEL) {  // Escape or the close box
                EndDialog(dialog, 0);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

PromptResult RunFolderPrompt(const char* proposal, char* text) {
    // The browser may move the current folder, from which the setup files
    // are opened by their bare names.
    char current[kPathCapacity];
    bool kept = OsGetCurrentFolder(current, sizeof current) == 0;
    memcpy(text, proposal, kPathCapacity);
    g_prompt_text = text;
    INT_PTR result = DialogBoxParamW(GetMainWindowInstance(), L"SETUP", GetMainWindow(),
                                     FolderPromptProc, 0);
    g_prompt_text = nullptr;
    if (kept) OsSetCurrentFolder(current);
    // -1: the dialog could not be made, which the user can only take as a cancel.
    return result < kPromptCancelled || result > kPromptUnusable ? kPromptCancelled
                                                                 : (PromptResult)result;
}

LocateResult ChooseTarget(char* out) {
    char text[kPathCapacity];
    ProposeTarget(text);
    PromptResult prompt = RunFolderPrompt(text, text);
    return AcceptChosenTarget(prompt, text, out);
}

bool ShowEndDialog(const char* readme_caption) {
    bool short_form = readme_caption[0] == '-';
    INT_PTR result = DialogBoxParamW(GetMainWindowInstance(),
                                     short_form ? L"ENDINSTALL_SHORT" : L"ENDINSTALL",
                                     GetMainWindow(), EndDialogProc, (LPARAM)readme_caption);
    return !short_form && result == 1;
}

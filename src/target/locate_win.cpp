// Finding the installed game's folder with the user (see locate_win.h): the
// messages, the folder prompt "SETUP" and the shell's folder browser. The
// decisions themselves are target.cpp's.
#include "target/locate_win.h"

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "shell/window_win.h"
#include "config/settings.h"
#include "payload/journal.h"
#include "filelayer/filelayer.h"
#include "resources/resource.h"
#include "target/target.h"
#include "texts.h"
#include "shell/msgbox_win.h"

namespace {

// The folder being worked out: the default, the installer's InstTo, what the
// prompt shows and hands back. Copied to the caller only on success.
char g_target[kPathCapacity];

// How the folder prompt ended.
enum PromptResult {
    kPromptCancelled = 0,
    kPromptAccepted = 1,  // g_target holds the field's text
    kPromptTooLong = 2,   // the text does not fit a path buffer
    kPromptUnusable = 3,  // the text has characters code page 932 cannot write
};

// Puts the current directory back when the locating operation returns, by
// whichever path.
class CurrentFolderKeeper {
   public:
    CurrentFolderKeeper() { kept_ = OsGetCurrentFolder(folder_, sizeof folder_) == 0; }
    ~CurrentFolderKeeper() {
        if (kept_) OsSetCurrentFolder(folder_);
    }

   private:
    char folder_[kPathCapacity];
    bool kept_;
};

const char* RegGroup() {
    return SettingText(kSettingRegGlobal);
}
const char* RegTitle() {
    return SettingText(kSettingRegLocal);
}

void WriteDefaultTarget() {
    char windows[kPathCapacity];
    GetWindowsFolder(windows, sizeof windows);
    DefaultTargetPath(windows, SettingText(kSettingInstFol), SettingText(kSettingInstTo), g_target,
                      sizeof g_target);
}

// True when KEYFILE is set and lies in folder. An update of that folder cut
// short by a kill is undone or finished first: it may have left the key file
// itself moved aside.
bool KeyFileIn(const char* folder) {
    if (folder[0] != '\0') RepairInterruptedUpdate(folder);
    const char* key_file = SettingText(kSettingKeyFile);
    char path[kPathCapacity];
    return key_file && folder[0] != '\0' && KeyFilePath(folder, key_file, path) == 0 &&
           Ffexist(path);
}

// The version gate of CHKREG, with its message when it refuses.
bool PassesVersionGate() {
    const char* value_name = SettingText(kSettingChkReg);
    if (!value_name) return true;
    int installed = ReadUserRegInt(RegGroup(), RegTitle(), value_name, 0);
    switch (VersionGate(installed, SettingNumber(kSettingChkRegVer),
                        SettingNumber(kSettingChkRegVerHigh))) {
        case kVersionAccepted:
            return true;
        case kVersionTooOld:
            ErrorBox(kTextVersionTooOld);
            return false;
        case kVersionAlreadyUpdated:
            ErrorBox(kTextAlreadyUpdated);
            return false;
    }
    return false;
}

bool ConfirmTarget(char* out) {
    if (!AskYesNo(kTextConfirmTarget, g_target)) return false;
    memcpy(out, g_target, sizeof g_target);
    return true;
}

void ShowTargetInField(HWND dialog) {
    wchar_t wide[kPathCapacity];
    Cp932ToWideForDisplay(g_target, wide, kPathCapacity);
    SetDlgItemTextW(dialog, IDC_SETUP_FOLDER, wide);
}

// The shell's folder browser; a picked file-system folder replaces g_target.
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
            memcpy(g_target, path, sizeof path);
        } else {
            ErrorBox(kTextFolderNameUnusable);
        }
    }
    CoTaskMemFree(item);
}

// The field's text into g_target, whole or not at all.
PromptResult TakeFieldText(HWND dialog) {
    wchar_t wide[kWidePathCapacity];
    GetDlgItemTextW(dialog, IDC_SETUP_FOLDER, wide, kWidePathCapacity);
    char text[kWidePathCapacity * 2];
    if (!WideToCp932(wide, text, sizeof text)) return kPromptUnusable;
    if (!CopyText(g_target, sizeof g_target, text)) return kPromptTooLong;
    return kPromptAccepted;
}

INT_PTR CALLBACK FolderPromptProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CenterOnScreen(dialog);
            ShowTargetInField(dialog);
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
                    ShowTargetInField(dialog);
                    return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

PromptResult RunFolderPrompt() {
    HWND owner = GetMainWindow();
    INT_PTR result = DialogBoxParamW(GetMainWindowInstance(), L"SETUP", owner, FolderPromptProc, 0);
    // -1: the dialog could not be made, which the user can only take as a cancel.
    return result < kPromptCancelled || result > kPromptUnusable ? kPromptCancelled
                                                                 : (PromptResult)result;
}

// The message for a folder CleanChosenFolder refused; false after it.
bool AcceptCleanedFolder(ChosenFolderResult result) {
    switch (result) {
        case kChosenFolderOk:
            return true;
        case kChosenFolderNetwork:
            ErrorBox(kTextNetworkFolder);
            return false;
        case kChosenFolderRoot:
            ErrorRetryBox(kTextRootFolder);  // Cancel ends the process there
            return false;
        case kChosenFolderNoDrive:
            ErrorBox(kTextFolderNoDrive);
            return false;
        case kChosenFolderTooLong:
            ErrorBox(kTextFolderTooLong);
            return false;
    }
    return false;
}

}  // namespace

LocateResult LocateTarget(char* out) {
    if (!PassesVersionGate()) return kLocateRefused;
    {
        CurrentFolderKeeper keeper;
        WriteDefaultTarget();
        // The key file in the default folder settles it without the registry.
        if (!KeyFileIn(g_target)) {
            if (ReadMachineRegInt(RegGroup(), RegTitle(), "IsInst", 0) == 0) {
                ErrorBox(kTextNotInstalled);
                return kLocateNotFound;
            }
            ReadMachineRegString(RegGroup(), RegTitle(), "InstTo", "", g_target, sizeof g_target);
            if (g_target[0] == '\0' || (SettingText(kSettingKeyFile) && !KeyFileIn(g_target))) {
                ErrorBox(kTextInstallFolderUnknown);
                return kLocateNotFound;
            }
        }
    }
    return ConfirmTarget(out) ? kLocateFound : kLocateRefused;
}

int ChooseTarget(char* out) {
    {
        CurrentFolderKeeper keeper;
        // The proposal: the installer's folder when it says the game is
        // installed, the default folder otherwise.
        WriteDefaultTarget();
        if (ReadMachineRegInt(RegGroup(), RegTitle(), "IsInst", 0) != 0) {
            char fallback[kPathCapacity];
            memcpy(fallback, g_target, sizeof fallback);
            ReadMachineRegString(RegGroup(), RegTitle(), "InstTo", fallback, g_target,
                                 sizeof g_target);
        }

        switch (RunFolderPrompt()) {
            case kPromptCancelled:
                return -1;
            case kPromptTooLong:
                ErrorBox(kTextFolderTooLong);
                return -1;
            case kPromptUnusable:
                ErrorBox(kTextFolderNameUnusable);
                return -1;
            case kPromptAccepted:
                break;
        }

        char windows[kPathCapacity];
        GetWindowsFolder(windows, sizeof windows);
        ChosenFolderRules rules = {SettingNumber(kSettingInstMakeFol), SettingText(kSettingInstFol),
                                   SettingText(kSettingInstTo), windows};
        if (!AcceptCleanedFolder(CleanChosenFolder(g_target, rules, sizeof g_target))) return -1;
    }

    if (SettingText(kSettingKeyFile) && !KeyFileIn(g_target)) {
        ErrorBox(kTextGameNotInFolder, SettingText(kSettingTitleBar));
        return -1;
    }
    if (!PassesVersionGate()) return -1;
    return ConfirmTarget(out) ? 0 : -1;
}

// Finding the installed game's folder with the user (see locate_win.h): the
// registry, the key file, the messages and the confirmation. The decisions
// themselves are target.cpp's; the folder prompt is a screen of the ui.
#include "target/locate_win.h"

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "config/settings.h"
#include "payload/journal.h"
#include "filelayer/filelayer.h"
#include "target/target.h"
#include "texts.h"
#include "shell/msgbox_win.h"
#include "shell/registry_win.h"

namespace {

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

bool InstallerSaysInstalled() {
    return ReadMachineRegInt(RegGroup(), RegTitle(), "IsInst", 0) != 0;
}

void WriteDefaultTarget(char* folder) {
    char windows[kPathCapacity];
    GetWindowsFolder(windows, sizeof windows);
    DefaultTargetPath(windows, SettingText(kSettingInstFol), SettingText(kSettingInstTo), folder,
                      kPathCapacity);
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

bool ConfirmTarget(const char* folder, char* out) {
    if (!AskYesNo(kTextConfirmTarget, folder)) return false;
    memcpy(out, folder, kPathCapacity);
    return true;
}

// The message for a folder CleanChosenFolder refused; kLocateFound when it
// was accepted.
LocateResult AcceptCleanedFolder(ChosenFolderResult result) {
    switch (result) {
        case kChosenFolderOk:
            return kLocateFound;
        case kChosenFolderNetwork:
            ErrorBox(kTextNetworkFolder);
            return kLocateRefused;
        case kChosenFolderRoot:
            // Retry only goes back to the start-up window; Cancel ends the run.
            return ErrorRetryBox(kTextRootFolder) ? kLocateRefused : kLocateEndsRun;
        case kChosenFolderNoDrive:
            ErrorBox(kTextFolderNoDrive);
            return kLocateRefused;
        case kChosenFolderTooLong:
            ErrorBox(kTextFolderTooLong);
            return kLocateRefused;
    }
    return kLocateRefused;
}

}  // namespace

LocateResult LocateTarget(char* out) {
    if (!PassesVersionGate()) return kLocateRefused;
    char folder[kPathCapacity];
    {
        CurrentFolderKeeper keeper;
        WriteDefaultTarget(folder);
        // The key file in the default folder settles it without the registry.
        if (!KeyFileIn(folder)) {
            if (!InstallerSaysInstalled()) {
                ErrorBox(kTextNotInstalled);
                return kLocateNotFound;
            }
            ReadMachineRegString(RegGroup(), RegTitle(), "InstTo", "", folder, kPathCapacity);
            if (folder[0] == '\0' || (SettingText(kSettingKeyFile) && !KeyFileIn(folder))) {
                ErrorBox(kTextInstallFolderUnknown);
                return kLocateNotFound;
            }
        }
    }
    return ConfirmTarget(folder, out) ? kLocateFound : kLocateRefused;
}

void ProposeTarget(char* out) {
    CurrentFolderKeeper keeper;
    WriteDefaultTarget(out);
    if (InstallerSaysInstalled()) {
        ReadMachineRegString(RegGroup(), RegTitle(), "InstTo", out, out, kPathCapacity);
    }
}

LocateResult AcceptChosenTarget(PromptResult prompt, char* text, char* out) {
    switch (prompt) {
        case kPromptCancelled:
            return kLocateRefused;
        case kPromptTooLong:
            ErrorBox(kTextFolderTooLong);
            return kLocateRefused;
        case kPromptUnusable:
            ErrorBox(kTextFolderNameUnusable);
            return kLocateRefused;
        case kPromptAccepted:
            break;
    }
    {
        CurrentFolderKeeper keeper;
        char windows[kPathCapacity];
        GetWindowsFolder(windows, sizeof windows);
        ChosenFolderRules rules = {SettingNumber(kSettingInstMakeFol), SettingText(kSettingInstFol),
                                   SettingText(kSettingInstTo), windows};
        LocateResult cleaned = AcceptCleanedFolder(CleanChosenFolder(text, rules, kPathCapacity));
        if (cleaned != kLocateFound) return cleaned;
    }
    if (SettingText(kSettingKeyFile) && !KeyFileIn(text)) {
        ErrorBox(kTextGameNotInFolder, SettingText(kSettingTitleBar));
        return kLocateRefused;
    }
    if (!PassesVersionGate()) return kLocateRefused;
    return ConfirmTarget(text, out) ? kLocateFound : kLocateRefused;
}

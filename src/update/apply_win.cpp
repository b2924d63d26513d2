// The update procedure and its end dialog (see apply_win.h). The line
// grammars are transfer.cpp's, the deletion afterinst.cpp's; what is here
// talks to the user, the profile files and the registry.
#include "update/apply_win.h"

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "shell/window_win.h"
#include "config/sections.h"
#include "config/settings.h"
#include "payload/extract.h"
#include "payload/journal.h"
#include "resources/resource.h"
#include "target/locate_win.h"
#include "target/target.h"
#include "texts.h"
#include "shell/exitpath_win.h"
#include "shell/launch_win.h"
#include "shell/msgbox_win.h"
#include "shell/progress_win.h"
#include "update/afterinst.h"
#include "update/profile.h"
#include "update/transfer.h"

namespace {

// The same registry view as the reads of target_win.cpp: the game's 32-bit
// installer and this 32-bit updater meet there. HKCU\Software is shared by
// both views, so for the shipped build this changes nothing.
const REGSAM kInstallerView = KEY_WOW64_32KEY;

// Written by the end dialog: 1 when the user asked for the readme.
int g_readme_requested = 0;
// INSTREADME, the caption of the end dialog's check box.
char g_readme_caption[kLineCapacity];

// A setting whose first byte is "-" is switched off.
bool IsSwitchedOff(const char* value) {
    return value[0] == '-';
}

// Where the system's profile calls keep a file: a full path as it is, any
// other name in the Windows directory. False when it does not fit.
bool ProfilePath(const char* file, char* path, size_t capacity) {
    bool full =
        (file[0] && file[1] == ':' && file[2] == '\\') || (file[0] == '\\' && file[1] == '\\');
    if (full) return CopyText(path, capacity, file);
    char folder[kPathCapacity];
    return GetWindowsFolder(folder, sizeof folder) && CopyText(path, capacity, folder) &&
           AppendText(path, capacity, "\\") && AppendText(path, capacity, file);
}

// The [ini] entries into INI_FILE under INI_SECTION, the names as the
// settings hold them, the file in code page 932 whatever the system's. Off
// when either setting is "-" (not used), as the registry pass is with
// REG_GLOBAL: no stray profile named "-".
void TransferIniLines(const TransferPlaces& places) {
    const char* file = SettingText(kSettingIniFile);
    const char* section = SettingText(kSettingIniSection);
    char path[kPathCapacity];
    if (IsSwitchedOff(file) || IsSwitchedOff(section) || !ProfilePath(file, path, sizeof path)) {
        return;
    }
    for (const SectionLine* line = GetSectionList(kSectionIni); line; line = line->next) {
        TransferEntry entry;
        if (ParseIniLine(line->text, &places, &entry) == kTransferAccepted) {
            // Refused, like a failed write, when the file could not hold the
            // names (CheckProfileEntry): the other lines still apply.
            WriteProfileEntry(path, section, entry.name, entry.data);
        }
    }
}

// The [reg] values under HKCU\Software\REG_GLOBAL\REG_LOCAL; off when
// REG_GLOBAL begins with "-". Failed writes are not reported.
void TransferRegLines(const TransferPlaces& places) {
    const char* group = SettingText(kSettingRegGlobal);
    if (IsSwitchedOff(group)) return;
    const char* title = SettingText(kSettingRegLocal);
    for (const SectionLine* line = GetSectionList(kSectionReg); line; line = line->next) {
        TransferEntry entry;
        if (ParseRegLine(line->text, &places, &entry) == kTransferAccepted) {
            WriteRegString(group, title, entry.name, entry.data);
        }
    }
}

INT_PTR CALLBACK EndDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            CheckDlgButton(dialog, IDC_END_README, BST_UNCHECKED);
            wchar_t caption[kLineCapacity];
            Cp932ToWideForDisplay(g_readme_caption, caption, kLineCapacity);
            SetDlgItemTextW(dialog, IDC_END_README, caption);
            CenterOnScreen(dialog);
            return TRUE;
        }
        case WM_COMMAND:
            if (wparam == IDOK) {
                // The short dialog has no check box: unchecked.
                g_readme_requested = IsDlgButtonChecked(dialog, IDC_END_README) == BST_CHECKED;
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (wparam == IDCANCEL) {  // Escape or the close box
                g_readme_requested = 0;
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

// "ENDINSTALL" with the readme check box, or "ENDINSTALL_SHORT" when
// INSTREADME is "-"; its outcome is g_readme_requested.
void ShowEndDialog() {
    SettingTextInto(kSettingInstReadme, g_readme_caption, sizeof g_readme_caption);
    bool short_form = IsSwitchedOff(g_readme_caption);
    HWND owner = GetMainWindow();
    g_readme_requested = 0;
    DialogBoxParamW(GetMainWindowInstance(), short_form ? L"ENDINSTALL_SHORT" : L"ENDINSTALL",
                    owner, EndDialogProc, 0);
    if (short_form) g_readme_requested = 0;
}

}  // namespace

const char* FindCdromRoot() {
    static char root[4] = "E:\\";
    for (char drive = 'A'; drive <= 'Z'; ++drive) {
        wchar_t wide[] = {(wchar_t)drive, L':', L'\\', L'\0'};
        if (GetDriveTypeW(wide) == DRIVE_CDROM) {
            root[0] = drive;
            return root;
        }
    }
    root[0] = 'E';
    return root;
}

int WriteRegString(const char* group, const char* title, const char* value_name, const char* data) {
    char key_name[kLineCapacity];
    wchar_t wide_key[kLineCapacity], wide_name[kLineCapacity], wide_data[kLineCapacity];
    if (RegistryKeyName(group, title, key_name, sizeof key_name) != 0 ||
        !Cp932ToWide(key_name, wide_key, kLineCapacity) ||
        !Cp932ToWide(value_name, wide_name, kLineCapacity) ||
        !Cp932ToWide(data, wide_data, kLineCapacity)) {
        return -1;
    }
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, wide_key, 0, const_cast<wchar_t*>(L""),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | kInstallerView, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return -1;
    }
    // The data with its terminator, as a string value is stored.
    DWORD size = (DWORD)((wcslen(wide_data) + 1) * sizeof(wchar_t));
    LONG status = RegSetValueExW(key, wide_name, 0, REG_SZ, (const BYTE*)wide_data, size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : -1;
}

int ApplyUpdate() {
    char target[kPathCapacity];
    LocateResult located = LocateTarget(target);
    bool found = located == kLocateFound;
    if (located == kLocateNotFound &&
        AskYesNo(kTextAskManualTarget, SettingText(kSettingTitleBar))) {
        found = ChooseTarget(target) == 0;
    }
    if (!found) {
        ErrorBox(kTextUpdateCancelled);
        return -1;
    }

    // Held from here to the end of the deletion: nobody can rename the game
    // folder or put a link in its place meanwhile. A game folder that is a
    // link is refused: writing through it would update wherever it points.
    OsFolderHold* game = OsHoldFolder(target);
    if (!game) {
        ErrorBox(kTextUpdateCancelled);
        return -1;
    }
    // A copy into this folder that a kill or a power loss cut short is
    // undone (or finished) before anything else is done there.
    if (RepairInterruptedUpdate(target) != 0) {
        OsReleaseFolder(game);
        ErrorBox(kTextInterruptedNotRepaired);
        return -1;
    }

    // All or nothing: after a failure or a quit the game folder is as it
    // was, and nothing below has run.
    PayloadArchive archive;
    if (OpenPayloadArchive(&archive) != 0) EndRun(kRunPayloadDamaged);
    CopyWindow copy = {};
    OpenCopyWindow(&copy, archive.size);
    ExtractTarget into = {target, kCopyPass, nullptr, game, nullptr};
    ExtractEvents events = CopyWindowEvents(&copy);
    StagedList staged = {};
    ExtractResult copied =
        copy.quit ? kExtractQuit : ExtractArchive(&archive, &into, &events, &staged, nullptr);
    CloseCopyWindow(&copy);
    if (copy.quit) EndRun(kRunQuit, nullptr, copy.quit_code);
    if (copied != kExtractDone) EndRun(kRunPayloadDamaged);

    TransferPlaces places = {target, FindCdromRoot};
    TransferIniLines(places);
    TransferRegLines(places);
    DeleteAfterInstall(game);
    OsReleaseFolder(game);
    ShowEndDialog();

    // The readme's relative name is the copy just unpacked into the game.
    OsSetCurrentFolder(target);
    if (g_readme_requested) {
        char readme[kLineCapacity];
        SettingTextInto(kSettingInstReadmeFl, readme, sizeof readme);
        ShellOpen(readme);
    }
    return 0;
}

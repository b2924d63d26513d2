// The update procedure (see apply_win.h). The line grammars are
// transfer.cpp's, the deletion afterinst.cpp's; what is here talks to the
// profile files and the registry.
#include "update/apply_win.h"

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "config/sections.h"
#include "config/settings.h"
#include "payload/extract.h"
#include "payload/journal.h"
#include "shell/msgbox_win.h"
#include "shell/progress_win.h"
#include "shell/registry_win.h"
#include "texts.h"
#include "update/afterinst.h"
#include "update/profile.h"
#include "update/transfer.h"

namespace {

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

// The root of the first CD-ROM drive from A: to Z: ("Q:\"), or "E:\" when
// the machine has none.
const char* FindCdromRoot() {
    static const char kRoots[][4] = {"A:\\", "B:\\", "C:\\", "D:\\", "E:\\", "F:\\", "G:\\",
                                     "H:\\", "I:\\", "J:\\", "K:\\", "L:\\", "M:\\", "N:\\",
                                     "O:\\", "P:\\", "Q:\\", "R:\\", "S:\\", "T:\\", "U:\\",
                                     "V:\\", "W:\\", "X:\\", "Y:\\", "Z:\\"};
    for (const char* root : kRoots) {
        wchar_t wide[] = {(wchar_t)root[0], L':', L'\\', L'\0'};
        if (GetDriveTypeW(wide) == DRIVE_CDROM) return root;
    }
    return kRoots['E' - 'A'];
}

}  // namespace

InstallResult InstallUpdate(const char* target, int* quit_code) {
    *quit_code = 0;
    // Held from here to the end of the deletion: nobody can rename the game
    // folder or put a link in its place meanwhile. A game folder that is a
    // link is refused: writing through it would update wherever it points.
    OsFolderHold* game = OsHoldFolder(target);
    if (!game) {
        ErrorBox(kTextUpdateCancelled);
        return kInstallRefused;
    }
    // A copy into this folder that a kill or a power loss cut short is
    // undone (or finished) before anything else is done there.
    if (RepairInterruptedUpdate(target) != 0) {
        OsReleaseFolder(game);
        ErrorBox(kTextInterruptedNotRepaired);
        return kInstallRefused;
    }

    // All or nothing: after a failure or a quit the game folder is as it
    // was, and nothing below has run.
    PayloadArchive archive;
    if (OpenPayloadArchive(&archive) != 0) {
        OsReleaseFolder(game);
        return kInstallPayloadDamaged;
    }
    // The copy window opens only for a payload that the whole-archive check
    // accepts for this folder: a refused one gets its message alone.
    ArchiveFault fault;
    if (CheckArchive(&archive, strlen(target), &fault) != 0) {
        OsReleaseFolder(game);
        return kInstallPayloadDamaged;
    }
    CopyProgressWindow copy = {};
    OpenCopyProgress(&copy, archive.size);
    ExtractTarget into = {target, kCopyPass, nullptr, game, nullptr};
    ExtractEvents events = CopyProgressEvents(&copy);
    StagedList staged = {};
    ExtractResult copied =
        copy.quit ? kExtractQuit : ExtractArchive(&archive, &into, &events, &staged, nullptr);
    CloseCopyProgress(&copy);
    if (copy.quit || copied != kExtractDone) {
        OsReleaseFolder(game);
        *quit_code = copy.quit_code;
        return copy.quit ? kInstallQuit : kInstallPayloadDamaged;
    }

    TransferPlaces places = {target, FindCdromRoot};
    TransferIniLines(places);
    TransferRegLines(places);
    DeleteAfterInstall(game);
    OsReleaseFolder(game);
    return kInstallDone;
}

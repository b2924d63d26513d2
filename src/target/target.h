// Finding the installed game's folder, decided without a window: the default
// installation folder, the clean-up of a folder the user typed, the key-file
// path and the version gate. The registry itself is the shell's (registry_win.h).
#pragma once

#include <stddef.h>

#include "base/text.h"

// Where the game installs itself by default: the root of the Windows
// directory's drive (C:\ for C:\Windows; nothing when it has no backslash),
// "Program Files\", then maker_folder and "\" when given (null or empty: not
// given), then product_folder. 0, or -1 with out empty when it does not fit:
// an empty default never names a folder, so callers skip it.
int DefaultTargetPath(const char* windows_folder, const char* maker_folder,
                      const char* product_folder, char* out, size_t capacity = kPathCapacity);

// "folder\key_file", the file whose presence marks the game's folder. 0, or -1
// with out empty when it does not fit (the key file then counts as missing).
int KeyFilePath(const char* folder, const char* key_file, char* out,
                size_t capacity = kPathCapacity);

// What the clean-up of a typed folder needs from the settings and the system.
struct ChosenFolderRules {
    int make_folders;            // INSTMAKEFOL: non-zero appends the folders below
    const char* maker_folder;    // INSTFOL; null or empty when not set
    const char* product_folder;  // INSTTO
    const char* windows_folder;  // the Windows directory, whose drive a path without one gets
};

// How CleanChosenFolder judged the text. Each refusal has its own message.
enum ChosenFolderResult {
    kChosenFolderOk = 0,
    kChosenFolderNetwork = -1,  // two real backslashes in a row, anywhere: a network path
    kChosenFolderRoot = -2,     // a drive root such as C:\ (never an update target)
    kChosenFolderNoDrive = -3,  // still no drive: the Windows directory had none to give
    kChosenFolderTooLong = -4,  // not terminated within capacity, or a step would not fit
};

// Turns what the folder prompt handed back into the folder to update, in
// place, in this order: "/" to "\", refuse a network path, strip one trailing
// separator, append maker and product folders (make_folders, when none of the
// path's folders is the product folder yet), put the Windows directory's drive
// in front of a path without ":", make sure a "\" follows the first ":",
// refuse a root. Nothing is ever cut; on a refusal the buffer's text is not
// to be used.
ChosenFolderResult CleanChosenFolder(char* path, const ChosenFolderRules& rules,
                                     size_t capacity = kPathCapacity);

// The version gate's verdict, one message each.
enum VersionVerdict {
    kVersionAccepted = 0,
    kVersionTooOld = -1,          // below the lowest accepted version
    kVersionAlreadyUpdated = -2,  // above the highest accepted version
};

// lowest <= installed <= highest, both bounds inclusive, the lower one tested
// first. A bound left out of install.env is 0 and is used as 0: with no
// highest version every installed version above 0 counts as already updated.
VersionVerdict VersionGate(int installed, int lowest, int highest);

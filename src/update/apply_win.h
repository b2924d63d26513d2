// The update itself, once the game's folder is confirmed: copy the whole
// payload into it, write the [ini] and [reg] entries and delete what
// [delfiles_afterinst] lists.
#pragma once

enum InstallResult {
    kInstallDone = 0,            // the payload is in the game folder
    kInstallRefused = -1,        // stopped before anything was copied; the user has been told
    kInstallPayloadDamaged = -2, // the copy failed; the game folder is as it was
    kInstallQuit = -3,           // a quit message came during the copy; the folder is as it was
};

// Updates the game in target (a confirmed folder). On kInstallQuit,
// *quit_code is the quit message's code.
InstallResult InstallUpdate(const char* target, int* quit_code);

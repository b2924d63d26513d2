// Deletion after installation: the [delfiles_afterinst] entries of install.env
// (the updater's own setup files, files of older versions) removed from the
// game folder once the whole payload has been unpacked into it.
//
// An entry is a file name or a wildcard pattern, optionally behind folder
// names, relative to the game folder:
//
//   install.env     that file in the game folder
//   *.bak           every .bak file directly in the game folder
//   save\*.*        every file in save, then save itself if it is now empty
//   data\old\*.*    every file in data\old, then data if empty (never while
//                   data\old exists: only the first-level folder is removed)
//   save\           no file; save if it is empty
//   save            the folder itself is no file: nothing happens
//
// Deletion stays inside the game folder: an entry that is absolute, names a
// drive or a stream (any ":"), begins with a separator, or has a component
// made only of dots (and spaces, which Windows drops) is refused untouched;
// so is one whose folders include a link (a junction or symbolic link) in the
// game folder, which would lead the deletion elsewhere. Every folder is held
// (OsHoldFolder) from its check to the end of its deletion, and every name
// looked up inside its held parent, so none can be swapped for a link
// meanwhile.
#pragma once

#include "base/platform.h"

enum AfterInstallResult {
    kAfterInstallDone = 0,        // no folder part, or its first folder was removed
    kAfterInstallFolderKept = 1,  // the first folder could not be removed (not empty, missing)
    // Nothing touched: the entry leaves the game folder, does not fit a path
    // buffer, or a folder of it is a link (or a file).
    kAfterInstallRefused = -1,
};

// False for an entry that would leave the game folder (the rules above):
// DeleteAfterInstallEntry refuses it untouched.
bool AfterInstallEntryStaysInside(const char* entry);

// Deletes the files of one entry in the held game folder, then tries to
// remove the entry's first folder. The current directory is not used.
AfterInstallResult DeleteAfterInstallEntry(OsFolderHold* game, const char* entry);
// The same in the folder target, held for the call (refused when a link).
AfterInstallResult DeleteAfterInstallEntry(const char* target, const char* entry);

// Every entry of the [delfiles_afterinst] list in order; failures are passed
// over silently, as nothing here is worth a message.
void DeleteAfterInstall(OsFolderHold* game);

// The private work folder under the user's temporary folder, and file
// deletion by wildcard pattern.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/platform.h"

// Result of CreateWorkFolder.
enum WorkFolderResult {
    kWorkFolderReady = 0,     // created by this run and made current
    kWorkFolderFailed = -1,   // no fresh folder could be made
    kWorkFolderBadTemp = -2,  // the temporary folder has no code page 932 form
};

// Saves the current directory, creates a new "TempGPInstallFolder_%09d" folder
// under the temporary folder, the number from the system's random source, and
// makes it current. The folder is private to this process's kind of user and
// held from its creation until it is removed (OsCreatePrivateFolderIn). A
// folder of that name that exists already is never used: another number is
// drawn instead. Then the work folders that killed runs left in the
// temporary folder are removed (OsRemoveAbandonedFolder), silently and as far
// as that goes. random draws the numbers (tests give their own).
WorkFolderResult CreateWorkFolder(uint32_t (*random)() = OsRandomNumber);

// Records a file this run put into the work folder (the setup files).
void NoteWorkFile(const char* path);

// Leaves the work folder, deletes the files recorded by NoteWorkFile and
// removes the folder when that has emptied it. Does nothing when no work
// folder was created. Safe on every exit path; reports nothing.
void RemoveWorkFolder();

// The work folder's path (empty before CreateWorkFolder succeeded).
const char* WorkFolderPath();

// Deletes every file matching pattern (which may carry a folder part) in
// folder; folders are never deleted and subfolders are not descended into.
// The current directory is the same afterwards. A folder that cannot be
// entered has nothing deleted.
void DeleteMatchingFiles(const char* folder, const char* pattern);

// The single search behind DeleteMatchingFiles. begin: 0 when a first entry
// was found, 1 when nothing matched. next: the next non-folder entry as the
// pattern's folder part plus the found name, or null at the end; the returned
// path stays valid until the next call.
int FileFinderBegin(const char* pattern);
const char* FileFinderNext();

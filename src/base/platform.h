// The file-system and clock services that the portable code needs, with one
// implementation per system: platform_win.cpp (wide W calls, every path
// converted from code page 932 at the call, never the system ANSI code page)
// and platform_posix.cpp (backslashes become slashes, names stay bytes).
// All paths are zero-terminated code page 932 byte strings.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Opens a file with a standard I/O mode ("rb", "rt", "wb", ...); null on failure.
FILE* OsOpenFile(const char* path, const char* mode);

// The running program's own executable, open for binary reading: opened once,
// on the first call, and held until the process ends (never closed by a
// caller). On Windows it is opened by its wide module path, so a program
// saved under any folder name opens, and shared for reading only, so that
// nobody can change it or put another file in its place while it runs.
FILE* OsSelfFile();

// Result of OsCreateFolder.
enum OsCreateResult {
    kOsCreated = 0,        // a new folder was made by this call
    kOsAlreadyExists = 1,  // something of that name was there already
    kOsCreateFailed = -1,  // anything else (missing parent, no rights, bad name)
};
OsCreateResult OsCreateFolder(const char* path);

// Kind of a path on disk.
enum OsPathKind { kOsMissing = 0, kOsFile = 1, kOsFolder = 2 };

// Holds an existing folder open so that it cannot be renamed, deleted or
// replaced by a link while held. Null when it is missing, not a folder, or a
// link (a reparse point on Windows).
struct OsFolderHold;
OsFolderHold* OsHoldFolder(const char* path);
void OsReleaseFolder(OsFolderHold* hold);
// Opens a folder to work inside it by its handle, following a link at path:
// for a folder that its user may place anywhere, as the temporary folder.
OsFolderHold* OsOpenFolder(const char* path);

// Work inside a held folder, by its handle: a walk that holds each folder it
// enters and names everything relative to it is never led elsewhere by a
// folder renamed or swapped for a link behind its back. A name here is one
// component in code page 932, never "." or ".."; a link at a name is taken
// as itself, never followed.

// Holds the folder name of parent (made first when create says so and it is
// missing; *created then tells whether this call made it). Null when it is a
// link, not a folder, or cannot be opened or made.
OsFolderHold* OsHoldChildFolder(OsFolderHold* parent, const char* name, bool create,
                                bool* created);
// As OsCreateNewFile, inside folder.
FILE* OsCreateNewFileIn(OsFolderHold* folder, const char* name, OsCreateResult* result);
// As OsMoveToNewName and OsReplaceFile, both names inside folder.
OsCreateResult OsMoveToNewNameIn(OsFolderHold* folder, const char* from, const char* to);
int OsReplaceFileIn(OsFolderHold* folder, const char* from, const char* to);
// Deletes a file (a link as itself). 0 or -1.
int OsDeleteFileIn(OsFolderHold* folder, const char* name);
// Removes an empty folder (a link as itself). 0 or -1.
int OsRemoveFolderIn(OsFolderHold* folder, const char* name);

// Creates the folder name inside parent for this process alone and holds it:
// on Windows, when the process runs elevated, with a protected access list
// that admits SYSTEM and the Administrators only (so that no unelevated
// program of the same user can change what is in it); on Linux with mode
// 0700. Made and opened in one step, then checked through that opening: a
// folder, no link, empty, with the owner and access list (or mode) it was
// made with; nobody can slip another folder in between. Null with *result
// kOsAlreadyExists when the name is taken, kOsCreateFailed for anything else.
// On Linux the hold also locks the folder (flock), the mark of a folder in use.
OsFolderHold* OsCreatePrivateFolderIn(OsFolderHold* parent, const char* name,
                                      OsCreateResult* result);
// Removes the folder name of parent that a run made with
// OsCreatePrivateFolderIn and could not remove (it was killed): only when it
// is a folder of this user, no link, and nobody holds it. On Windows a held
// folder is one that a handle without delete sharing keeps open, as a running
// updater does; on Linux one that another open locks. Its files and links
// are deleted as themselves, never what a link points to; a subfolder inside
// is left alone, and then so is the folder. Best effort, reports nothing.
void OsRemoveAbandonedFolder(OsFolderHold* parent, const char* name);
// What name is (a link counts as a file); *read_only, when given, tells
// whether it carries the read-only mark.
OsPathKind OsGetPathKindIn(OsFolderHold* folder, const char* name, bool* read_only);
// Calls found for every file of folder (not its folders; with folders, its
// folders instead, never "." or "..") whose name matches the wildcard pattern
// (WildcardMatch); found may delete that entry. 0, or -1 when the folder
// cannot be read.
int OsForEachFileIn(OsFolderHold* folder, const char* pattern,
                    void (*found)(OsFolderHold* folder, const char* name, void* context),
                    void* context, bool folders = false);

// Removes an empty folder. 0 on success, -1 on failure.
int OsRemoveFolder(const char* path);

// Deletes a file. 0 on success, -1 on failure (read-only, in use, missing).
int OsDeleteFile(const char* path);

// Moves from over to, replacing an existing file. 0 on success, -1 on failure
// (on Windows a read-only or open destination is not replaced).
int OsReplaceFile(const char* from, const char* to);

// Current directory as code page 932 into buffer (capacity bytes). 0 on
// success, -1 when it does not fit or cannot be represented.
int OsGetCurrentFolder(char* buffer, size_t capacity);
int OsSetCurrentFolder(const char* path);

// The user's temporary folder, with a trailing separator as the system gives it.
// On Windows a folder whose name cannot be written in code page 932 is given
// by its short 8.3 form.
enum OsTempResult {
    kOsTempOk = 0,
    kOsTempTooLong = -1,           // does not fit the buffer
    kOsTempNotRepresentable = -2,  // no code page 932 form and no short name
};
OsTempResult OsGetTempFolder(char* buffer, size_t capacity);

OsPathKind OsGetPathKind(const char* path);

// True when path itself is a link (a reparse point on Windows: a junction or
// a symbolic link), whatever it points to.
bool OsIsLink(const char* path);

// Creates a new file for binary writing; null when anything of that name is
// there already (a link included), so nothing is ever written through a name
// someone else made. *result (when given) tells which: kOsCreated,
// kOsAlreadyExists or kOsCreateFailed.
FILE* OsCreateNewFile(const char* path, OsCreateResult* result = nullptr);

// Writes what the file buffers and has the system put it on the disk
// (FlushFileBuffers, fsync) before this returns. 0 on success, -1 on failure.
int OsFlushFile(FILE* file);

// Moves a file to a name that nothing has yet: kOsAlreadyExists leaves both
// as they were. One look-up of the new name, where a test first would be two.
OsCreateResult OsMoveToNewName(const char* from, const char* to);

// True for an existing file marked read-only (Windows' attribute; on Linux a
// file without its owner's write permission, whoever asks).
bool OsIsReadOnly(const char* path);

// Last-write time as a Windows FILETIME (100 ns units since 1601-01-01 UTC).
// On Linux it is the modification time. 0 on success, -1 on failure.
int OsSetFileTime(const char* path, uint64_t filetime);
// The same through a file open for writing, after its last write: no second
// look-up of its name. Bytes still buffered are written first.
int OsSetFileTime(FILE* file, uint64_t filetime);
int OsGetFileTime(const char* path, uint64_t* filetime);

// Milliseconds since the system started (GetTickCount on Windows).
uint32_t OsMilliseconds();

// A number from the system's random source (RtlGenRandom on Windows,
// getrandom on Linux).
uint32_t OsRandomNumber();

// Names relative to a folder (names.cpp). True when the component
// [begin, end) is not empty and made of dots and spaces only (".", "..",
// "...", ". ."): Windows drops a component's trailing dots and spaces, so
// such a name leads to the folder itself or out of it.
bool IsDotsOnlyComponent(const char* begin, const char* end);
// True when name (backslash or slash separators, code page 932) cannot lead
// out of the folder it is joined to: no leading separator, no ':' (a drive
// or a stream), no dots-only component. With folder given, no folder on the
// way from folder to name's last component may be a link either: deleting
// through one would delete wherever it points.
bool NameStaysInside(const char* name, const char* folder = nullptr);

// Directory search with the wildcard rules of Windows (see WildcardMatch).
// The pattern may carry a folder part; it is searched relative to the current
// directory. Entries "." and ".." are reported as folders, as Windows does.
struct OsFindData {
    bool is_folder;
    char name[260];  // bare name, code page 932
};
struct OsFindHandle;
// Returns null when nothing matches or the search cannot start.
OsFindHandle* OsFindFirst(const char* pattern, OsFindData* data);
// False when there are no more entries.
bool OsFindNext(OsFindHandle* handle, OsFindData* data);
void OsFindClose(OsFindHandle* handle);

// A lock for one process: a critical section on Windows, a mutex on Linux.
// Create returns null only when memory runs out.
struct OsLock;
OsLock* OsCreateLock();
void OsEnterLock(OsLock* lock);
void OsLeaveLock(OsLock* lock);
void OsDeleteLock(OsLock* lock);

// Conversions for what the maker's tool shows and reads. Output is cut at a
// character boundary to capacity. Return false when the input has a byte
// sequence (or character) that has no form in the other encoding.
bool OsCp932ToUtf8(const char* cp932, char* utf8, size_t capacity);
bool OsUtf8ToCp932(const char* utf8, char* cp932, size_t capacity);

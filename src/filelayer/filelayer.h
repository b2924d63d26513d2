// The managed file open: every setup file is opened by name through here.
// A name is looked for under the base folder (or as passed, when direct
// opening is on) and in an ordered search list of folder tables and archive
// indexes keyed by the CRC-32 of the lower-cased bare file name. Sound files
// (.wav, .ogg) come from the search list first, every other file from the
// folder first. The updater only ever switches direct opening on; the base
// folder and the search list stay empty, but both can be registered so that
// the whole lookup order stays in force.
#pragma once

#include <stdint.h>
#include <stdio.h>

// One record of an archive index: 12 bytes, sorted by hash (unsigned).
struct FfIndexEntry {
    uint32_t hash;
    uint32_t offset;  // of the member's data from the start of the archive file
    uint32_t size;    // not read by the lookup
};

// One record of a folder table: the hash of a file name and the folder
// (without trailing backslash) that holds it.
struct FfFolderEntry {
    uint32_t hash;
    const char* folder;
};

enum FfSearchKind : uint32_t {
    kFfFolderTable = 0,  // searched through its index when it has no folder table
    kFfArchive = 1,
};

// A search list entry. The caller owns it and everything it points to, and
// keeps them alive while registered.
struct FfSearchEntry {
    const char* archive_path;
    uint32_t index_count;
    const FfIndexEntry* index;
    const FfFolderEntry* folders;  // may be null
    int32_t folder_count;          // 0 or less: empty table
    uint32_t kind;                 // FfSearchKind; any other value is skipped
    FfSearchEntry* next;           // set by FfAddSearchEntry
};

// Opens name with a standard I/O mode. While the lookup fails the retry
// handler is asked whether to look again; null when there is none or it
// declines. In the updater the handler is the Retry/Cancel box: null there
// means the user chose Cancel. For an archive hit the stream is the archive,
// positioned at the member's data.
FILE* Ffopen(const char* name, const char* mode);

// Asked with the name each time a lookup of Ffopen fails: true looks again.
typedef bool (*FfRetryHandler)(const char* name);
void FfSetRetryHandler(FfRetryHandler handler);

// 1 when Ffresolve finds a path for name, 0 otherwise. Shows nothing and
// leaves no stream open.
int Ffexist(const char* name);

// Writes the path through which name would be opened (for an archive hit,
// the archive's path) into out (kPathCapacity bytes), or the empty string
// when nothing is found. Returns out.
char* Ffresolve(const char* name, char* out);

// Non-zero lets a name be opened exactly as passed when no base folder is set.
void Ffsetdirect(int on);

// CRC-32 of the lower-cased file name and extension (the folder part and the
// drive are left out).
uint32_t FfNameHash(const char* name);

// The standard CRC-32 (zlib's and IEEE 802.3's) of length bytes, continuing
// from crc (0 to start).
uint32_t FfCrc32(uint32_t crc, const void* data, size_t length);

// True for names whose extension is .wav or .ogg in any ASCII case.
bool FfIsSoundName(const char* name);

// Registration, which the updater never uses. The base folder is put in front
// of a name as it is, so a non-empty folder should end with a backslash;
// returns -1 (and keeps the old value) when it does not fit a path buffer.
int FfSetBaseFolder(const char* folder);
// Appends entry at the end of the search list.
void FfAddSearchEntry(FfSearchEntry* entry);
// Empties the search list and the base folder and switches direct opening off.
void FfResetLookup();

// Deletes the lock that guards the lookup (made by the first open). The entry
// calls it once on its way out, when no other thread uses the layer any more;
// a later open makes a new lock.
void FfReleaseLock();

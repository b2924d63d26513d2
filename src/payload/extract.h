// Extraction of the payload archive: one walk for the updater's two passes,
// vnpack and the tests, with everything it tells or asks of its caller in
// events and its state in a list the caller owns. Nothing here shows a
// message, pumps messages of its own or ends the process.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "base/platform.h"
#include "payload/archive.h"
#include "payload/journal.h"

enum ExtractPass { kCopyPass = 0, kSetupPass = 1 };

// Builds the path handed to the platform for a code page 932 entry name
// (backslash separators) under destination, for a maker's tool that extracts
// onto a file system with another encoding: the destination is in that
// encoding too, so the join belongs there as well. False when the name has no
// such form or the path does not fit capacity.
typedef bool (*EntryPathBuilder)(const char* destination, const char* name, char* output,
                                 size_t capacity);

// Seams for the tests; the updater and vnpack give none.
struct ExtractFaults {
    uint32_t first_sibling;  // the sibling numbers start here, not at a random number
    int commit_fault_step;   // the step-th move of the commit (from 1, each move
                             // aside and each move into place) fails as if the
                             // system refused it; 0: none
    int64_t disk_space;      // the disk is full once the walk wrote this many bytes; negative: never
    int kill_step;           // see Journal::kill_step (copy pass only)
};

// Where and how a walk writes.
struct ExtractTarget {
    const char* destination;      // no trailing backslash
    ExtractPass pass;             // the setup pass takes the top-level setup files only
    EntryPathBuilder build_path;  // null: destination, a backslash and the name
    OsFolderHold* root;           // the destination, held by the caller; null: held by the walk
    const ExtractFaults* faults;  // null: none
};

// The two 131,072-byte blocks of a walk, read into and inflated into.
struct ExtractBuffers {
    unsigned char* input;
    unsigned char* output;
};

// What the walk tells its caller as it goes. Every callback may be null.
struct ExtractEvents {
    void* context;
    // A file begins: its path, and its size in blocks of 131,072 bytes.
    void (*file_begun)(void* context, const char* path, int32_t blocks);
    // After each block written: the blocks of the file written, and the
    // blocks of the archive consumed (from its first entry up to the bytes
    // requested of this stream).
    void (*progress)(void* context, int32_t file_blocks, int32_t total_blocks);
    // After each block: runs the caller's pending messages. False when a
    // quit message was taken, with its code in *quit_code: the walk rolls
    // back and ends with kExtractQuit.
    bool (*pump)(void* context, int* quit_code);
    // Each file the walk put in place, once the whole walk succeeded.
    void (*placed)(void* context, const char* path);
};

enum ExtractResult {
    kExtractDone = 0,
    kExtractFailed = -1,  // refused or damaged; *fault says why
    kExtractQuit = -2,    // the pump took a quit message; StagedList::quit_code has its code
};

// What one walk has on disk and how far it got. The caller owns it, zeroed;
// every walk leaves it empty again (its files committed or rolled back).
struct StagedItem;
struct HeldFolder;
struct StagedList {
    StagedItem* items;
    size_t count, capacity;
    HeldFolder* folders;
    size_t folder_count, folder_capacity;
    char* text;  // the zero-terminated paths and names of the items
    size_t text_length, text_capacity;
    Journal journal;        // the copy pass's (journal.h)
    unsigned next_sibling;  // number of the next "~vn"/"~vb" name
    int commit_step;        // moves of the commit so far
    int quit_code;          // after kExtractQuit
};

// The one extraction of an archive into target->destination, for the
// updater's two passes, vnpack and the tests. The whole archive is checked
// (CheckArchive) before anything is written (in the setup pass the joined
// path length counts only for the setup files it writes); then the setup
// pass writes the top-level setup files, the copy pass everything. Each name
// is checked again before it is written, so an archive that changed in
// between is still refused. All or nothing, so that a damaged stream late in
// the payload cannot leave a game half old and half new:
// The destination and every folder the walk enters are held (OsHoldFolder)
// until the walk ends, each opened inside its parent and refused when it is a
// link, and every file is named inside its held folder: a folder renamed or
// swapped for a link meanwhile cannot lead a write elsewhere.
//   1. every file is inflated into a temporary sibling ("~vn00000.tmp") with
//      its stored time, its stream checked to the end (Adler-32 included);
//      folders are created as met; no existing file is touched;
//   2. only when every stream was good, each existing file is moved aside to
//      a backup sibling ("~vb00000.tmp") and the staged file takes its name;
//      then the backups are deleted;
//   3. on any failure (damaged stream, write error, a move refused) and on a
//      quit taken by the pump in step 1, the old files come back from their
//      backups, the staged files go, and the folders this walk created are
//      removed when empty, before this returns.
// Old and new files are on disk side by side until step 2 ends. Step 2 does
// not pump, so no quit can cut it. The copy pass keeps a journal (journal.h)
// from its first write to its end.
ExtractResult ExtractArchive(const PayloadArchive* archive, const ExtractTarget* target,
                             const ExtractEvents* events, StagedList* staged, ArchiveFault* fault);

// True for the file entries the setup pass writes: top-level names that
// contain "insttscr.rct", "install.env" or ".txt" in any letter case.
bool IsSetupFile(const char* name);

// True when name contains pattern, letters compared without regard to case
// (code page 932 aware, so the full-width letters too).
bool NameMatches(const char* name, const char* pattern);

// Receives each inflated block: every full 131,072-byte block and the final
// partial one. consumed counts the archive bytes requested so far. 0 to go on.
typedef int (*BlockSink)(void* context, const unsigned char* data, size_t length, int32_t consumed);

// How one stream inflated.
enum InflateResult {
    kInflateOk = 0,
    kInflateDamaged = -1,    // not a zlib stream, a bad checksum, cut short
    kInflateWrongSize = -2,  // more or fewer bytes than stated, or input left after its end
};

// Inflates the compressed_size bytes of one zlib stream at the stream's
// position in blocks of 131,072 bytes, through two caller buffers of that
// size, into exactly stated_size bytes. Adds the bytes it requests to
// *consumed. A stream that produces more than stated_size stops as soon as it
// does, before the excess reaches the sink.
InflateResult InflateEntryData(FILE* stream, uint32_t compressed_size, uint32_t stated_size,
                               unsigned char* input, unsigned char* output, BlockSink sink,
                               void* context, int32_t* consumed);

// Extraction of the payload archive: the updater's two passes (ExtractPayload)
// over a portable walk that returns result codes, shared with vnpack and the
// tests. Nothing here shows a message or ends the process.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "base/platform.h"
#include "payload/archive.h"
#include "payload/progress.h"

enum ExtractPass { kCopyPass = 0, kSetupPass = 1 };

// Builds the path handed to the platform for a code page 932 entry name
// (backslash separators) under destination, for a maker's tool that extracts
// onto a file system with another encoding: the destination is in that
// encoding too, so the join belongs there as well. False when the name has no
// such form or the path does not fit capacity.
typedef bool (*EntryPathBuilder)(const char* destination, const char* name, char* output,
                                 size_t capacity);

// Where and how a walk writes.
struct ExtractTarget {
    const char* destination;      // no trailing backslash
    ExtractPass pass;             // the setup pass takes the top-level setup files only
    CopyProgressHandle window;    // null: no display
    EntryPathBuilder build_path;  // null: destination, a backslash and the name
    OsFolderHold* root;           // the destination, held by the caller; null: held by the walk
};

// The two 131,072-byte blocks of a walk, read into and inflated into.
struct ExtractBuffers {
    unsigned char* input;
    unsigned char* output;
};

// The updater's walk of its own payload into destination. The whole archive
// is checked (CheckArchive) before anything is written, in both passes (in
// the setup pass the joined path length counts only for the setup files it
// writes); then the setup pass writes the top-level setup files, the copy
// pass everything under the progress window, which is closed again before
// this returns. Either pass replaces all its files or none (WalkArchive).
// 0, or -1 for an unreadable or damaged payload: the caller reports it and
// ends the run.
// root: the destination as the caller holds it (null: held for the walk).
int ExtractPayload(const char* destination, ExtractPass pass, OsFolderHold* root = nullptr);

// CheckArchive followed by WalkArchive. 0, or -1 with *fault filled; after
// -1 the destination is as it was before.
int ExtractArchive(const PayloadArchive* archive, const ExtractTarget* target, ArchiveFault* fault);

// The walk itself, on an archive that CheckArchive has accepted for this
// destination. Each name is checked again before it is written, so an archive
// that changed in between is still refused. All or nothing, so that a damaged
// stream late in the payload cannot leave a game half old and half new:
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
//   3. on any failure (damaged stream, write error, a move refused) the old
//      files come back from their backups, the staged files go, and the
//      folders this walk created are removed when empty.
// Old and new files are on disk side by side until step 2 ends. A quit
// message taken by the pump during step 1 ends the process; a handler run at
// exit then deletes the staged files and created folders. Step 2 does not
// pump, so no quit can cut it. 0, or -1 with *fault filled.
int WalkArchive(const PayloadArchive* archive, const ExtractTarget* target, ArchiveFault* fault);

// Tests only: the step-th move of the next commits (counting from 1, each
// move aside to a backup and each move into place) fails as if the system
// had refused it. 0 turns it off.
void SetCommitFaultForTesting(int step);

// Tests only: the disk is full once the walks have written this many more
// bytes (a write then fails as it would); negative turns it off.
void SetDiskSpaceForTesting(int64_t bytes);

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

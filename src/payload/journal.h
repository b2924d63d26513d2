// The copy pass's journal: a small file in the game folder that says what a
// walk has put on disk and how far its commit got, so that a walk cut short
// by a kill or a power loss is undone (or finished) by the next run before
// that run touches the folder.
//
// The file, "~vnjournal.tmp" in the destination, little-endian:
//   magic    4 bytes  "VNJ1"
//   records, each:
//     type     1 byte   a JournalRecord
//     item     4 bytes  for kJournalBackup: the index of the staged item it
//                       belongs to (counting folder, new and staged records
//                       that were not undone); 0 otherwise. A later backup
//                       record of the same item replaces it (the name was
//                       taken by something else)
//     number   4 bytes  the five-digit number of a "~vn"/"~vb" sibling
//     length   2 bytes  of the name, at most kJournalNameCapacity - 1
//     name     length bytes, the path relative to the destination
//     check    4 bytes  CRC-32 of the record's bytes before it
// Records are only appended; a record cut short or failing its check ends
// the journal there (it was being written when the run stopped).
//
// Each record is written before what it tells of is done, so that whatever
// a run left on disk is named; an attempt that found the name taken by
// something else is withdrawn at once (kJournalUndo). What the next run does:
//   - no kJournalCommitting: nothing old was touched yet. The staged files,
//     the files created under their own names and the folders the walk made
//     go: the old version, byte for byte.
//   - kJournalCommitting (written and flushed to the disk before the first
//     move), no kJournalCommitted: rolled back. An old file whose staged
//     file or own name is gone was moved aside: it comes back from its
//     backup. Rolling back needs nothing but renames of old data that is on
//     disk already, so it holds after a power loss as well.
//   - kJournalCommitted (every new file in place): finished: the backups and
//     any staged file left go.
// Then the journal goes. Only names the journal gives are ever touched.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "base/text.h"

// The journal's own name in the destination; no payload entry may have it.
extern const char kJournalName[];

// The siblings a walk stages new files under and moves old files aside to:
// prefix, five digits and ".tmp" ("~vn00042.tmp").
extern const char kStagedPrefix[];
extern const char kBackupPrefix[];
enum { kSiblingNumbers = 100000 };
// The sibling's name alone (kTemporaryNameLength + 1 bytes).
void SiblingName(const char* prefix, unsigned number, char* sibling);
// The sibling of the file at path: in its folder. False when it does not fit.
bool SiblingPath(const char* path, const char* prefix, unsigned number, char* sibling,
                 size_t capacity);

enum JournalRecord {
    kJournalFolder = 'D',      // a folder the walk creates
    kJournalNewFile = 'N',     // a file created under its own name (none was there)
    kJournalStaged = 'S',      // a new file staged in the "~vn" sibling of number
    kJournalUndo = 'X',        // the folder, new or staged record before did not happen
    kJournalBackup = 'B',      // the old file of item goes to the "~vb" sibling of number
    kJournalCommitting = 'C',  // the moves begin
    kJournalCommitted = 'K',   // every new file is in place; the backups go
};

enum { kJournalNameCapacity = 1024 };

// The walk's side. Paths are the full paths the walk hands to the platform;
// they are kept relative to the destination.
struct Journal {
    FILE* file;  // null: no journal (the setup pass), every note succeeds
    bool committing;  // from kJournalCommitting on, every record goes to the disk
    size_t destination_length;
    char path[4 * kPathCapacity];
    // Tests only: the kill_step-th kill point (each record, commit move and
    // deletion of a backup) stops the process at once (abort, no clean-up),
    // as a kill would; 0: none. steps counts the points passed (from 0 at
    // JournalBegin).
    int kill_step;
    int steps;
};

// Creates the journal in destination. -1 when it cannot be created, or
// when one is there already (a run that was not repaired).
int JournalBegin(Journal* journal, const char* destination);

// Appends one record and hands it to the system (a kill of the process
// after this keeps it). From kJournalCommitting on, each record is also
// flushed to the disk before this returns. 0, or -1 when it could not be
// written.
int JournalNote(Journal* journal, JournalRecord type, const char* path = nullptr,
                unsigned number = 0, uint32_t item = 0);

// Before a file is created under its own name: 1 when nothing has the name
// and it is noted as new (create it there; if that fails after all, note
// kJournalUndo), 0 when something has it (stage the file beside it), -1
// when the journal cannot be written. Without a journal always 1.
int JournalNoteNewFile(Journal* journal, const char* path);

// The same for the "~vn" sibling of path with number that a file is staged
// in: 1 when the sibling is free and noted, 0 when something has that name.
int JournalNoteStaged(Journal* journal, const char* path, unsigned number);

// The walk is over and the folder is whole (committed, or rolled back by
// the walk itself): the journal goes.
void JournalEnd(Journal* journal);

// Counts one kill point (see kill_step).
void JournalKillPoint(Journal* journal);

// The next run's side: undoes or finishes what the journal in destination
// tells of and removes the journal. 0 when there was none or all is done;
// -1 when an old file could not be put back (the journal stays, so that a
// later run tries again).
int RepairInterruptedUpdate(const char* destination);

// What a journal's bytes tell: the records up to the first damaged one.
// Portable and bounded: any bytes at all are read safely.
struct JournalItem {
    char type;  // kJournalFolder, kJournalNewFile or kJournalStaged
    unsigned number;
    bool has_backup;
    unsigned backup;
    size_t name;  // offset in JournalPlan::text
};
enum JournalStage { kJournalStaging = 0, kJournalCommitStarted = 1, kJournalCommitDone = 2 };
struct JournalPlan {
    JournalStage stage;
    JournalItem* items;
    size_t count, capacity;
    char* text;
    size_t text_length, text_capacity;
};
// 0 and *plan filled (free it with FreeJournalPlan), or -1 when the bytes
// are not a journal at all (no magic; a part of one names nothing).
int ParseJournal(const unsigned char* data, size_t size, JournalPlan* plan);
void FreeJournalPlan(JournalPlan* plan);

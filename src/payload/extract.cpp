// The extraction engine: the setup and copy passes over the payload archive.
#include "payload/extract.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "base/alloc.h"
#include "base/platform.h"
#include "base/pump.h"
#include "base/text.h"
#include "base/workfolder.h"
#include "payload/journal.h"

namespace {

// The files the setup pass takes into the work folder.
const char* const kSetupPatterns[] = {"insttscr.rct", "install.env", ".txt"};

// Paths handed to the platform. Without a path builder they never exceed
// 259 bytes (CheckArchive enforces it); a builder may lengthen the names.
enum { kOutputPathCapacity = 4 * kPathCapacity };

// The zlib the first updaters were built with; inflateInit_ checks only the
// major version, so any zlib 1.x accepts it.
const char kZlibVersion[] = "1.2.3";

// Five digits in a sibling's name.
const unsigned kSiblingNumbers = 100000;

// destination + '\' + name, or what the target's path builder makes of them.
bool BuildOutputPath(const ExtractTarget* target, const char* name, char* path) {
    if (target->build_path)
        return target->build_path(target->destination, name, path, kOutputPathCapacity);
    if (!CopyText(path, kOutputPathCapacity, target->destination)) return false;
    if (*path) AppendSeparator(path, kOutputPathCapacity);
    return AppendText(path, kOutputPathCapacity, name);
}

// True when a folder of the entry's name (every part before a backslash)
// already exists under the destination as a link: writing through it would
// put files wherever it points, outside the game's folder. checked holds the
// last folder found free of links in this walk; the entries after it in the
// same folder (most of them) need no look-up of their own.
bool CrossesLink(const ExtractTarget* target, const char* name,
                 char (&checked)[kNameFieldCapacity]) {
    const char* last = FindLastChar(name, '\\');
    if (!last) return false;
    size_t folder = (size_t)(last - name);
    if (strlen(checked) == folder && memcmp(checked, name, folder) == 0) return false;
    char prefix[kNameFieldCapacity];
    char path[kOutputPathCapacity];
    for (const char* p = name; *p; p += CharLength(p)) {
        if (*p != '\\') continue;
        size_t length = (size_t)(p - name);
        if (length >= sizeof prefix) return true;
        memcpy(prefix, name, length);
        prefix[length] = '\0';
        if (!BuildOutputPath(target, prefix, path) || OsIsLink(path)) return true;
    }
    memcpy(checked, name, folder);
    checked[folder] = '\0';
    return false;
}

// The number of the next sibling name a walk takes. Each walk starts at a
// random number and counts on, so that its own names, all on disk at once
// until the commit ends, never stand in each other's way: only files another
// run left behind are ever skipped.
unsigned g_next_sibling_number = 0;

void StartSiblingNumbers() {
    g_next_sibling_number = OsRandomNumber() % kSiblingNumbers;
}

// Takes a free name of the form prefix + "%05u.tmp" in the folder of path
// for a new file: take(sibling, context) creates or moves something there
// only when nothing has the name, and the next number is tried while it says
// kOsAlreadyExists, through every number before giving up. No test before
// the take: under Wine each look-up of a name that does not exist reads the
// whole folder.
bool TakeSiblingName(const char* path, const char* prefix, char* sibling, unsigned* number,
                     OsCreateResult (*take)(const char* sibling, void* context), void* context) {
    const char* backslash = FindLastChar(path, '\\');
    const char* slash = strrchr(path, '/');  // never a second byte in either encoding
    const char* last = backslash > slash ? backslash : slash;
    size_t folder = last ? (size_t)(last - path) + 1 : 0;
    if (folder + kTemporaryNameLength + 1 > kOutputPathCapacity) return false;
    memcpy(sibling, path, folder);
    for (unsigned attempt = 0; attempt < kSiblingNumbers; ++attempt) {
        *number = g_next_sibling_number;
        g_next_sibling_number = (g_next_sibling_number + 1) % kSiblingNumbers;
        snprintf(sibling + folder, kTemporaryNameLength + 1, "%s%05u.tmp", prefix, *number);
        OsCreateResult taken = take(sibling, context);
        if (taken != kOsAlreadyExists) return taken == kOsCreated;
    }
    return false;
}

// The same name again from its number.
void RebuildSiblingPath(const char* path, const char* prefix, unsigned number, char* sibling) {
    const char* backslash = FindLastChar(path, '\\');
    const char* slash = strrchr(path, '/');
    const char* last = backslash > slash ? backslash : slash;
    size_t folder = last ? (size_t)(last - path) + 1 : 0;
    memcpy(sibling, path, folder);
    snprintf(sibling + folder, kTemporaryNameLength + 1, "%s%05u.tmp", prefix, number);
}

const char kStagedPrefix[] = "~vn";
const char kBackupPrefix[] = "~vb";

struct FileSink {
    FILE* file;
    CopyProgressHandle window;
    int64_t written;
    const char* path;        // the destination the file is staged for
    const unsigned* number;  // of its "~vn" name
};

// Tests only: bytes the walks may still write before the disk counts as
// full; negative: no limit.
int64_t g_space_for_testing = -1;

int WriteBlock(void* context, const unsigned char* data, size_t length, int32_t consumed) {
    FileSink* sink = (FileSink*)context;
    if (g_space_for_testing >= 0) {
        if ((int64_t)length > g_space_for_testing) return -1;
        g_space_for_testing -= (int64_t)length;
    }
    if (fwrite(data, 1, length, sink->file) != length) return -1;
    sink->written += (int64_t)length;
    if (sink->window) {
        SetCopyProgressFilePosition(sink->window, (int32_t)(sink->written / kBlockSize));
        SetCopyProgressTotalPosition(sink->window, consumed / kBlockSize);
    }
    PumpMessages();
    return 0;
}

// The destination length the header walk holds every name to. Names are
// joined to the destination only where they are written: the setup pass
// writes the top-level setup files alone (and checks each as it goes), so
// there the rest of the payload meets the name rules but not the length of
// the work folder's path, which says nothing about the game's folder.
size_t CheckedDestinationLength(const char* destination, ExtractPass pass) {
    return pass == kSetupPass ? 0 : strlen(destination);
}

}  // namespace

bool IsSetupFile(const char* name) {
    // Only top-level files: the setup pass creates no folders, and a file
    // inside one would have nowhere to go in the work folder.
    if (FindChar(name, '\\')) return false;
    for (const char* pattern : kSetupPatterns) {
        if (NameMatches(name, pattern)) return true;
    }
    return false;
}

bool NameMatches(const char* name, const char* pattern) {
    char lower_name[kPathCapacity];
    char lower_pattern[kPathCapacity];
    CopyText(lower_name, sizeof lower_name, name);
    CopyText(lower_pattern, sizeof lower_pattern, pattern);
    LowerCaseCp932(lower_name);
    LowerCaseCp932(lower_pattern);
    return FindText(lower_name, lower_pattern) != nullptr;
}

InflateResult InflateEntryData(FILE* stream, uint32_t compressed_size, uint32_t stated_size,
                               unsigned char* input, unsigned char* output, BlockSink sink,
                               void* context, int32_t* consumed) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit_(&z, kZlibVersion, (int)sizeof(z_stream)) != Z_OK) return kInflateDamaged;
    z.next_out = output;
    z.avail_out = kBlockSize;
    uint32_t remaining = compressed_size;
    uint32_t sent = 0;  // bytes handed to the sink
    InflateResult outcome = kInflateOk;
    int result;
    for (;;) {
        if (z.avail_in == 0 && remaining > 0) {
            uint32_t request = remaining < (uint32_t)kBlockSize ? remaining : (uint32_t)kBlockSize;
            remaining -= request;
            *consumed += (int32_t)request;
            z.next_in = input;
            z.avail_in = (uInt)fread(input, 1, request, stream);
        }
        result = inflate(&z, Z_NO_FLUSH);
        uint32_t pending = kBlockSize - z.avail_out;
        if (pending > stated_size - sent) {
            outcome = kInflateWrongSize;
            break;
        }
        if (result == Z_STREAM_END) break;
        // Also the end of a cut-off stream: with no input left inflate
        // reports that it cannot go on.
        if (result != Z_OK) {
            outcome = kInflateDamaged;
            break;
        }
        if (z.avail_out > 0) continue;
        if (sink(context, output, kBlockSize, *consumed) != 0) {
            outcome = kInflateDamaged;
            break;
        }
        sent += kBlockSize;
        z.next_out = output;
        z.avail_out = kBlockSize;
    }
    if (outcome == kInflateOk) {
        uint32_t last = kBlockSize - z.avail_out;
        // The stated size exactly, and nothing of the stream's bytes left.
        if (sent + last != stated_size || z.avail_in != 0 || remaining != 0) {
            outcome = kInflateWrongSize;
        } else if (last > 0 && sink(context, output, last, *consumed) != 0) {
            outcome = kInflateDamaged;
        }
    }
    if (inflateEnd(&z) != Z_OK && outcome == kInflateOk) outcome = kInflateDamaged;
    return outcome;
}

namespace {

// What one walk has put on disk, in walk order: the folders it created and
// the files it staged, each with its destination. Undoing it in reverse order
// empties every created folder before its own removal is tried.
enum StagedState {
    kFolderCreated,  // a folder this walk made
    kStaged,         // the new file waits under its "~vn" name
    kMovedAside,     // the old file waits under its "~vb" name, the new one is still staged
    kInPlace,        // the new file has the destination name (the old one, if any, is aside)
};
struct StagedItem {
    StagedState state;
    size_t path;         // offset of the destination path in the text store
    size_t name;         // offset of the entry name, for the fault report
    int32_t offset;      // of the entry, for the fault report
    unsigned temporary;  // number of the "~vn" name
    unsigned backup;     // number of the "~vb" name, when has_backup
    bool has_backup;
};
struct StagedList {
    StagedItem* items;
    size_t count, capacity;
    char* text;  // the zero-terminated paths and names of the items
    size_t text_length, text_capacity;
};

// The walk's list lives here rather than on its stack because a quit message
// taken by the pump ends the process from inside the walk; the exit handler
// then needs it to leave the game folder as it was.
StagedList g_staged;

size_t StoreText(StagedList* list, const char* text) {
    size_t length = strlen(text) + 1;
    list->text = (char*)GrowBlock(list->text, list->text_length, &list->text_capacity,
                                  list->text_length + length, 1);
    memcpy(list->text + list->text_length, text, length);
    size_t offset = list->text_length;
    list->text_length += length;
    return offset;
}

StagedItem* AddStaged(StagedList* list, StagedState state, const char* path,
                      const PayloadEntryHeader* entry) {
    list->items = (StagedItem*)GrowBlock(list->items, list->count, &list->capacity, list->count + 1,
                                         sizeof(StagedItem));
    StagedItem* item = &list->items[list->count++];
    memset(item, 0, sizeof *item);
    item->state = state;
    item->path = StoreText(list, path);
    item->name = StoreText(list, entry->name);
    item->offset = entry->offset;
    return item;
}

void FreeStaged(StagedList* list) {
    free(list->items);
    free(list->text);
    memset(list, 0, sizeof *list);
}

// Puts everything back as it was before the walk: old files return from their
// backups, new files and staged ones go, created folders go when empty.
void RollBackStaged(StagedList* list) {
    char sibling[kOutputPathCapacity];
    for (size_t i = list->count; i-- > 0;) {
        const StagedItem* item = &list->items[i];
        const char* path = list->text + item->path;
        if (item->state == kFolderCreated) {
            OsRemoveFolder(path);
            continue;
        }
        if (item->state == kInPlace && !item->has_backup) OsDeleteFile(path);
        // A backup is named before its move: only a file moved aside comes back.
        if (item->has_backup && item->state != kStaged) {
            RebuildSiblingPath(path, kBackupPrefix, item->backup, sibling);
            OsReplaceFile(sibling, path);
        }
        if (item->state != kInPlace) {
            RebuildSiblingPath(path, kStagedPrefix, item->temporary, sibling);
            OsDeleteFile(sibling);
        }
    }
    FreeStaged(list);
}

// The commit step (counted from 1) that fails as if the system had refused
// it; 0 for none. Tests only.
int g_commit_fault_step = 0;
int g_commit_step = 0;

int CommitReplace(const char* from, const char* to) {
    JournalKillPoint();  // journal hook
    if (++g_commit_step == g_commit_fault_step) return -1;
    return OsReplaceFile(from, to);
}

// Each try at a free backup name counts as a step of its own.
OsCreateResult CommitMoveToNewName(const char* from, const char* to) {
    JournalKillPoint();  // journal hook
    if (++g_commit_step == g_commit_fault_step) return kOsCreateFailed;
    return OsMoveToNewName(from, to);
}

// Journal hook: the backup a retry takes is noted (and on the disk) before
// the move.
struct AsideMove {
    const char* path;
    const unsigned* number;
    uint32_t item;
};
OsCreateResult MoveAside(const char* backup, void* context) {
    const AsideMove* aside = (const AsideMove*)context;
    if (JournalNote(kJournalBackup, aside->path, *aside->number, aside->item) != 0)
        return kOsCreateFailed;
    return CommitMoveToNewName(aside->path, backup);
}

// Moves every staged file over its destination, each old file first aside to
// a backup, then deletes the backups. Nothing here pumps messages, so no quit
// can end the process halfway. 0, or the index of the item that could not be
// moved, plus one, negated: the caller rolls back.
long CommitStaged(StagedList* list) {
    char staged[kOutputPathCapacity];
    char backup[kOutputPathCapacity];
    g_commit_step = 0;
    // Journal hook: every backup's name is noted, and the journal is on the
    // disk, before the first move.
    for (size_t i = 0; i < list->count; ++i) {
        StagedItem* item = &list->items[i];
        if (item->state != kStaged) continue;
        const char* path = list->text + item->path;
        if (OsGetPathKind(path) != kOsFile) continue;
        // Windows would move a read-only file aside but never delete its
        // backup: refuse it, as a plain replace always did.
        if (OsIsReadOnly(path)) return -(long)i - 1;
        item->has_backup = true;
        item->backup = g_next_sibling_number;
        g_next_sibling_number = (g_next_sibling_number + 1) % kSiblingNumbers;
        if (JournalNote(kJournalBackup, path, item->backup, (uint32_t)i) != 0) return -(long)i - 1;
    }
    if (JournalNote(kJournalCommitting) != 0) return list->count ? -1 : 0;
    for (size_t i = 0; i < list->count; ++i) {
        StagedItem* item = &list->items[i];
        if (item->state != kStaged) continue;
        const char* path = list->text + item->path;
        if (item->has_backup) {
            RebuildSiblingPath(path, kBackupPrefix, item->backup, backup);
            OsCreateResult moved = CommitMoveToNewName(path, backup);
            // Something else has the name: another, noted first.
            AsideMove aside = {path, &item->backup, (uint32_t)i};
            if (moved == kOsAlreadyExists &&
                TakeSiblingName(path, kBackupPrefix, backup, &item->backup, MoveAside, &aside))
                moved = kOsCreated;
            if (moved != kOsCreated) return -(long)i - 1;
            item->state = kMovedAside;
        }
        RebuildSiblingPath(path, kStagedPrefix, item->temporary, staged);
        if (CommitReplace(staged, path) != 0) return -(long)i - 1;
        item->state = kInPlace;
    }
    if (JournalNote(kJournalCommitted) != 0) return 0;  // in place all the same
    // The update is in place; a backup that cannot be deleted (held open by
    // another program) only costs its space.
    for (size_t i = 0; i < list->count; ++i) {
        const StagedItem* item = &list->items[i];
        if (!item->has_backup) continue;
        RebuildSiblingPath(list->text + item->path, kBackupPrefix, item->backup, backup);
        JournalKillPoint();  // journal hook
        OsDeleteFile(backup);
    }
    return 0;
}

// The temporary file being written, if any. A quit message taken by the pump
// during a write ends the process at once; the handler below then removes the
// unfinished file and every file staged before it, so the game folder keeps
// its old files and no stray one.
FILE* g_in_flight_file = nullptr;

// Told of each file a walk has put in place, once the whole walk succeeded.
void (*g_placed)(const char* path) = nullptr;
char g_in_flight_path[kOutputPathCapacity];

void RemoveFileInFlight() {
    if (g_in_flight_file) {
        fclose(g_in_flight_file);
        g_in_flight_file = nullptr;
        OsDeleteFile(g_in_flight_path);
    }
    RollBackStaged(&g_staged);
    JournalEnd();  // journal hook
}

void TrackFileInFlight(FILE* file, const char* path) {
    static bool registered = false;
    if (!registered) registered = atexit(RemoveFileInFlight) == 0;
    if (file) CopyText(g_in_flight_path, sizeof g_in_flight_path, path);
    g_in_flight_file = file;
}

OsCreateResult CreateSinkFile(const char* temporary, void* context) {
    FileSink* sink = (FileSink*)context;
    // Journal hook: a free name is noted before it is made; withdrawn when
    // another program took it in between.
    int free_name = JournalNoteStaged(sink->path, temporary, *sink->number);
    if (free_name <= 0) return free_name == 0 ? kOsAlreadyExists : kOsCreateFailed;
    OsCreateResult created;
    sink->file = OsCreateNewFile(temporary, &created);
    if (created != kOsCreated && JournalNote(kJournalUndo) != 0) return kOsCreateFailed;
    return created;
}

// Writes one file entry; the stream stands at its data. A file the game
// does not have yet is created under its own name: one look-up of a name
// that does not exist, where a staged file takes two (its creation and the
// move onto the name), and the roll-back deletes it like any file the walk
// put in place. Otherwise the entry is inflated into a temporary sibling of
// path and the game file is not touched until the commit. Either is given
// the stored time. Only a stream that ended cleanly is added to the list; on
// failure the file written is deleted. consumed is the count of archive bytes
// up to the data (for bar 1019). 0 on success, 1 on failure.
int ExtractEntry(FILE* stream, const PayloadEntryHeader* entry, const char* path,
                 const ExtractBuffers* buffers, CopyProgressHandle window, int32_t consumed) {
    char temporary[kOutputPathCapacity];
    unsigned number = 0;
    FileSink sink = {nullptr, window, 0, path, &number};
    int fresh = JournalNoteNewFile(path);  // journal hook
    if (fresh < 0) return 1;
    if (fresh) {
        sink.file = OsCreateNewFile(path);
        if (!sink.file && JournalNote(kJournalUndo) != 0) return 1;  // journal hook
    }
    bool staged = sink.file == nullptr;
    if (staged && !TakeSiblingName(path, kStagedPrefix, temporary, &number, CreateSinkFile, &sink))
        return 1;
    const char* written = staged ? temporary : path;
    // Each block goes to the system in one write: a buffer would split the
    // last one in three.
    setvbuf(sink.file, nullptr, _IONBF, 0);
    TrackFileInFlight(sink.file, written);
    if (window) {
        SetCopyProgressFileName(window, path);
        SetCopyProgressFileRange(window, (int32_t)(entry->uncompressed_size / kBlockSize));
        SetCopyProgressFilePosition(window, 0);
    }
    InflateResult inflated =
        InflateEntryData(stream, entry->compressed_size, entry->uncompressed_size, buffers->input,
                         buffers->output, WriteBlock, &sink, &consumed);
    // The stored time, through the open file: setting it by name would look
    // the name up again.
    if (inflated == kInflateOk) OsSetFileTime(sink.file, entry->filetime);
    TrackFileInFlight(nullptr, nullptr);
    bool closed = fclose(sink.file) == 0;
    if (inflated == kInflateOk && closed) {
        AddStaged(&g_staged, staged ? kStaged : kInPlace, path, entry)->temporary = number;
        return 0;
    }
    OsDeleteFile(written);
    return 1;
}

int WalkEntries(const PayloadArchive* archive, const ExtractTarget* target,
                const ExtractBuffers* buffers, ArchiveFault* fault) {
    ArchiveCursor cursor;
    ArchiveBegin(archive, &cursor);
    size_t destination_length = strlen(target->destination);
    int32_t consumed = 0;
    PayloadEntryHeader entry;
    char path[kOutputPathCapacity];
    char checked[kNameFieldCapacity] = "";
    int step;
    while ((step = ArchiveNextEntry(&cursor, &entry, fault)) == 1) {
        consumed += 2 + entry.name_length + kEntrySizesLength;
        if (target->pass == kSetupPass) {
            if (entry.is_folder) {
                // The first nested folder ends the pass: the setup files lie before it.
                const char* first = FindChar(entry.name, '\\');
                if (first && first[1] == '\0') continue;
                return 0;
            }
            if (!IsSetupFile(entry.name)) continue;
        }
        const char* reason = nullptr;
        if (!IsSafeEntryName(entry.name, entry.is_folder, destination_length, &reason))
            return ReportArchiveFault(fault, reason, entry.offset, entry.name);
        if (!BuildOutputPath(target, entry.name, path))
            return ReportArchiveFault(fault, "name cannot be written here", entry.offset,
                                      entry.name);
        if (CrossesLink(target, entry.name, checked))
            return ReportArchiveFault(fault, "a folder of the name is a link in the destination",
                                      entry.offset, entry.name);
        if (entry.is_folder) {
            // An existing folder is fine. One that cannot be made (no parent,
            // a file of its name) fails the walk here: an empty folder would
            // otherwise be missing from an update that reports success.
            // Journal hook: a folder that is not there yet is noted first.
            bool noted = OsGetPathKind(path) == kOsMissing;
            if (noted && JournalNote(kJournalFolder, path) != 0)
                return ReportArchiveFault(fault, "cannot write the journal", entry.offset,
                                          entry.name);
            OsCreateResult created = OsCreateFolder(path);
            if (noted && created != kOsCreated && JournalNote(kJournalUndo) != 0)
                return ReportArchiveFault(fault, "cannot write the journal", entry.offset,
                                          entry.name);
            if (created == kOsCreated) {
                AddStaged(&g_staged, kFolderCreated, path, &entry);
            } else if (created != kOsAlreadyExists || OsGetPathKind(path) != kOsFolder) {
                return ReportArchiveFault(fault, "cannot create the folder", entry.offset,
                                          entry.name);
            }
            continue;
        }
        consumed += kEntryTimeLength;
        if (ExtractEntry(archive->stream, &entry, path, buffers, target->window, consumed) != 0)
            return ReportArchiveFault(
                fault, "cannot extract (damaged data, or the file cannot be written)", entry.offset,
                entry.name);
        consumed += (int32_t)entry.compressed_size;
    }
    return step == 0 ? 0 : -1;
}

}  // namespace

void SetCommitFaultForTesting(int step) {
    g_commit_fault_step = step;
}

void SetDiskSpaceForTesting(int64_t bytes) {
    g_space_for_testing = bytes;
}

int WalkArchive(const PayloadArchive* archive, const ExtractTarget* target, ArchiveFault* fault) {
    // Allocated once per walk instead of once per file: two fresh 128 KiB
    // mappings (and their page faults) per file dominated payloads of many
    // small files.
    ExtractBuffers buffers;
    StartSiblingNumbers();
    // Journal hook: a copy into the game's folder keeps a journal from its
    // first write to its end.
    if (target->pass == kCopyPass && JournalBegin(target->destination) != 0)
        return ReportArchiveFault(
            fault, "cannot write the journal (an interrupted update there is not repaired)", 0,
            kJournalName);
    buffers.input = (unsigned char*)AllocOrAbort(kBlockSize);
    buffers.output = (unsigned char*)AllocOrAbort(kBlockSize);
    int result = WalkEntries(archive, target, &buffers, fault);
    free(buffers.input);
    free(buffers.output);
    if (result == 0) {
        long failed = CommitStaged(&g_staged);
        if (failed != 0) {
            const StagedItem* item = &g_staged.items[-failed - 1];
            result = ReportArchiveFault(fault, "cannot replace (the file is in use or read-only)",
                                        item->offset, g_staged.text + item->name);
        }
    }
    if (result == 0) {
        for (size_t i = 0; g_placed && i < g_staged.count; ++i) {
            if (g_staged.items[i].state == kInPlace)
                g_placed(g_staged.text + g_staged.items[i].path);
        }
        FreeStaged(&g_staged);
    } else {
        RollBackStaged(&g_staged);
    }
    JournalEnd();  // journal hook
    return result;
}

int ExtractArchive(const PayloadArchive* archive, const ExtractTarget* target,
                   ArchiveFault* fault) {
    size_t checked = CheckedDestinationLength(target->destination, target->pass);
    if (CheckArchive(archive, checked, fault) != 0) return -1;
    return WalkArchive(archive, target, fault);
}

int ExtractPayload(const char* destination, ExtractPass pass) {
    PayloadArchive archive;
    if (OpenPayloadArchive(&archive) != 0) return -1;
    ExtractTarget target = {destination, pass, nullptr, nullptr};
    // The setup files are the work folder's, removed with it at the end.
    g_placed = pass == kSetupPass ? NoteWorkFile : nullptr;
    int result = CheckArchive(&archive, CheckedDestinationLength(destination, pass), nullptr);
    if (result == 0) {
        if (pass == kCopyPass) target.window = OpenCopyProgress(archive.size);
        result = WalkArchive(&archive, &target, nullptr);
        CloseCopyProgress();
    }
    g_placed = nullptr;
    return result;
}

// The extraction engine: the setup and copy passes over the payload archive.
#include "payload/extract.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "base/alloc.h"
#include "base/platform.h"
#include "base/text.h"
#include "config/setup_files.h"
#include "payload/journal.h"

namespace {

// The files the setup pass takes into the work folder.
const char* const kSetupPatterns[] = {kTitlePictureName, kSettingsFileName, kReadmePattern};

// Paths handed to the platform. Without a path builder they never exceed
// 259 bytes (CheckArchive enforces it); a builder may lengthen the names.
enum { kOutputPathCapacity = 4 * kPathCapacity };

// The zlib the first updaters were built with; inflateInit_ checks only the
// major version, so any zlib 1.x accepts it.
const char kZlibVersion[] = "1.2.3";

// destination + '\' + name, or what the target's path builder makes of them:
// the path the walk reports, and the path of the destination it holds.
bool BuildOutputPath(const ExtractTarget* target, const char* name, char* path) {
    if (target->build_path)
        return target->build_path(target->destination, name, path, kOutputPathCapacity);
    if (!CopyText(path, kOutputPathCapacity, target->destination)) return false;
    if (*path && *name) AppendSeparator(path, kOutputPathCapacity);
    return AppendText(path, kOutputPathCapacity, name);
}

// One component of an entry name as the platform takes it inside a held
// folder: itself, or what the target's path builder makes of it.
bool BuildLeafName(const ExtractTarget* target, const char* component, char* leaf) {
    if (target->build_path) return target->build_path("", component, leaf, kOutputPathCapacity);
    return CopyText(leaf, kOutputPathCapacity, component);
}

// The number of the next sibling name a walk takes. Each walk starts at a
// random number and counts on, so that its own names, all on disk at once
// until the commit ends, never stand in each other's way: only files another
// run left behind are ever skipped.
unsigned NextSibling(StagedList* list) {
    unsigned number = list->next_sibling;
    list->next_sibling = (number + 1) % kSiblingNumbers;
    return number;
}

// Takes a free name of the form prefix + "%05u.tmp" in a held folder for a
// new file: take(sibling, context) creates or moves something there only
// when nothing has the name, and the next number is tried while it says
// kOsAlreadyExists, through every number before giving up. No test before
// the take: under Wine each look-up of a name that does not exist reads the
// whole folder.
bool TakeSiblingName(StagedList* list, const char* prefix, char* sibling, unsigned* number,
                     OsCreateResult (*take)(const char* sibling, void* context), void* context) {
    for (unsigned attempt = 0; attempt < kSiblingNumbers; ++attempt) {
        *number = NextSibling(list);
        SiblingName(prefix, *number, sibling);
        OsCreateResult taken = take(sibling, context);
        if (taken != kOsAlreadyExists) return taken == kOsCreated;
    }
    return false;
}

// One walk: what it was given and what it holds while it runs.
struct Walk {
    const PayloadArchive* archive;
    const ExtractTarget* target;
    ExtractEvents events;
    StagedList* list;
    ExtractBuffers buffers;
    int64_t space;  // bytes the disk still takes (ExtractFaults); negative: no limit
};

struct FileSink {
    FILE* file;
    Walk* walk;
    int64_t written;
    bool quit;  // the pump took a quit message
};

int WriteBlock(void* context, const unsigned char* data, size_t length, int32_t consumed) {
    FileSink* sink = (FileSink*)context;
    Walk* walk = sink->walk;
    if (walk->space >= 0) {
        if ((int64_t)length > walk->space) return -1;
        walk->space -= (int64_t)length;
    }
    if (fwrite(data, 1, length, sink->file) != length) return -1;
    sink->written += (int64_t)length;
    const ExtractEvents& events = walk->events;
    if (events.progress)
        events.progress(events.context, (int32_t)(sink->written / kBlockSize),
                        consumed / kBlockSize);
    if (events.pump && !events.pump(events.context, &walk->list->quit_code)) {
        sink->quit = true;
        return -1;
    }
    return 0;
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

// What one walk has put on disk, in walk order: the folders it created and
// the files it staged, each with its held folder and its name there. Undoing
// it in reverse order empties every created folder before its own removal is
// tried.
enum StagedState {
    kFolderCreated,  // a folder this walk made
    kStaged,         // the new file waits under its "~vn" name
    kMovedAside,     // the old file waits under its "~vb" name, the new one is still staged
    kInPlace,        // the new file has the destination name (the old one, if any, is aside)
};
struct StagedItem {
    StagedState state;
    size_t folder;       // index of the held folder the item lies in
    size_t leaf;         // offset of its name there in the text store
    size_t path;         // offset of its whole path (for the report and the work folder's list)
    size_t name;         // offset of the entry name, for the fault report
    size_t made;         // kFolderCreated: index of the held folder it is
    int32_t offset;      // of the entry, for the fault report
    unsigned temporary;  // number of the "~vn" name
    unsigned backup;     // number of the "~vb" name, when has_backup
    bool has_backup;
};
// The folders of one walk, each held from the first entry that enters it to
// the end of the commit: nothing can rename one or put a link in its place,
// and every name is looked up inside a held folder, never along a path again.
// Index 0 is the destination itself.
struct HeldFolder {
    size_t path;  // offset of the folder's entry name ("" for the destination)
    OsFolderHold* hold;
    bool owned;  // released by the walk (the destination may be the caller's)
};

namespace {

size_t StoreText(StagedList* list, const char* text) {
    size_t length = strlen(text) + 1;
    list->text = (char*)GrowBlock(list->text, list->text_length, &list->text_capacity,
                                  list->text_length + length, 1);
    memcpy(list->text + list->text_length, text, length);
    size_t offset = list->text_length;
    list->text_length += length;
    return offset;
}

StagedItem* AddStaged(StagedList* list, StagedState state, size_t folder, const char* leaf,
                      const char* path, const PayloadEntryHeader* entry) {
    list->items = (StagedItem*)GrowBlock(list->items, list->count, &list->capacity, list->count + 1,
                                         sizeof(StagedItem));
    StagedItem* item = &list->items[list->count++];
    memset(item, 0, sizeof *item);
    item->state = state;
    item->folder = folder;
    item->leaf = StoreText(list, leaf);
    item->path = StoreText(list, path);
    item->name = StoreText(list, entry->name);
    item->offset = entry->offset;
    return item;
}

size_t AddHeldFolder(StagedList* list, const char* path, OsFolderHold* hold, bool owned) {
    list->folders = (HeldFolder*)GrowBlock(list->folders, list->folder_count,
                                           &list->folder_capacity, list->folder_count + 1,
                                           sizeof(HeldFolder));
    HeldFolder* folder = &list->folders[list->folder_count];
    folder->path = StoreText(list, path);
    folder->hold = hold;
    folder->owned = owned;
    return list->folder_count++;
}

OsFolderHold* HoldOf(const StagedList* list, size_t folder) {
    return list->folders[folder].hold;
}

void ReleaseHeld(StagedList* list, size_t folder) {
    HeldFolder* held = &list->folders[folder];
    if (held->owned) OsReleaseFolder(held->hold);
    held->hold = nullptr;
}

// Releases every held folder, the deepest first.
void FreeStaged(StagedList* list) {
    for (size_t i = list->folder_count; i-- > 0;) ReleaseHeld(list, i);
    free(list->items);
    free(list->folders);
    free(list->text);
    list->items = nullptr;
    list->folders = nullptr;
    list->text = nullptr;
    list->count = list->capacity = list->folder_count = list->folder_capacity = 0;
    list->text_length = list->text_capacity = 0;
}

// The held folder of an entry's folder part (folder_length bytes of name; 0
// for the destination), held now if no entry entered it before: each
// component inside its parent, made when create says so. A component that is
// a link, or not a folder, is refused. Returns its index, or -1.
long EnterFolder(StagedList* list, const ExtractTarget* target, const char* name,
                 size_t folder_length, bool create, const PayloadEntryHeader* entry) {
    // Entries of one folder follow each other: the newest folders first.
    for (size_t i = list->folder_count; i-- > 0;) {
        const char* held = list->text + list->folders[i].path;
        if (strlen(held) == folder_length && memcmp(held, name, folder_length) == 0) return (long)i;
    }
    const char* last = nullptr;
    for (const char* p = name; p < name + folder_length; p += CharLength(p)) {
        if (*p == '\\') last = p;
    }
    size_t parent_length = last ? (size_t)(last - name) : 0;
    long parent = EnterFolder(list, target, name, parent_length, false, entry);
    if (parent < 0) return -1;
    char component[kNameFieldCapacity];
    char leaf[kOutputPathCapacity];
    char path[kNameFieldCapacity];
    const char* begin = last ? last + 1 : name;
    size_t length = (size_t)(name + folder_length - begin);
    if (length >= sizeof component || folder_length >= sizeof path) return -1;
    memcpy(component, begin, length);
    component[length] = '\0';
    memcpy(path, name, folder_length);
    path[folder_length] = '\0';
    char whole[kOutputPathCapacity];
    if (!BuildLeafName(target, component, leaf) || !BuildOutputPath(target, path, whole)) return -1;
    // Journal hook: a folder that is not there yet is noted first.
    OsFolderHold* parent_hold = HoldOf(list, (size_t)parent);
    bool noted = create && OsGetPathKindIn(parent_hold, leaf, nullptr) == kOsMissing;
    if (noted && JournalNote(&list->journal, kJournalFolder, whole) != 0) return -1;
    bool created = false;
    OsFolderHold* hold = OsHoldChildFolder(parent_hold, leaf, create, &created);
    if (noted && !created && JournalNote(&list->journal, kJournalUndo) != 0) {
        OsReleaseFolder(hold);
        return -1;
    }
    if (!hold) return -1;
    size_t index = AddHeldFolder(list, path, hold, true);
    if (created) AddStaged(list, kFolderCreated, (size_t)parent, leaf, whole, entry)->made = index;
    return (long)index;
}

// Puts everything back as it was before the walk: old files return from their
// backups, new files and staged ones go, created folders go when empty.
void RollBackStaged(StagedList* list) {
    char sibling[kTemporaryNameLength + 1];
    for (size_t i = list->count; i-- > 0;) {
        const StagedItem* item = &list->items[i];
        OsFolderHold* folder = HoldOf(list, item->folder);
        const char* leaf = list->text + item->leaf;
        if (item->state == kFolderCreated) {
            // Its own hold goes first: held, it cannot be removed.
            ReleaseHeld(list, item->made);
            OsRemoveFolderIn(folder, leaf);
            continue;
        }
        if (item->state == kInPlace && !item->has_backup) OsDeleteFileIn(folder, leaf);
        // A backup is named before its move: only a file moved aside comes back.
        if (item->has_backup && item->state != kStaged) {
            SiblingName(kBackupPrefix, item->backup, sibling);
            OsReplaceFileIn(folder, sibling, leaf);
        }
        if (item->state != kInPlace) {
            SiblingName(kStagedPrefix, item->temporary, sibling);
            OsDeleteFileIn(folder, sibling);
        }
    }
    FreeStaged(list);
}

// A kill point of the journal, and true when this move of the commit is the
// one ExtractFaults refuses (list->commit_step counts down to it).
bool CommitStep(StagedList* list) {
    JournalKillPoint(&list->journal);
    return list->commit_step > 0 && --list->commit_step == 0;
}

int CommitReplace(StagedList* list, OsFolderHold* folder, const char* from, const char* to) {
    return CommitStep(list) ? -1 : OsReplaceFileIn(folder, from, to);
}

// Each try at a free backup name counts as a step of its own.
OsCreateResult CommitMoveToNewName(StagedList* list, OsFolderHold* folder, const char* from,
                                   const char* to) {
    return CommitStep(list) ? kOsCreateFailed : OsMoveToNewNameIn(folder, from, to);
}

// Journal hook: the backup a retry takes is noted (and on the disk) before
// the move.
struct MoveAsideContext {
    StagedList* list;
    OsFolderHold* folder;
    const char* leaf;
    const char* path;
    const unsigned* number;
    uint32_t item;
};
OsCreateResult MoveAside(const char* backup, void* context) {
    const MoveAsideContext* move = (const MoveAsideContext*)context;
    if (JournalNote(&move->list->journal, kJournalBackup, move->path, *move->number,
                    move->item) != 0)
        return kOsCreateFailed;
    return CommitMoveToNewName(move->list, move->folder, move->leaf, backup);
}

// Moves every staged file over its destination, each old file first aside to
// a backup, then deletes the backups. Nothing here pumps messages, so no quit
// can cut it halfway. 0, or the index of the item that could not be
// moved, plus one, negated: the caller rolls back.
long CommitStaged(StagedList* list) {
    char staged[kTemporaryNameLength + 1];
    char backup[kTemporaryNameLength + 1];
    Journal* journal = &list->journal;
    // Journal hook: every backup's name is noted, and the journal is on the
    // disk, before the first move.
    for (size_t i = 0; i < list->count; ++i) {
        StagedItem* item = &list->items[i];
        if (item->state != kStaged) continue;
        bool read_only = false;
        OsPathKind kind = OsGetPathKindIn(HoldOf(list, item->folder), list->text + item->leaf,
                                          &read_only);
        if (kind == kOsFolder) return -(long)i - 1;
        if (kind != kOsFile) continue;
        // Windows would move a read-only file aside but never delete its
        // backup: refuse it, as a plain replace always did.
        if (read_only) return -(long)i - 1;
        item->has_backup = true;
        item->backup = NextSibling(list);
        if (JournalNote(journal, kJournalBackup, list->text + item->path, item->backup,
                        (uint32_t)i) != 0)
            return -(long)i - 1;
    }
    if (JournalNote(journal, kJournalCommitting) != 0) return list->count ? -1 : 0;
    for (size_t i = 0; i < list->count; ++i) {
        StagedItem* item = &list->items[i];
        if (item->state != kStaged) continue;
        OsFolderHold* folder = HoldOf(list, item->folder);
        const char* leaf = list->text + item->leaf;
        if (item->has_backup) {
            SiblingName(kBackupPrefix, item->backup, backup);
            OsCreateResult moved = CommitMoveToNewName(list, folder, leaf, backup);
            // Something else has the name: another, noted first.
            MoveAsideContext move = {list, folder, leaf, list->text + item->path, &item->backup,
                                     (uint32_t)i};
            if (moved == kOsAlreadyExists &&
                TakeSiblingName(list, kBackupPrefix, backup, &item->backup, MoveAside, &move))
                moved = kOsCreated;
            if (moved != kOsCreated) return -(long)i - 1;
            item->state = kMovedAside;
        }
        SiblingName(kStagedPrefix, item->temporary, staged);
        if (CommitReplace(list, folder, staged, leaf) != 0) return -(long)i - 1;
        item->state = kInPlace;
    }
    if (JournalNote(journal, kJournalCommitted) != 0) return 0;  // in place all the same
    // The update is in place; a backup that cannot be deleted (held open by
    // another program) only costs its space.
    for (size_t i = 0; i < list->count; ++i) {
        const StagedItem* item = &list->items[i];
        if (!item->has_backup) continue;
        SiblingName(kBackupPrefix, item->backup, backup);
        JournalKillPoint(journal);
        OsDeleteFileIn(HoldOf(list, item->folder), backup);
    }
    return 0;
}

struct SinkCreation {
    FileSink* sink;
    OsFolderHold* folder;
    const char* path;        // the destination the file is staged for
    const unsigned* number;  // of its "~vn" name
};

OsCreateResult CreateSinkFile(const char* temporary, void* context) {
    SinkCreation* creation = (SinkCreation*)context;
    Journal* journal = &creation->sink->walk->list->journal;
    // Journal hook: a free name is noted before it is made; withdrawn when
    // another program took it in between.
    int free_name = JournalNoteStaged(journal, creation->path, *creation->number);
    if (free_name <= 0) return free_name == 0 ? kOsAlreadyExists : kOsCreateFailed;
    OsCreateResult created;
    creation->sink->file = OsCreateNewFileIn(creation->folder, temporary, &created);
    if (created != kOsCreated && JournalNote(journal, kJournalUndo) != 0) return kOsCreateFailed;
    return created;
}

enum EntryResult { kEntryWritten, kEntryFailed, kEntryQuit };

// Writes one file entry into its held folder under leaf; the stream stands
// at its data. A file the game does not have yet is created under its own
// name: one look-up of a name that does not exist, where a staged file takes
// two (its creation and the move onto the name), and the roll-back deletes it
// like any file the walk put in place. Otherwise the entry is inflated into a
// temporary sibling and the game file is not touched until the commit.
// Either is given the stored time. Only a stream that ended cleanly is added
// to the list; on failure or a quit the file written is deleted at once.
EntryResult ExtractEntry(Walk* walk, const PayloadEntryHeader* entry, size_t folder,
                         const char* leaf, const char* path) {
    StagedList* list = walk->list;
    char temporary[kTemporaryNameLength + 1];
    unsigned number = 0;
    OsFolderHold* hold = HoldOf(list, folder);
    OsCreateResult created = kOsAlreadyExists;
    FileSink sink = {nullptr, walk, 0, false};
    int fresh = JournalNoteNewFile(&list->journal, path);  // journal hook
    if (fresh < 0) return kEntryFailed;
    if (fresh) {
        sink.file = OsCreateNewFileIn(hold, leaf, &created);
        if (!sink.file && JournalNote(&list->journal, kJournalUndo) != 0) return kEntryFailed;
    }
    bool staged = sink.file == nullptr;
    SinkCreation creation = {&sink, hold, path, &number};
    if (staged &&
        (created != kOsAlreadyExists ||
         !TakeSiblingName(list, kStagedPrefix, temporary, &number, CreateSinkFile, &creation)))
        return kEntryFailed;
    const char* written = staged ? temporary : leaf;
    // Each block goes to the system in one write: a buffer would split the
    // last one in three.
    setvbuf(sink.file, nullptr, _IONBF, 0);
    const ExtractEvents& events = walk->events;
    if (events.file_begun)
        events.file_begun(events.context, path, (int32_t)(entry->uncompressed_size / kBlockSize));
    // The archive's bytes up to this stream, as the cursor stepped over them.
    int32_t consumed = entry->data_offset - walk->archive->offset;
    InflateResult inflated = InflateEntryData(
        walk->archive->stream, entry->compressed_size, entry->uncompressed_size,
        walk->buffers.input, walk->buffers.output, WriteBlock, &sink, &consumed);
    // The stored time, through the open file: setting it by name would look
    // the name up again.
    if (inflated == kInflateOk) OsSetFileTime(sink.file, entry->filetime);
    bool closed = fclose(sink.file) == 0;
    if (inflated == kInflateOk && closed) {
        AddStaged(list, staged ? kStaged : kInPlace, folder, leaf, path, entry)->temporary = number;
        return kEntryWritten;
    }
    OsDeleteFileIn(hold, written);
    return sink.quit ? kEntryQuit : kEntryFailed;
}

// Why the walk refuses an entry, or null when it was written (or skipped).
// *quit: the pump took a quit message while it was written.
const char* WalkEntry(Walk* walk, const PayloadEntryHeader* entry, bool* quit) {
    const ExtractTarget* target = walk->target;
    StagedList* list = walk->list;
    char path[kOutputPathCapacity];
    char leaf[kOutputPathCapacity];
    const char* reason = nullptr;
    if (!IsSafeEntryName(entry->name, entry->is_folder, strlen(target->destination), &reason))
        return reason;
    if (!BuildOutputPath(target, entry->name, path)) return "name cannot be written here";
    if (entry->is_folder) {
        // An existing folder is fine. One that cannot be made (no parent,
        // a file of its name) fails the walk here: an empty folder would
        // otherwise be missing from an update that reports success.
        size_t length = strlen(entry->name) - 1;  // without the closing backslash
        if (EnterFolder(list, target, entry->name, length, true, entry) < 0)
            return "cannot create the folder, or it is a link";
        return nullptr;
    }
    const char* last = FindLastChar(entry->name, '\\');
    size_t folder_length = last ? (size_t)(last - entry->name) : 0;
    long folder = EnterFolder(list, target, entry->name, folder_length, false, entry);
    if (folder < 0) return "a folder of the name is a link in the destination";
    if (!BuildLeafName(target, last ? last + 1 : entry->name, leaf))
        return "name cannot be written here";
    EntryResult written = ExtractEntry(walk, entry, (size_t)folder, leaf, path);
    *quit = written == kEntryQuit;
    if (written == kEntryWritten || *quit) return nullptr;
    return "cannot extract (damaged data, or the file cannot be written)";
}

ExtractResult WalkEntries(Walk* walk, ArchiveFault* fault) {
    ArchiveCursor cursor;
    ArchiveBegin(walk->archive, &cursor);
    PayloadEntryHeader entry;
    int step;
    while ((step = ArchiveNextEntry(&cursor, &entry, fault)) == 1) {
        if (walk->target->pass == kSetupPass) {
            if (entry.is_folder) {
                // The first nested folder ends the pass: the setup files lie before it.
                const char* first = FindChar(entry.name, '\\');
                if (first && first[1] == '\0') continue;
                return kExtractDone;
            }
            if (!IsSetupFile(entry.name)) continue;
        }
        bool quit = false;
        const char* refusal = WalkEntry(walk, &entry, &quit);
        if (quit) return kExtractQuit;
        if (refusal) {
            ReportArchiveFault(fault, refusal, entry.offset, entry.name);
            return kExtractFailed;
        }
    }
    return step == 0 ? kExtractDone : kExtractFailed;
}

// Holds the destination, opens the journal and walks; then commits, or puts
// everything back as it was.
ExtractResult WalkArchive(Walk* walk, ArchiveFault* fault) {
    const ExtractTarget* target = walk->target;
    StagedList* list = walk->list;
    const ExtractFaults* faults = target->faults;
    // The destination itself is the first held folder: the caller's, or
    // held here for the walk. It must not be a link.
    OsFolderHold* root = target->root;
    if (!root) {
        char path[kOutputPathCapacity];
        if (!BuildOutputPath(target, "", path) || !(root = OsHoldFolder(path))) {
            ReportArchiveFault(fault, "the destination is not a folder, or is a link", 0, "");
            return kExtractFailed;
        }
    }
    AddHeldFolder(list, "", root, !target->root);
    list->next_sibling = (faults ? faults->first_sibling : OsRandomNumber()) % kSiblingNumbers;
    list->journal.kill_step = faults ? faults->kill_step : 0;
    // Journal hook: a copy into the game's folder keeps a journal from its
    // first write to its end.
    if (target->pass == kCopyPass && JournalBegin(&list->journal, target->destination) != 0) {
        FreeStaged(list);
        ReportArchiveFault(fault,
                           "cannot write the journal (an interrupted update there is not repaired)",
                           0, kJournalName);
        return kExtractFailed;
    }
    // Allocated once per walk instead of once per file: two fresh 128 KiB
    // mappings (and their page faults) per file dominated payloads of many
    // small files.
    walk->buffers.input = (unsigned char*)AllocOrAbort(kBlockSize);
    walk->buffers.output = (unsigned char*)AllocOrAbort(kBlockSize);
    ExtractResult result = WalkEntries(walk, fault);
    free(walk->buffers.input);
    free(walk->buffers.output);
    if (result == kExtractDone) {
        list->commit_step = faults ? faults->commit_fault_step : 0;
        long failed = CommitStaged(list);
        if (failed != 0) {
            const StagedItem* item = &list->items[-failed - 1];
            ReportArchiveFault(fault, "cannot replace (the file is in use or read-only)",
                               item->offset, list->text + item->name);
            result = kExtractFailed;
        }
    }
    if (result == kExtractDone) {
        const ExtractEvents& events = walk->events;
        for (size_t i = 0; events.placed && i < list->count; ++i) {
            if (list->items[i].state == kInPlace)
                events.placed(events.context, list->text + list->items[i].path);
        }
        FreeStaged(list);
    } else {
        RollBackStaged(list);
    }
    JournalEnd(&list->journal);  // journal hook
    return result;
}

}  // namespace

ExtractResult ExtractArchive(const PayloadArchive* archive, const ExtractTarget* target,
                             const ExtractEvents* events, StagedList* staged,
                             ArchiveFault* fault) {
    // The destination length the header walk holds every name to. Names are
    // joined to the destination only where they are written: the setup pass
    // writes the top-level setup files alone (and checks each as it goes), so
    // there the rest of the payload meets the name rules but not the length
    // of the work folder's path, which says nothing about the game's folder.
    size_t checked = target->pass == kSetupPass ? 0 : strlen(target->destination);
    if (CheckArchive(archive, checked, fault) != 0) return kExtractFailed;
    Walk walk = {archive, target, {}, staged, {}, target->faults ? target->faults->disk_space : -1};
    if (events) walk.events = *events;
    return WalkArchive(&walk, fault);
}

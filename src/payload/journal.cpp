// The copy pass's journal (see journal.h): writing it, reading it, and the
// repair of a walk that was cut short.
#include "payload/journal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/bytes.h"
#include "base/platform.h"
#include "base/text.h"
#include "filelayer/filelayer.h"
#include "payload/archive.h"

const char kJournalName[] = "~vnjournal.tmp";
const char kStagedPrefix[] = "~vn";
const char kBackupPrefix[] = "~vb";

void SiblingName(const char* prefix, unsigned number, char* sibling) {
    snprintf(sibling, kTemporaryNameLength + 1, "%s%05u.tmp", prefix, number % kSiblingNumbers);
}

bool SiblingPath(const char* path, const char* prefix, unsigned number, char* sibling,
                 size_t capacity) {
    const char* backslash = FindLastChar(path, '\\');
    const char* slash = strrchr(path, '/');
    const char* last = backslash > slash ? backslash : slash;
    size_t folder = last ? (size_t)(last - path) + 1 : 0;
    if (folder + kTemporaryNameLength + 1 > capacity) return false;
    memcpy(sibling, path, folder);
    SiblingName(prefix, number, sibling + folder);
    return true;
}

namespace {

const unsigned char kMagic[4] = {'V', 'N', 'J', '1'};
enum { kRecordHead = 1 + 4 + 4 + 2, kRecordCheck = 4 };


// destination, a separator and name, as the walk joined them.
bool JoinPath(const char* destination, const char* name, char* path, size_t capacity) {
    if (!CopyText(path, capacity, destination)) return false;
    if (*path) AppendSeparator(path, capacity);
    return AppendText(path, capacity, name);
}

bool Exists(const char* path) {
    return OsGetPathKind(path) != kOsMissing;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// True when name, read from a journal that anyone able to write the folder
// could have put there, stays inside destination (NameStaysInside, links on
// the way included), and is no empty name, has no empty component and no
// control character.
bool StaysInside(const char* destination, const char* name) {
    if (!name[0]) return false;
    for (const char* p = name; *p; p += CharLength(p)) {
        if ((*p > 0 && *p < 0x20) || (IsSeparator(*p) && IsSeparator(p[1]))) return false;
    }
    return NameStaysInside(name, destination);
}

}  // namespace

void JournalKillPoint(Journal* journal) {
    if (++journal->steps == journal->kill_step) abort();
}

int JournalBegin(Journal* journal, const char* destination) {
    JournalEnd(journal);
    journal->steps = 0;
    if (!JoinPath(destination, kJournalName, journal->path, sizeof journal->path)) return -1;
    journal->file = OsCreateNewFile(journal->path);
    if (!journal->file) return -1;
    JournalKillPoint(journal);  // the file there, its magic not yet
    journal->destination_length = strlen(destination);
    if (fwrite(kMagic, 1, sizeof kMagic, journal->file) != sizeof kMagic ||
        fflush(journal->file) != 0) {
        JournalEnd(journal);
        return -1;
    }
    return 0;
}

int JournalNote(Journal* journal, JournalRecord type, const char* path, unsigned number,
                uint32_t item) {
    if (!journal->file) return 0;
    JournalKillPoint(journal);
    const char* name = "";
    if (path) {
        // Every path of the walk lies under its destination.
        if (strlen(path) <= journal->destination_length) return -1;
        name = path + journal->destination_length;
        if (*name == '\\' || *name == '/') ++name;
    }
    size_t length = strlen(name);
    if (length >= kJournalNameCapacity) return -1;
    unsigned char record[kRecordHead + kJournalNameCapacity + kRecordCheck];
    record[0] = (unsigned char)type;
    unsigned char* out = PutLe16(PutLe32(PutLe32(record + 1, item), number), (uint32_t)length);
    memcpy(out, name, length);
    PutLe32(out + length, FfCrc32(0, record, kRecordHead + length));
    size_t size = kRecordHead + length + kRecordCheck;
    if (fwrite(record, 1, size, journal->file) != size || fflush(journal->file) != 0) return -1;
    if (type == kJournalCommitting) journal->committing = true;
    return journal->committing ? OsFlushFile(journal->file) : 0;
}

int JournalNoteNewFile(Journal* journal, const char* path) {
    if (!journal->file) return 1;
    // Noted before the creation, never after a failed one: a kill in between
    // must not leave the journal naming the old file of that name as new.
    if (OsGetPathKind(path) != kOsMissing) return 0;
    return JournalNote(journal, kJournalNewFile, path) == 0 ? 1 : -1;
}

int JournalNoteStaged(Journal* journal, const char* path, unsigned number) {
    if (!journal->file) return 1;
    char sibling[4 * kPathCapacity];
    if (!SiblingPath(path, kStagedPrefix, number, sibling, sizeof sibling)) return -1;
    if (OsGetPathKind(sibling) != kOsMissing) return 0;
    return JournalNote(journal, kJournalStaged, path, number) == 0 ? 1 : -1;
}

void JournalEnd(Journal* journal) {
    if (!journal->file) return;
    JournalKillPoint(journal);
    journal->committing = false;
    fclose(journal->file);
    journal->file = nullptr;
    OsDeleteFile(journal->path);
}

void FreeJournalPlan(JournalPlan* plan) {
    free(plan->items);
    free(plan->text);
    memset(plan, 0, sizeof *plan);
}

int ParseJournal(const unsigned char* data, size_t size, JournalPlan* plan) {
    memset(plan, 0, sizeof *plan);
    // A journal cut short before its magic was whole names nothing: the
    // process was killed as it began one, before the walk's first write.
    if (size < sizeof kMagic) return size == 0 || memcmp(data, kMagic, size) == 0 ? 0 : -1;
    if (memcmp(data, kMagic, sizeof kMagic) != 0) return -1;
    ByteCursor cursor = ByteCursorOver(data + sizeof kMagic, size - sizeof kMagic);
    char last = 0;  // the type of the record before
    for (;;) {
        // A record cut short or failing its check ends what the journal
        // says: the process was killed while it was written.
        const unsigned char* record = cursor.at;
        char type = (char)ReadU8(&cursor);
        uint32_t item = ReadU32(&cursor);
        unsigned number = ReadU32(&cursor);
        size_t length = ReadU16(&cursor);
        const char* name = (const char*)TakeBytes(&cursor, length);
        uint32_t check = ReadU32(&cursor);
        if (cursor.failed || length >= kJournalNameCapacity ||
            check != FfCrc32(0, record, kRecordHead + length))
            break;
        switch (type) {
            case kJournalFolder:
            case kJournalNewFile:
            case kJournalStaged: {
                plan->items = (JournalItem*)GrowBlock(plan->items, plan->count, &plan->capacity,
                                                      plan->count + 1, sizeof(JournalItem));
                JournalItem* added = &plan->items[plan->count++];
                memset(added, 0, sizeof *added);
                added->type = type;
                added->number = number;
                added->name = plan->text_length;
                plan->text = (char*)GrowBlock(plan->text, plan->text_length, &plan->text_capacity,
                                              plan->text_length + length + 1, 1);
                memcpy(plan->text + plan->text_length, name, length);
                plan->text[plan->text_length + length] = '\0';
                plan->text_length += length + 1;
                break;
            }
            case kJournalBackup:
                if (item < plan->count && plan->items[item].type == kJournalStaged) {
                    plan->items[item].has_backup = true;
                    plan->items[item].backup = number;
                }
                break;
            case kJournalUndo:
                if ((last == kJournalFolder || last == kJournalNewFile || last == kJournalStaged) &&
                    plan->count > 0)
                    --plan->count;
                break;
            case kJournalCommitting:
                if (plan->stage < kJournalCommitStarted) plan->stage = kJournalCommitStarted;
                break;
            case kJournalCommitted:
                plan->stage = kJournalCommitDone;
                break;
            default:
                break;
        }
        last = type;
    }
    return 0;
}

int RepairInterruptedUpdate(const char* destination) {
    char journal[4 * kPathCapacity];
    if (!JoinPath(destination, kJournalName, journal, sizeof journal)) return 0;
    FILE* file = OsOpenFile(journal, "rb");
    if (!file) return 0;
    // Read whole: a journal names at most every entry of one payload.
    unsigned char* data = nullptr;
    size_t size = 0, capacity = 0;
    unsigned char block[4096];
    for (size_t got; (got = fread(block, 1, sizeof block, file)) > 0;) {
        data = (unsigned char*)GrowBlock(data, size, &capacity, size + got, 1);
        memcpy(data + size, block, got);
        size += got;
    }
    fclose(file);
    JournalPlan plan;
    int parsed = ParseJournal(data, size, &plan);
    free(data);
    // Not a journal of ours: a file of that name that someone else made is
    // left alone, and so is everything it might seem to name.
    if (parsed != 0) return -1;

    int result = 0;
    char path[4 * kPathCapacity], staged[4 * kPathCapacity], backup[4 * kPathCapacity];
    for (size_t i = plan.count; i-- > 0;) {
        const JournalItem* item = &plan.items[i];
        if (!StaysInside(destination, plan.text + item->name) ||
            !JoinPath(destination, plan.text + item->name, path, sizeof path))
            continue;
        bool keep_new = plan.stage == kJournalCommitDone;
        if (item->type == kJournalFolder) {
            if (!keep_new) OsRemoveFolder(path);  // only when empty
            continue;
        }
        if (item->type == kJournalNewFile) {
            if (!keep_new) OsDeleteFile(path);
            continue;
        }
        if (!SiblingPath(path, kStagedPrefix, item->number, staged, sizeof staged)) continue;
        bool has_backup = item->has_backup &&
                          SiblingPath(path, kBackupPrefix, item->backup, backup, sizeof backup);
        if (plan.stage == kJournalCommitStarted) {
            // The staged file gone (moved over the name) or the name gone
            // (its old file moved aside): the old file is in the backup.
            bool moved = !Exists(staged) || !Exists(path);
            if (has_backup && moved && Exists(backup) && OsReplaceFile(backup, path) != 0)
                result = -1;
            // A new file without an old one in its place.
            if (!has_backup && !Exists(staged)) OsDeleteFile(path);
        }
        OsDeleteFile(staged);
        if (plan.stage == kJournalCommitDone && has_backup) OsDeleteFile(backup);
    }
    FreeJournalPlan(&plan);
    if (result == 0) OsDeleteFile(journal);
    return result;
}

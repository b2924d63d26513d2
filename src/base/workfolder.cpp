// The work folder of one run and deletion of files by pattern.
#include "base/workfolder.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/platform.h"
#include "base/text.h"

namespace {

// The run's one work folder: made at the start, removed wherever the run ends.
struct WorkFolder {
    char saved[kPathCapacity];  // the current folder before, gone back to at the end
    char path[kPathCapacity];
    // The temporary folder that holds the work folder: where RemoveWorkFolder
    // goes when the start folder could not be recorded (too long, or a name
    // that code page 932 cannot write), since a folder that is current cannot
    // be removed.
    char parent[kPathCapacity];
    // Held from creation to removal: the folder cannot be renamed, deleted or
    // swapped for a link meanwhile.
    OsFolderHold* hold;
    // The files this run put into the work folder, the only ones removed with it.
    char** files;
    size_t file_count, file_capacity;
};
WorkFolder g_work = {};

// How many numbers CreateWorkFolder draws before it gives up. Each collision
// means a folder of that name exists already, which a normal system never
// has more than a few of.
const int kWorkFolderAttempts = 64;

// The single directory search behind DeleteMatchingFiles.
struct FileFinderState {
    OsFindHandle* handle;
    int stage;  // -1 none or finished, 1 first result waiting, 0 fetch next
    char pattern[kPathCapacity];
    OsFindData record;
    char result[kPathCapacity];
};
// One search at a time, as the begin/next pair hands it out.
FileFinderState g_finder = {nullptr, -1, "", {}, ""};

void CloseSearch() {
    OsFindClose(g_finder.handle);
    g_finder.handle = nullptr;
    g_finder.stage = -1;
}

const char kWorkFolderPrefix[] = "TempGPInstallFolder_";

// A work folder of an earlier run (the name rule exactly, never this run's):
// one that was killed left it behind, which nothing else would ever remove.
void RemoveIfAbandoned(OsFolderHold* temp, const char* name, void* own) {
    size_t prefix = sizeof kWorkFolderPrefix - 1;
    if (strlen(name) != prefix + 9 || strcmp(name, (const char*)own) == 0) return;
    for (size_t i = prefix; i < prefix + 9; ++i) {
        if (name[i] < '0' || name[i] > '9') return;
    }
    OsRemoveAbandonedFolder(temp, name);
}

}  // namespace

WorkFolderResult CreateWorkFolder(uint32_t (*random)()) {
    g_work.path[0] = '\0';
    if (OsGetCurrentFolder(g_work.saved, kPathCapacity - 1) != 0) g_work.saved[0] = '\0';

    char temp[kPathCapacity];
    OsTempResult temp_result = OsGetTempFolder(temp, kPathCapacity - 1);
    if (temp_result == kOsTempNotRepresentable) return kWorkFolderBadTemp;
    if (temp_result != kOsTempOk) return kWorkFolderFailed;
    AppendSeparator(temp);
    CopyText(g_work.parent, sizeof g_work.parent, temp);
    // The work folder is made inside this opening of the temporary folder:
    // whatever its path names meanwhile, the folder made is the one checked.
    OsFolderHold* parent = OsOpenFolder(temp);
    if (!parent) return kWorkFolderFailed;

    // Only a folder that this call made is ours: an existing folder of the
    // same name could hold files planted by another program, which this
    // (elevated) process would then open and start. A name drawn at random
    // cannot be prepared for in advance, as a clock value could.
    WorkFolderResult result = kWorkFolderFailed;
    for (int attempt = 0; attempt < kWorkFolderAttempts; ++attempt) {
        char name[32];
        snprintf(name, sizeof name, "%s%09u", kWorkFolderPrefix,
                 (unsigned)(random() % 1000000000u));
        char path[kPathCapacity];
        CopyText(path, sizeof path, temp);
        if (!AppendText(path, sizeof path, name)) break;
        OsCreateResult created;
        g_work.hold = OsCreatePrivateFolderIn(parent, name, &created);
        if (created == kOsAlreadyExists) continue;
        if (!g_work.hold) break;
        CopyText(g_work.path, sizeof g_work.path, path);
        OsSetCurrentFolder(g_work.path);
        // Only now: while this run looks, its own folder is already held.
        OsForEachFileIn(parent, "TempGPInstallFolder_*", RemoveIfAbandoned, name, true);
        result = kWorkFolderReady;
        break;
    }
    OsReleaseFolder(parent);
    return result;
}

void RemoveWorkFolder() {
    if (!g_work.saved[0] || OsSetCurrentFolder(g_work.saved) != 0) {
        if (g_work.parent[0]) OsSetCurrentFolder(g_work.parent);
    }
    // Without a folder of our own there is nothing to remove; above all, the
    // files of a folder that someone else made are never deleted.
    if (!g_work.path[0]) return;
    for (size_t i = 0; i < g_work.file_count; ++i) {
        OsDeleteFile(g_work.files[i]);
        free(g_work.files[i]);
    }
    free(g_work.files);
    g_work.files = nullptr;
    g_work.file_count = g_work.file_capacity = 0;
    OsReleaseFolder(g_work.hold);
    g_work.hold = nullptr;
    OsRemoveFolder(g_work.path);
    g_work.path[0] = '\0';
}

void NoteWorkFile(const char* path) {
    size_t length = strlen(path) + 1;
    char* copy = (char*)AllocOrAbort(length);
    memcpy(copy, path, length);
    g_work.files = (char**)GrowBlock(g_work.files, g_work.file_count, &g_work.file_capacity,
                                     g_work.file_count + 1, sizeof(char*));
    g_work.files[g_work.file_count++] = copy;
}

const char* WorkFolderPath() {
    return g_work.path;
}

void DeleteMatchingFiles(const char* folder, const char* pattern) {
    char remembered[kPathCapacity];
    bool have_remembered = OsGetCurrentFolder(remembered, sizeof remembered) == 0;
    // The pattern is relative: searched from any other folder (one that was
    // removed meanwhile, a path that cannot be entered), "*.*" would delete
    // the files of whatever folder happens to be current.
    if (OsSetCurrentFolder(folder) != 0) return;
    if (FileFinderBegin(pattern) == 0) {
        while (const char* path = FileFinderNext()) OsDeleteFile(path);
    }
    if (have_remembered) OsSetCurrentFolder(remembered);
}

int FileFinderBegin(const char* pattern) {
    if (g_finder.handle) CloseSearch();
    g_finder.stage = -1;
    if (!CopyText(g_finder.pattern, sizeof g_finder.pattern, pattern)) return 1;
    g_finder.handle = OsFindFirst(pattern, &g_finder.record);
    if (!g_finder.handle) return 1;
    g_finder.stage = 1;
    return 0;
}

const char* FileFinderNext() {
    if (!g_finder.handle || g_finder.stage == -1) return nullptr;
    bool have_record = g_finder.stage == 1;
    g_finder.stage = 0;
    for (;;) {
        if (!have_record && !OsFindNext(g_finder.handle, &g_finder.record)) {
            CloseSearch();
            return nullptr;
        }
        have_record = false;
        if (g_finder.record.is_folder) continue;
        // The folder part (and drive) of the pattern, up to its last real
        // separator, followed by the name that was found. The system's
        // search takes a slash for a separator as well, so must the split:
        // otherwise "save/*.sav" would name files one folder up.
        size_t prefix = 0;
        for (const char* p = g_finder.pattern; *p; p += CharLength(p)) {
            if (*p == '\\' || *p == '/' || *p == ':') prefix = (size_t)(p - g_finder.pattern) + 1;
        }
        if (prefix + strlen(g_finder.record.name) + 1 > sizeof g_finder.result) continue;
        memcpy(g_finder.result, g_finder.pattern, prefix);
        g_finder.result[prefix] = '\0';
        AppendText(g_finder.result, sizeof g_finder.result, g_finder.record.name);
        return g_finder.result;
    }
}

// The work folder of one run and deletion of files by pattern.
#include "base/workfolder.h"

#include <stdio.h>
#include <string.h>

#include "base/platform.h"
#include "base/text.h"

namespace {

char g_saved_folder[kPathCapacity];
char g_work_folder[kPathCapacity];
// The temporary folder that holds the work folder: where RemoveWorkFolder
// goes when the start folder could not be recorded (too long, or a name that
// code page 932 cannot write), since a folder that is current cannot be removed.
char g_parent_folder[kPathCapacity];

// How many clock values CreateWorkFolder tries before it gives up. Each
// collision means a folder of that name exists already, which a normal system
// never has more than a few of.
const int kWorkFolderAttempts = 64;

// The single directory search behind DeleteMatchingFiles.
struct FileFinderState {
    OsFindHandle* handle;
    int stage;  // -1 none or finished, 1 first result waiting, 0 fetch next
    char pattern[kPathCapacity];
    OsFindData record;
    char result[kPathCapacity];
};
FileFinderState g_finder = {nullptr, -1, "", {}, ""};

void CloseSearch() {
    OsFindClose(g_finder.handle);
    g_finder.handle = nullptr;
    g_finder.stage = -1;
}

}  // namespace

WorkFolderResult CreateWorkFolder() {
    g_work_folder[0] = '\0';
    if (OsGetCurrentFolder(g_saved_folder, kPathCapacity - 1) != 0) g_saved_folder[0] = '\0';

    char temp[kPathCapacity];
    OsTempResult temp_result = OsGetTempFolder(temp, kPathCapacity - 1);
    if (temp_result == kOsTempNotRepresentable) return kWorkFolderBadTemp;
    if (temp_result != kOsTempOk) return kWorkFolderFailed;
    AppendSeparator(temp);
    CopyText(g_parent_folder, sizeof g_parent_folder, temp);

    // Only a folder that this call made is ours: an existing folder of the
    // same name could hold files planted by another program, which this
    // (elevated) process would then open and start.
    uint32_t clock = OsMilliseconds();
    for (int attempt = 0; attempt < kWorkFolderAttempts; ++attempt, ++clock) {
        char name[32];
        snprintf(name, sizeof name, "TempGPInstallFolder_%09d", (int32_t)clock);
        char path[kPathCapacity];
        CopyText(path, sizeof path, temp);
        if (!AppendText(path, sizeof path, name)) return kWorkFolderFailed;
        OsCreateResult created = OsCreateFolder(path);
        if (created == kOsAlreadyExists) continue;
        if (created != kOsCreated) return kWorkFolderFailed;
        CopyText(g_work_folder, sizeof g_work_folder, path);
        OsSetCurrentFolder(g_work_folder);
        return kWorkFolderReady;
    }
    return kWorkFolderFailed;
}

void RemoveWorkFolder() {
    if (!g_saved_folder[0] || OsSetCurrentFolder(g_saved_folder) != 0) {
        if (g_parent_folder[0]) OsSetCurrentFolder(g_parent_folder);
    }
    // Without a folder of our own there is nothing to remove; above all, the
    // files of a folder that someone else made are never deleted.
    if (!g_work_folder[0]) return;
    DeleteMatchingFiles(g_work_folder, "*.*");
    OsRemoveFolder(g_work_folder);
    g_work_folder[0] = '\0';
}

const char* WorkFolderPath() {
    return g_work_folder;
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

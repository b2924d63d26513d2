// Deletion after installation (see afterinst.h).
#include "update/afterinst.h"

#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "base/workfolder.h"
#include "config/sections.h"

namespace {

// The current folder is recorded in a buffer larger than a path buffer:
// DeleteMatchingFiles cannot go back to a folder it could not record, so the
// return is made here as well.
enum { kSavedFolderCapacity = 2048 };

// The system's search takes a slash for a separator as well.
bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// ".", "..", "..." and ". ." all lead out of or around the folder once
// Windows has dropped the trailing dots and spaces of a name.
bool IsDotsOnly(const char* begin, const char* end) {
    bool has_dot = false;
    for (const char* p = begin; p < end; ++p) {
        if (*p == '.')
            has_dot = true;
        else if (*p != ' ')
            return false;
    }
    return has_dot;
}

}  // namespace

bool AfterInstallEntryStaysInside(const char* entry) {
    if (IsSeparator(entry[0]) || FindChar(entry, ':')) return false;
    const char* component = entry;
    for (const char* p = entry;; p += CharLength(p)) {
        if (*p != '\0' && !IsSeparator(*p)) continue;
        if (IsDotsOnly(component, p)) return false;
        if (*p == '\0') return true;
        component = p + 1;
    }
}

namespace {

// The first real separator of entry, double-byte aware, or null.
const char* FindFirstSeparator(const char* entry) {
    for (const char* p = entry; *p; p += CharLength(p)) {
        if (IsSeparator(*p)) return p;
    }
    return nullptr;
}

// True when a folder named in entry (every part before a separator) is a
// link under target: deleting "save\\*.*" through a link named save would
// delete the files wherever it points.
bool CrossesLink(const char* target, const char* entry) {
    char path[kPathCapacity];
    for (const char* p = entry; *p; p += CharLength(p)) {
        if (!IsSeparator(*p)) continue;
        if (!CopyText(path, sizeof path, target)) return true;
        AppendSeparator(path, sizeof path);
        size_t length = strlen(path), part = (size_t)(p - entry);
        if (length + part + 1 > sizeof path) return true;
        memcpy(path + length, entry, part);
        path[length + part] = '\0';
        if (OsIsLink(path)) return true;
    }
    return false;
}

}  // namespace

AfterInstallResult DeleteAfterInstallEntry(const char* target, const char* entry) {
    // An empty target would make "\save" of "save\*.*", a folder at the root.
    if (!target[0] || strnlen(target, kPathCapacity) >= kPathCapacity) return kAfterInstallRefused;
    if (strnlen(entry, kPathCapacity) >= kPathCapacity) return kAfterInstallRefused;
    if (!AfterInstallEntryStaysInside(entry) || CrossesLink(target, entry))
        return kAfterInstallRefused;

    char folder[kPathCapacity] = "";
    const char* separator = FindFirstSeparator(entry);
    if (separator) {
        size_t name_length = (size_t)(separator - entry);
        CopyText(folder, sizeof folder, target);
        AppendSeparator(folder, sizeof folder);
        size_t length = strlen(folder);
        if (length + name_length + 1 > sizeof folder) return kAfterInstallRefused;
        memcpy(folder + length, entry, name_length);
        folder[length + name_length] = '\0';
    }

    char saved[kSavedFolderCapacity];
    if (OsGetCurrentFolder(saved, sizeof saved) != 0) return kAfterInstallRefused;
    DeleteMatchingFiles(target, entry);
    OsSetCurrentFolder(saved);

    if (!separator) return kAfterInstallDone;
    return OsRemoveFolder(folder) == 0 ? kAfterInstallDone : kAfterInstallFolderKept;
}

void DeleteAfterInstall(const char* target) {
    for (const SectionLine* line = GetSectionList(kSectionDelfilesAfterinst); line;
         line = line->next) {
        DeleteAfterInstallEntry(target, line->text);
    }
}

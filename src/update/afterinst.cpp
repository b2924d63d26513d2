// Deletion after installation (see afterinst.h).
#include "update/afterinst.h"

#include <string.h>

#include "base/platform.h"
#include "base/text.h"
#include "config/sections.h"

// The system's search takes a slash for a separator as well.
static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool AfterInstallEntryStaysInside(const char* entry) {
    return NameStaysInside(entry);
}

namespace {

void DeleteFound(OsFolderHold* folder, const char* name, void*) {
    OsDeleteFileIn(folder, name);
}

// Folders an entry names, deepest last; the game folder is not among them.
enum { kMaxDepth = kPathCapacity / 2 };

}  // namespace

AfterInstallResult DeleteAfterInstallEntry(OsFolderHold* game, const char* entry) {
    if (!game || strnlen(entry, kPathCapacity) >= kPathCapacity) return kAfterInstallRefused;
    if (!AfterInstallEntryStaysInside(entry)) return kAfterInstallRefused;

    // Each folder of the entry is held inside its parent, from the game
    // folder down, until its files are deleted: a folder swapped for a link
    // meanwhile cannot lead the deletion elsewhere, and one that is a link
    // already is refused.
    OsFolderHold* held[kMaxDepth];
    size_t depth = 0;
    char first[kPathCapacity] = "";
    char component[kPathCapacity];
    const char* begin = entry;
    AfterInstallResult result = kAfterInstallDone;
    for (const char* p = entry; *p; p += CharLength(p)) {
        if (!IsSeparator(*p)) continue;
        size_t length = (size_t)(p - begin);
        memcpy(component, begin, length);
        component[length] = '\0';
        begin = p + 1;
        if (depth == 0) CopyText(first, sizeof first, component);
        OsFolderHold* parent = depth ? held[depth - 1] : game;
        OsFolderHold* folder = depth < kMaxDepth
                                   ? OsHoldChildFolder(parent, component, false, nullptr)
                                   : nullptr;
        if (!folder) {
            // Missing: nothing to delete. Anything else (a link, a file of
            // the name) is refused untouched.
            result = OsGetPathKindIn(parent, component, nullptr) == kOsMissing
                         ? kAfterInstallFolderKept
                         : kAfterInstallRefused;
            break;
        }
        held[depth++] = folder;
    }
    if (result == kAfterInstallDone && *begin)
        OsForEachFileIn(depth ? held[depth - 1] : game, begin, DeleteFound, nullptr);
    // Released deepest first: a held folder cannot be removed.
    while (depth > 0) OsReleaseFolder(held[--depth]);
    if (result != kAfterInstallDone || !first[0]) return result;
    return OsRemoveFolderIn(game, first) == 0 ? kAfterInstallDone : kAfterInstallFolderKept;
}

AfterInstallResult DeleteAfterInstallEntry(const char* target, const char* entry) {
    OsFolderHold* game = target[0] ? OsHoldFolder(target) : nullptr;
    AfterInstallResult result = DeleteAfterInstallEntry(game, entry);
    OsReleaseFolder(game);
    return result;
}

void DeleteAfterInstall(OsFolderHold* game) {
    for (const SectionLine* line = GetSectionList(kSectionDelfilesAfterinst); line;
         line = line->next) {
        DeleteAfterInstallEntry(game, line->text);
    }
}

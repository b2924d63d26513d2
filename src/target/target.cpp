// Locating the installed game without a window (see target.h).
#include "target/target.h"

#include <string.h>

namespace {

// Appends src whole or not at all: a cut path would name another folder.
bool AppendWhole(char* dst, size_t capacity, const char* src) {
    size_t length = strnlen(dst, capacity);
    size_t added = strlen(src);
    if (length >= capacity || added >= capacity - length) return false;
    memcpy(dst + length, src, added + 1);
    return true;
}

// Leaves out empty (when it has room for that) and gives -1.
int Refuse(char* out, size_t capacity) {
    if (capacity > 0) out[0] = '\0';
    return -1;
}

// Builds parts[0] .. parts[count - 1] into out, or leaves out empty. A null
// part counts as empty.
int JoinWhole(char* out, size_t capacity, const char* const* parts, size_t count) {
    if (capacity == 0) return -1;
    out[0] = '\0';
    for (size_t i = 0; i < count; ++i) {
        if (!AppendWhole(out, capacity, parts[i] ? parts[i] : "")) return Refuse(out, capacity);
    }
    return 0;
}

// Inserts the first length bytes of text at path + at, if the whole fits.
bool InsertWhole(char* path, size_t capacity, size_t at, const char* text, size_t length) {
    size_t path_length = strlen(path);
    if (length >= capacity - path_length) return false;
    memmove(path + at + length, path + at, path_length - at + 1);
    memcpy(path + at, text, length);
    return true;
}

bool IsSet(const char* text) {
    return text && text[0] != '\0';
}

// True when name is one or more whole folders of path: a substring test
// would take "D:\Games" for a path that already holds the folder "Game", and
// a byte-wise one would see "ABC" in アBC (0x83 0x41 'B' 'C').
bool HasFolder(const char* path, const char* name) {
    size_t length = strlen(name);
    if (length == 0) return true;
    bool folder_start = true;
    for (const char* p = path; *p; p += CharLength(p)) {
        if (folder_start && strncmp(p, name, length) == 0 &&
            (p[length] == '\0' || p[length] == '\\')) {
            return true;
        }
        folder_start = (*p == '\\' || *p == ':') && CharLength(p) == 1;
    }
    return false;
}

// A real backslash at the very end; 0x83 0x5C (ソ) ends in a byte that only
// looks like one, and a byte-before test misreads runs of double-byte
// characters, so the character walk of FindLastChar decides.
bool EndsInSeparator(const char* path) {
    const char* last = FindLastChar(path, '\\');
    return last && last[1] == '\0';
}

}  // namespace

int DefaultTargetPath(const char* windows_folder, const char* maker_folder,
                      const char* product_folder, char* out, size_t capacity) {
    // The drive root as the Windows directory spells it, backslash included.
    char root[kPathCapacity] = "";
    const char* separator = windows_folder ? FindChar(windows_folder, '\\') : nullptr;
    if (separator) {
        size_t length = (size_t)(separator - windows_folder) + 1;
        if (length >= sizeof root) return Refuse(out, capacity);
        memcpy(root, windows_folder, length);
        root[length] = '\0';
    }
    bool maker = IsSet(maker_folder);
    const char* parts[] = {root, "Program Files\\", maker ? maker_folder : "", maker ? "\\" : "",
                           product_folder};
    return JoinWhole(out, capacity, parts, 5);
}

int KeyFilePath(const char* folder, const char* key_file, char* out, size_t capacity) {
    const char* parts[] = {folder, "\\", key_file};
    return JoinWhole(out, capacity, parts, 3);
}

ChosenFolderResult CleanChosenFolder(char* path, const ChosenFolderRules& rules, size_t capacity) {
    if (capacity == 0 || strnlen(path, capacity) >= capacity) return kChosenFolderTooLong;

    // "/" is never the second byte of a double-byte character.
    for (char* p = path; *p; p += CharLength(p)) {
        if (*p == '/') *p = '\\';
    }

    // Any two real backslashes in a row, not only a leading \\server: the
    // character-wise search does not take the 0x5C of ソ for the first of two,
    // and it finds a real pair after one (ソ\\ is 0x83 0x5C 0x5C 0x5C).
    if (FindText(path, "\\\\")) return kChosenFolderNetwork;

    StripSeparator(path);

    // The user named the parent; the game goes into its own folders below it,
    // unless one of the path's folders already is the product folder.
    const char* product = rules.product_folder ? rules.product_folder : "";
    if (rules.make_folders != 0 && !HasFolder(path, product)) {
        if (IsSet(rules.maker_folder) && (!AppendWhole(path, capacity, "\\") ||
                                          !AppendWhole(path, capacity, rules.maker_folder))) {
            return kChosenFolderTooLong;
        }
        if (!AppendWhole(path, capacity, "\\") || !AppendWhole(path, capacity, product)) {
            return kChosenFolderTooLong;
        }
    }

    // \Games\X and Games\X are taken on the Windows drive: C:\Games\X, C:Games\X.
    if (!FindChar(path, ':')) {
        const char* windows = rules.windows_folder ? rules.windows_folder : "";
        const char* colon = FindChar(windows, ':');
        // Without a drive the folder would be taken relative to the current
        // directory, the work folder that is removed at the end.
        if (!colon) return kChosenFolderNoDrive;
        if (!InsertWhole(path, capacity, 0, windows, (size_t)(colon - windows) + 1)) {
            return kChosenFolderTooLong;
        }
    }

    // C:Games\X means C:\Games\X here, never the drive's current directory.
    char* colon = (char*)FindChar(path, ':');
    if (colon[1] != '\\' && !InsertWhole(path, capacity, (size_t)(colon - path) + 1, "\\", 1)) {
        return kChosenFolderTooLong;
    }

    // After the strip above only a completed drive (C: to C:\) ends in one.
    if (EndsInSeparator(path)) return kChosenFolderRoot;
    return kChosenFolderOk;
}

VersionVerdict VersionGate(int installed, int lowest, int highest) {
    if (installed < lowest) return kVersionTooOld;
    if (installed > highest) return kVersionAlreadyUpdated;
    return kVersionAccepted;
}

// The managed file open (see filelayer.h).
#include "filelayer/filelayer.h"

#include <stdlib.h>
#include <string.h>

#include "base/platform.h"
#include "base/text.h"

namespace {

// The lookup state is the process's one file layer: every managed open of
// any part goes through it, set up once by the entry.
struct FileLayer {
    OsLock* lock;
    bool lock_created;
    char base_folder[kPathCapacity];
    int direct_open;
    FfSearchEntry* search_list;
    FfRetryHandler retry;
};
FileLayer g_layer;

// The CRC-32 table for four bits at a time, made by the compiler: 64 bytes
// in the updater rather than 1 KiB, ample for names and journal records.
struct CrcTable {
    uint32_t entries[16];
};
constexpr CrcTable MakeCrcTable() {
    CrcTable table = {};
    for (uint32_t n = 0; n < 16; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 4; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.entries[n] = c;
    }
    return table;
}
constexpr CrcTable kCrcTable = MakeCrcTable();

// Not guarded itself: the first call happens before any second thread could
// use the layer.
void EnsureLock() {
    if (g_layer.lock_created) return;
    g_layer.lock = OsCreateLock();
    g_layer.lock_created = true;
}

// A lock that could not be made (no memory) leaves the layer unguarded, which
// the single-threaded updater survives; a null lock must not be entered.
void EnterLock() {
    if (g_layer.lock) OsEnterLock(g_layer.lock);
}
void LeaveLock() {
    if (g_layer.lock) OsLeaveLock(g_layer.lock);
}

// Start of the file name: after the drive ("C:") and after the last real
// separator. Double-byte characters are stepped over, so a second byte 0x5C
// is never a separator.
const char* FileNamePart(const char* name) {
    const char* start = name;
    if (name[0] != '\0' && name[1] == ':') start = name + 2;
    const char* file = start;
    for (const char* p = start; *p; p += CharLength(p)) {
        if (*p == '\\' || *p == '/') file = p + 1;
    }
    return file;
}

// The extension with its dot, or the empty string.
const char* ExtensionPart(const char* name) {
    const char* file = FileNamePart(name);
    const char* dot = FindLastChar(file, '.');
    return dot ? dot : file + strlen(file);
}

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = (unsigned char)*a;
        unsigned char y = (unsigned char)*b;
        if (x >= 'A' && x <= 'Z') x = (unsigned char)(x + 32);
        if (y >= 'A' && y <= 'Z') y = (unsigned char)(y + 32);
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

// One lookup, shared by Ffopen (streams kept) and Ffresolve (trial opens
// closed again, the path kept).
struct Lookup {
    const char* name;
    const char* mode;
    bool resolve;
    FILE* stream;
    char path[kPathCapacity];
};

// Joins up to three parts into a candidate path; false when it would not fit
// the path buffer, and such a candidate counts as not found.
bool BuildCandidate(char* out, const char* a, const char* b, const char* c) {
    return CopyText(out, kPathCapacity, a) && AppendText(out, kPathCapacity, b) &&
           AppendText(out, kPathCapacity, c);
}

bool TryOpen(Lookup* lookup, const char* candidate) {
    FILE* file = OsOpenFile(candidate, lookup->resolve ? "rb" : lookup->mode);
    if (!file) return false;
    if (lookup->resolve) {
        fclose(file);
        CopyText(lookup->path, sizeof lookup->path, candidate);
    } else {
        lookup->stream = file;
    }
    return true;
}

bool TryCandidate(Lookup* lookup, const char* folder, const char* separator) {
    char candidate[kPathCapacity];
    if (!BuildCandidate(candidate, folder, separator, lookup->name)) return false;
    return TryOpen(lookup, candidate);
}

// Tries the folder side: the base folder when set, else the name itself when
// direct opening is on. Returns false also when neither applies.
bool TryFolder(Lookup* lookup) {
    if (g_layer.base_folder[0] != '\0') return TryCandidate(lookup, g_layer.base_folder, "");
    if (g_layer.direct_open) return TryCandidate(lookup, "", "");
    return false;
}

const FfIndexEntry* FindInIndex(const FfSearchEntry* entry, uint32_t hash) {
    if (!entry->index) return nullptr;
    uint32_t low = 0;
    uint32_t high = entry->index_count;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        uint32_t found = entry->index[middle].hash;
        if (found == hash) return &entry->index[middle];
        if (found < hash) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return nullptr;
}

bool SearchFolderTable(Lookup* lookup, const FfSearchEntry* entry, uint32_t hash) {
    for (int32_t i = 0; i < entry->folder_count; ++i) {
        const FfFolderEntry& record = entry->folders[i];
        if (record.hash != hash || !record.folder) continue;
        if (lookup->resolve) {
            // A matching record answers at once, without a trial open.
            char candidate[kPathCapacity];
            if (!BuildCandidate(candidate, record.folder, "\\", lookup->name)) continue;
            CopyText(lookup->path, sizeof lookup->path, candidate);
            return true;
        }
        // Several records may share a hash: a failed open goes on scanning.
        if (TryCandidate(lookup, record.folder, "\\")) return true;
    }
    return false;
}

bool SearchArchive(Lookup* lookup, const FfSearchEntry* entry, uint32_t hash) {
    const FfIndexEntry* hit = FindInIndex(entry, hash);
    if (!hit || !entry->archive_path) return false;
    if (lookup->resolve) return CopyText(lookup->path, sizeof lookup->path, entry->archive_path);
    FILE* file = OsOpenFile(entry->archive_path, lookup->mode);
    if (!file) return false;
    if (fseek(file, (long)hit->offset, SEEK_SET) != 0) {
        fclose(file);
        return false;
    }
    lookup->stream = file;
    return true;
}

bool SearchList(Lookup* lookup) {
    bool hashed = false;
    uint32_t hash = 0;
    for (const FfSearchEntry* entry = g_layer.search_list; entry; entry = entry->next) {
        if (entry->kind != kFfFolderTable && entry->kind != kFfArchive) continue;
        if (!hashed) {
            hash = FfNameHash(lookup->name);
            hashed = true;
        }
        if (entry->kind == kFfFolderTable && entry->folders) {
            // The index of an entry with a folder table is never consulted.
            if (SearchFolderTable(lookup, entry, hash)) return true;
            continue;
        }
        if (SearchArchive(lookup, entry, hash)) return true;
    }
    return false;
}

bool AttemptLocked(Lookup* lookup) {
    const char* name = lookup->name;
    // Every candidate contains the name, so a name that fills the path buffer
    // on its own cannot be found anywhere.
    if (strlen(name) >= kPathCapacity) return false;
    bool sound = FfIsSoundName(name);
    if (!sound && TryFolder(lookup)) return true;
    if (FindChar(name, '\\')) return false;
    if (SearchList(lookup)) return true;
    if (sound) return TryFolder(lookup);
    return false;
}

bool Attempt(Lookup* lookup) {
    EnterLock();
    lookup->stream = nullptr;
    lookup->path[0] = '\0';
    bool found = AttemptLocked(lookup);
    LeaveLock();
    return found;
}

}  // namespace

uint32_t FfCrc32(uint32_t crc, const void* data, size_t length) {
    const uint32_t* table = kCrcTable.entries;
    const unsigned char* p = (const unsigned char*)data;
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= p[i];
        crc = table[crc & 15] ^ (crc >> 4);
        crc = table[crc & 15] ^ (crc >> 4);
    }
    return ~crc;
}

uint32_t FfNameHash(const char* name) {
    // Lower-cased one character at a time, so that a name of any length is
    // hashed whole.
    uint32_t crc = 0;
    for (const char* p = FileNamePart(name); *p;) {
        size_t length = CharLength(p);
        char character[3] = {p[0], length == 2 ? p[1] : '\0', '\0'};
        LowerCaseCp932(character);
        crc = FfCrc32(crc, character, length);
        p += length;
    }
    return crc;
}

bool FfIsSoundName(const char* name) {
    const char* extension = ExtensionPart(name);
    return EqualsIgnoringAsciiCase(extension, ".wav") || EqualsIgnoringAsciiCase(extension, ".ogg");
}

FILE* Ffopen(const char* name, const char* mode) {
    EnsureLock();
    Lookup lookup;
    lookup.name = name;
    lookup.mode = mode;
    lookup.resolve = false;
    // Retry repeats the whole lookup, so a file supplied meanwhile is found.
    while (!Attempt(&lookup)) {
        if (!g_layer.retry || !g_layer.retry(name)) return nullptr;
    }
    return lookup.stream;
}

char* Ffresolve(const char* name, char* out) {
    EnsureLock();
    Lookup lookup;
    lookup.name = name;
    lookup.mode = "rb";
    lookup.resolve = true;
    if (!Attempt(&lookup)) lookup.path[0] = '\0';
    CopyText(out, kPathCapacity, lookup.path);
    return out;
}

int Ffexist(const char* name) {
    char path[kPathCapacity];
    return Ffresolve(name, path)[0] != '\0' ? 1 : 0;
}

void FfSetRetryHandler(FfRetryHandler handler) {
    g_layer.retry = handler;
}

void Ffsetdirect(int on) {
    g_layer.direct_open = on;
}

int FfSetBaseFolder(const char* folder) {
    char copy[kPathCapacity];
    if (!CopyText(copy, sizeof copy, folder)) return -1;
    memcpy(g_layer.base_folder, copy, sizeof copy);
    return 0;
}

void FfAddSearchEntry(FfSearchEntry* entry) {
    entry->next = nullptr;
    FfSearchEntry** tail = &g_layer.search_list;
    while (*tail) tail = &(*tail)->next;
    *tail = entry;
}

void FfResetLookup() {
    g_layer.search_list = nullptr;
    g_layer.base_folder[0] = '\0';
    g_layer.direct_open = 0;
}

void FfReleaseLock() {
    if (g_layer.lock) OsDeleteLock(g_layer.lock);
    g_layer.lock = nullptr;
    g_layer.lock_created = false;
}

// The setting store and its accessors (see settings.h).
#include "config/settings.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/text.h"
#include "filelayer/filelayer.h"
#include "texts.h"

namespace {

struct SettingEntry {
    char* key;
    char* value;
    SettingEntry* next;
};

// What the accessors hand out: one buffer per setting, and whether a setting
// looked up once has been.
struct SettingValue {
    bool read;
    int number;
    char text[kSettingValueCapacity];
};

// The store is the one configuration of the run: loaded once at start-up,
// read by every part through the accessors, released by the entry at exit.
struct SettingStore {
    SettingEntry* first;  // in file order, so the first of a key is found
    SettingEntry* last;
    SettingValue values[kSettingKeyCount];
};
SettingStore g_store;

char* CopyToHeap(const char* text) {
    size_t size = strlen(text) + 1;
    char* copy = (char*)AllocOrAbort(size);
    memcpy(copy, text, size);
    return copy;
}

void AppendEntry(const char* key, const char* value) {
    SettingEntry* entry = (SettingEntry*)AllocOrAbort(sizeof(SettingEntry));
    entry->key = CopyToHeap(key);
    entry->value = CopyToHeap(value);
    entry->next = nullptr;
    if (g_store.last) {
        g_store.last->next = entry;
    } else {
        g_store.first = entry;
    }
    g_store.last = entry;
}

const SettingEntry* FindEntry(const char* key) {
    for (const SettingEntry* entry = g_store.first; entry; entry = entry->next) {
        if (strcmp(entry->key, key) == 0) return entry;
    }
    return nullptr;
}

void StoreLine(const SettingLine* line, void* context) {
    if (line->kind == kSettingEntry) AppendEntry(line->key, line->value);
}

// Bar to space, stepping over double-byte characters so that a second byte
// 0x7C (ポ is 0x83 0x7C) stays.
void BarsToSpaces(char* text) {
    for (char* p = text; *p; p += CharLength(p)) {
        if (*p == '|') *p = ' ';
    }
}

// Copies the text of line from offset on, without trailing bytes of 0x20 or
// less, into out (kLineCapacity bytes).
void CopyTrimmed(char* out, const char* line, size_t offset) {
    size_t length = strnlen(line + offset, kLineCapacity - 1 - offset);
    while (length > 0 && (unsigned char)line[offset + length - 1] <= 0x20) --length;
    memcpy(out, line + offset, length);
    out[length] = '\0';
}

// Classifies one piece. Every byte of 0x20 or less in the whole buffer counts
// as a terminator; the buffer is cleared before each read, so the bytes
// behind the piece are terminators too and no value is found there.
void ClassifyLine(const char* buffer, SettingLine* line, char* tokens, char* value, char* rest) {
    unsigned char first = (unsigned char)buffer[0];
    if (first <= 0x20 || first == '/') {
        line->kind = kSettingSkipped;
        return;
    }
    for (size_t i = 0; i < kLineCapacity; ++i) {
        tokens[i] = (unsigned char)buffer[i] <= 0x20 ? '\0' : buffer[i];
    }
    tokens[kLineCapacity - 1] = '\0';
    line->key = tokens;
    size_t key_end = strlen(tokens);
    size_t next = key_end;
    while (next < kLineCapacity - 1 && tokens[next] == '\0') ++next;
    line->gap = next < kLineCapacity - 1 ? (int)(next - key_end) : -1;
    if (line->gap < 0 || line->gap > kSettingMaxGap) {
        line->kind = kSettingNoValue;
        return;
    }
    line->kind = kSettingEntry;
    CopyText(value, kLineCapacity, tokens + next);
    BarsToSpaces(value);
    line->value = value;
    size_t after = next + strlen(tokens + next);
    while (after < kLineCapacity - 1 && tokens[after] == '\0') ++after;
    if (after < kLineCapacity - 1) CopyTrimmed(rest, buffer, after);
    line->rest = rest;
}


}  // namespace

void ParseSettings(FILE* file, const SettingParseOptions& options, SettingLineHandler handler,
                   void* context, SettingParseResult* result) {
    char buffer[kLineCapacity];
    char tokens[kLineCapacity];
    char value[kLineCapacity];
    char rest[kLineCapacity];
    int file_line = 1;
    result->stop = kSettingStopEnd;
    result->lines = 0;
    result->stop_file_line = 0;
    for (;;) {
        if (options.line_limit > 0 && result->lines >= options.line_limit) {
            result->stop = kSettingStopLimit;
            break;
        }
        memset(buffer, 0, sizeof buffer);
        if (!fgets(buffer, sizeof buffer, file)) break;
        int this_line = file_line;
        // A piece that ends the physical line carries its LF (fgets stops
        // there); a NUL byte inside the line cannot hide it from memchr.
        if (memchr(buffer, '\n', sizeof buffer - 1)) ++file_line;
        if (options.stop_at_marker && strncmp(buffer, "[EOF]", 5) == 0) {
            result->stop = kSettingStopMarker;
            result->stop_file_line = this_line;
            break;
        }
        ++result->lines;
        SettingLine line;
        line.number = result->lines;
        line.file_line = this_line;
        line.text = buffer;
        line.key = nullptr;
        line.value = nullptr;
        line.rest = "";
        line.gap = -1;
        rest[0] = '\0';
        ClassifyLine(buffer, &line, tokens, value, rest);
        if (line.kind == kSettingEntry) line.rest = rest;
        handler(&line, context);
    }
}

void ReadSettings(FILE* file) {
    SettingParseResult result;
    ParseSettings(file, kUpdaterSettingRules, StoreLine, nullptr, &result);
}

int LoadSettings(const char* name) {
    FILE* file = Ffopen(name, "rt");
    if (!file) return -1;
    ReadSettings(file);
    fclose(file);
    return 0;
}

#define VN_SETTING_ROW(id, key, kind, fallback, lookup, capacity) \
    {key, kind, fallback, lookup, capacity},
const SettingRow kSettingRows[kSettingKeyCount] = {VN_SETTINGS(VN_SETTING_ROW)};
#undef VN_SETTING_ROW

void ReleaseSettings() {
    SettingEntry* entry = g_store.first;
    while (entry) {
        SettingEntry* next = entry->next;
        free(entry->key);
        free(entry->value);
        free(entry);
        entry = next;
    }
    g_store.first = nullptr;
    g_store.last = nullptr;
    for (SettingValue& value : g_store.values) value.read = false;
}

char* GetSetting(const char* key, char* buffer, size_t size, const char* fallback) {
    if (size == 0) return buffer;
    const SettingEntry* entry = FindEntry(key);
    CopyText(buffer, size, entry ? entry->value : fallback);
    return buffer;
}

int GetSettingInt(const char* key, int fallback) {
    const SettingEntry* entry = FindEntry(key);
    if (!entry) return fallback;
    // atoi's rules without its undefined overflow.
    long number = strtol(entry->value, nullptr, 10);
    if (number > INT_MAX) return INT_MAX;
    if (number < INT_MIN) return INT_MIN;
    return (int)number;
}

const SettingRow* FindSettingRow(const char* key) {
    for (const SettingRow& row : kSettingRows) {
        if (strcmp(row.key, key) == 0) return &row;
    }
    return nullptr;
}

char* SettingTextInto(SettingKey key, char* buffer, size_t size) {
    const SettingRow& row = kSettingRows[key];
    return GetSetting(row.key, buffer, size, row.fallback ? row.fallback : "");
}

const char* SettingText(SettingKey key) {
    const SettingRow& row = kSettingRows[key];
    SettingValue& value = g_store.values[key];
    if (row.lookup == kLookupEachUse || !value.read) {
        SettingTextInto(key, value.text, sizeof value.text);
        value.read = true;
    }
    // A stored value is never empty, so an empty text means the key is missing.
    if (row.kind == kSettingOptional && value.text[0] == '\0') return nullptr;
    return value.text;
}

int SettingNumber(SettingKey key) {
    const SettingRow& row = kSettingRows[key];
    SettingValue& value = g_store.values[key];
    if (row.lookup == kLookupEachUse || !value.read) {
        value.number = GetSettingInt(row.key, row.fallback ? atoi(row.fallback) : 0);
        value.read = true;
    }
    return value.number;
}

// The keyed settings of install.env: one "KEY value" per line at the top of
// the file, read once at start-up into the setting store and obtained by the
// rest of the program through one accessor per key, each with its default.
#pragma once

#include <stddef.h>
#include <stdio.h>

#include "config/setup_files.h"  // kSettingsFileName
#include "texts.h"

// How the reader saw one line (a piece of at most 511 bytes of a longer line
// counts as a line of its own).
enum SettingLineKind {
    kSettingEntry,    // key and value stored
    kSettingSkipped,  // first byte 0x20 or less, or "/": not read
    kSettingNoValue,  // only one token within reach: no entry
};

struct SettingLine {
    SettingLineKind kind;
    int number;         // counted the reader's way: pieces, from 1
    int file_line;      // physical line of the file, from 1
    const char* text;   // the piece as read, line break included
    const char* key;    // kSettingEntry and kSettingNoValue
    const char* value;  // kSettingEntry, with "|" already turned into spaces
    const char* rest;   // text after the value (from its first byte above
                        // 0x20), or the empty string
    int gap;            // separator bytes between key and the next token, or
                        // -1 when no token follows the key on the line
};

typedef void (*SettingLineHandler)(const SettingLine* line, void* context);

enum SettingStop {
    kSettingStopEnd,     // end of file
    kSettingStopMarker,  // "[EOF]" at column 1
    kSettingStopLimit,   // the line limit was reached
};

struct SettingParseResult {
    SettingStop stop;
    int lines;           // lines counted toward the limit
    int stop_file_line;  // physical line of the "[EOF]" marker, or 0
};

// The reader's limits. The updater reads 400 lines and stops at "[EOF]"; the
// maker's check also reads past both to warn about what the updater skips.
struct SettingParseOptions {
    int line_limit;  // 0 or less: no limit
    bool stop_at_marker;
};
enum {
    kSettingLineLimit = 400,      // lines the updater reads at most
    kSettingMaxGap = 99,          // separator bytes allowed between key and value
    kSettingValueCapacity = 128,  // buffer of every keyed text, terminator included
};
inline constexpr SettingParseOptions kUpdaterSettingRules = {kSettingLineLimit, true};

// Reads settings lines from file and hands each to handler. Never fails.
void ParseSettings(FILE* file, const SettingParseOptions& options, SettingLineHandler handler,
                   void* context, SettingParseResult* result);

// Appends the settings of file to the store (allocations through
// AllocOrAbort).
void ReadSettings(FILE* file);

// Opens name through Ffopen in text mode and reads it into the store. 0, or
// -1 when Ffopen gave no stream (in the updater: the user chose Cancel).
int LoadSettings(const char* name);

// Frees the store and forgets the values that the accessors keep for the run;
// the entry calls it once the run has ended.
void ReleaseSettings();

// Copies the first value of key (or fallback when the key is missing) into
// buffer, cut to size - 1 bytes at a character boundary. Returns buffer.
char* GetSetting(const char* key, char* buffer, size_t size, const char* fallback);

// atoi of the first value of key, or fallback when the key is missing.
int GetSettingInt(const char* key, int fallback);

// The keyed settings the program knows, one row each: name, key, kind,
// default, when it is looked up, and the capacity of its buffer. The store's
// accessors and the maker's check both read this table.
enum SettingKind {
    kSettingText,      // text; the default when missing
    kSettingOptional,  // text; absent (null) when missing
    kSettingNumber,    // atoi rules; the default when missing
    kSettingIgnored,   // carried by makers' files, never read
};
enum SettingLookup {
    kLookupEachUse,  // looked up again on every call, into the same buffer
    kLookupOnce,     // looked up on first use and kept for the run
};
// clang-format off
#define VN_SETTINGS(X) \
    X(kSettingRegGlobal,     "REG_GLOBAL",    kSettingText,     "-",               kLookupOnce,    kSettingValueCapacity)  \
    X(kSettingRegLocal,      "REG_LOCAL",     kSettingText,     "-",               kLookupOnce,    kSettingValueCapacity)  \
    X(kSettingIniFile,       "INI_FILE",      kSettingText,     "-",               kLookupOnce,    kSettingValueCapacity)  \
    X(kSettingIniSection,    "INI_SECTION",   kSettingText,     "-",               kLookupOnce,    kSettingValueCapacity)  \
    X(kSettingTitleBar,      "TITLEBAR",      kSettingText,     kTextDefaultTitle, kLookupEachUse, kSettingValueCapacity)  \
    X(kSettingInstTo,        "INSTTO",        kSettingText,     "VELNOR_APP",      kLookupEachUse, kSettingValueCapacity)  \
    X(kSettingInstFol,       "INSTFOL",       kSettingOptional, nullptr,           kLookupEachUse, kSettingValueCapacity)  \
    X(kSettingExeName,       "EXENAME",       kSettingText,     "velnor.exe",      kLookupEachUse, kSettingValueCapacity)  \
    X(kSettingInstMakeFol,   "INSTMAKEFOL",   kSettingNumber,   "0",               kLookupOnce,    0)                      \
    X(kSettingKeyFile,       "KEYFILE",       kSettingOptional, nullptr,           kLookupEachUse, kSettingValueCapacity)  \
    X(kSettingChkReg,        "CHKREG",        kSettingOptional, nullptr,           kLookupEachUse, kSettingValueCapacity)  \
    X(kSettingChkRegVer,     "CHKREGVER",     kSettingNumber,   "0",               kLookupOnce,    0)                      \
    X(kSettingChkRegVerHigh, "CHKREGVERHIGH", kSettingNumber,   "0",               kLookupOnce,    0)                      \
    X(kSettingInstReadme,    "INSTREADME",    kSettingText,     "-",               kLookupEachUse, kSettingValueCapacity)  \
    X(kSettingInstReadmeFl,  "INSTREADMEFL",  kSettingText,     "readme.txt",      kLookupEachUse, kSettingValueCapacity)  \
    X(kSettingInstGroup,     "INST_GROUP",    kSettingIgnored,  nullptr,           kLookupEachUse, 0)
// clang-format on

#define VN_SETTING_ID(id, key, kind, fallback, lookup, capacity) id,
enum SettingKey { VN_SETTINGS(VN_SETTING_ID) kSettingKeyCount };
#undef VN_SETTING_ID

struct SettingRow {
    const char* key;
    SettingKind kind;
    const char* fallback;  // null: absent when missing
    SettingLookup lookup;
    size_t capacity;  // of the accessor's buffer (0 for numbers)
};
extern const SettingRow kSettingRows[kSettingKeyCount];

// The row of key, or null for a key the program never reads.
const SettingRow* FindSettingRow(const char* key);

// The accessor of every text setting: its value in the setting's own buffer
// (valid for the run; a setting looked up on each use rewrites it), the
// default when missing, null for an absent optional setting. A leading "-"
// means "not used" for REG_GLOBAL and INSTREADME; that is for the caller.
const char* SettingText(SettingKey key);

// The same, into the caller's buffer (the readme texts are read into 128 or
// 512 bytes). An absent optional setting gives the empty text.
char* SettingTextInto(SettingKey key, char* buffer, size_t size);

// The accessor of every number setting.
int SettingNumber(SettingKey key);

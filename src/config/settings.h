// The keyed settings of install.env: one "KEY value" per line at the top of
// the file, read once at start-up into the setting store and obtained by the
// rest of the program through one accessor per key, each with its default.
#pragma once

#include <stddef.h>
#include <stdio.h>

// The settings file as the setup pass unpacks it into the work folder.
inline constexpr char kSettingsFileName[] = "install.env";

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
inline constexpr SettingParseOptions kUpdaterSettingRules = {400, true};

// Reads settings lines from file and hands each to handler. Never fails.
void ParseSettings(FILE* file, const SettingParseOptions& options, SettingLineHandler handler,
                   void* context, SettingParseResult* result);

// Appends the settings of file to the store (allocations through
// AllocOrAbort).
void ReadSettings(FILE* file);

// Opens name through Ffopen in text mode and reads it into the store. The
// first call registers the store's release at exit. Returns 0 (Ffopen never
// lets a failure through).
int LoadSettings(const char* name);

// Frees the store and forgets the values that the accessors keep for the run.
void ReleaseSettings();

// Copies the first value of key (or fallback when the key is missing) into
// buffer, cut to size - 1 bytes at a character boundary. Returns buffer.
char* GetSetting(const char* key, char* buffer, size_t size, const char* fallback);

// atoi of the first value of key, or fallback when the key is missing.
int GetSettingInt(const char* key, int fallback);

// One accessor per key. Texts stay valid for the run; an accessor that looks
// its key up again on every call rewrites its own buffer. Null means absent.
const char* SettingRegGlobal();   // "-" when missing; a leading "-" means unused
const char* SettingRegLocal();    // "-"
const char* SettingIniFile();     // "-"
const char* SettingIniSection();  // "-"
const char* SettingTitleBar();    // the default product title
const char* SettingInstTo();      // "VELNOR_APP"
const char* SettingInstFol();     // absent when missing
const char* SettingExeName();     // "velnor.exe"
int SettingInstMakeFol();         // 0
const char* SettingKeyFile();     // absent when missing
const char* SettingChkReg();      // absent when missing
int SettingChkRegVer();           // 0
int SettingChkRegVerHigh();       // 0
// The readme texts are read into the caller's buffer (128 bytes for the
// start-up window, 512 for the end dialog).
char* SettingInstReadme(char* buffer, size_t size);    // "-": no readme
char* SettingInstReadmeFl(char* buffer, size_t size);  // "readme.txt"

// TITLEBAR followed by " アップデータ", freshly formatted on every call.
const char* WindowTitle();

// The name of the single-instance mutex: the window title with every real
// backslash (not the second byte of a double-byte character) turned into a
// full-width backslash, since the system reads a backslash in a mutex name as
// a namespace separator and refuses unknown namespaces. Returns out.
char* SingleInstanceName(char* out, size_t size);

// Start-up check of the setup files: when name cannot be found, tells the
// user that files needed for start-up are missing, removes the work folder
// and ends the process with -1. Returns 0 otherwise.
int CheckSetupFiles(const char* name);

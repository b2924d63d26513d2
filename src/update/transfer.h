// The [ini] and [reg] lines of install.env turned into profile entries and
// registry string values: the two line grammars, the placeholders that stand
// for the game folder and the CD-ROM drive, and the unescaping of text pasted
// from a registry export. Portable: the drive search and the registry write
// are the Win32 side's, handed in or done by the caller.
//
// [ini] line, one profile entry:
//
//   key=value            key: the expanded line up to its first "="
//                        value: everything after it; nothing is trimmed, so
//                        "key=" and "=value" are accepted as they stand
//   no "=" anywhere      rejected
//
// [reg] line, one string value, as a registry export writes it:
//
//   "name"="data"        the line is unescaped first (\\ -> \, \" -> ", a
//                        backslash before any other character just goes),
//                        then its placeholders are replaced
//                        name: from the second byte (the opening quotation
//                        mark, whatever it is) up to the first quote, equals,
//                        quote that begins at or after that byte
//                        data: everything after the first quote, equals,
//                        quote of the text, its last byte (the closing
//                        quotation mark) dropped; empty data stays empty
//   [HKEY_...\Key]       no quote, equals, quote sequence: rejected, as are
//   @="default"          the default value and values of any other type
//   "v"=dword:00000001
//
// Placeholders, replaced in this order, each only at its first occurrence:
//
//   [ini]   REP_CDROMDRIVE   the CD-ROM root, as "Q:\"
//           REP_INSTALL      the game folder, as "C:\Games\Title"
//   [reg]   REP_CDROM        the CD-ROM root ("REP_CDROMDRIVE" becomes "Q:\DRIVE")
//           REP_INSTALL      the game folder
//
// The [reg] placeholders go in after the unescaping, so the replacement texts
// keep their single backslashes while paths written in the line are doubled.
// Every search steps over double-byte characters: a trail byte 0x5C is never
// a backslash, and a match never begins on a second byte.
#pragma once

#include <stddef.h>

#include "base/text.h"

// The words of the two grammars, for the updater and for the maker's check.
inline constexpr char kIniSeparator = '=';        // key=value
inline constexpr char kRegSeparator[] = "\"=\"";  // "name"="data"
inline constexpr char kPlaceholderInstall[] = "REP_INSTALL";
inline constexpr char kPlaceholderIniDrive[] = "REP_CDROMDRIVE";
inline constexpr char kPlaceholderRegDrive[] = "REP_CDROM";

enum {
    kTransferTextCapacity = kLineCapacity,  // expanded lines, the tail, each output field
    kUnescapeCapacity = 520,                // the unescaped [reg] line
};

enum TransferResult {
    kTransferAccepted = 0,
    kTransferMalformed = -1,  // not a line of its section's grammar
    // The unescaped or expanded text does not fit its buffer (a long game
    // folder in a long line). Skipped like a malformed line: a line cut short
    // would write a wrong path that looks right.
    kTransferTooLong = -2,
};

// Returns the CD-ROM root ("Q:\"), or null for none (the placeholder then
// goes without a trace). The updater passes its drive search, which answers
// "E:\" itself when the machine has no CD-ROM drive.
typedef const char* (*CdromRootFinder)();

// What the placeholders stand for.
struct TransferPlaces {
    const char* install;         // REP_INSTALL: the game folder as it was located
    CdromRootFinder cdrom_root;  // asked only when a line names the drive
};

// The two fields of one accepted line; both are empty after a rejection.
struct TransferEntry {
    char name[kTransferTextCapacity];  // profile key, or registry value name
    char data[kTransferTextCapacity];  // profile value, or registry data
};

// Expand the placeholders of one section's lines into the caller's buffer,
// which is left empty when the result is not accepted.
TransferResult ExpandIniPlaceholders(const char* text, const TransferPlaces* places,
                                     char expanded[kTransferTextCapacity]);
TransferResult ExpandRegPlaceholders(const char* text, const TransferPlaces* places,
                                     char expanded[kTransferTextCapacity]);

// Removes the registry export's escapes into the caller's buffer, which is
// left empty when the result does not fit. A backslash keeps the whole
// character after it, so an escaped double-byte character stays one
// character.
TransferResult UnescapeRegText(const char* text, char unescaped[kUnescapeCapacity]);

// Split one line of its section into *entry, with the placeholders replaced.
TransferResult ParseIniLine(const char* line, const TransferPlaces* places, TransferEntry* entry);
TransferResult ParseRegLine(const char* line, const TransferPlaces* places, TransferEntry* entry);

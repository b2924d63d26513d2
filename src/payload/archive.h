// The payload archive appended to the updater's executable: its byte layout,
// the locator that reads the trailer, the cursor that steps from one entry
// header to the next, the structure check built on it, and the writer of the
// same layout that the maker's tool uses.
//
// File layout (all integers little-endian, offsets absolute):
//
//   0 .. A-1     the executable image
//   A .. L-5     entries, then the end marker (u16 0) and two more zero bytes,
//                or up to nine: vnpack pads the file to a multiple of 8 bytes
//   L-4 .. L-1   trailer: u32 A, the offset of the first entry
//   L .. C-1     a signed updater: up to 7 zero bytes, which the signing tool
//                adds to start the table on a multiple of 8 (none after
//                vnpack's padding)
//   C ..         a signed updater's certificate table (Authenticode), which
//                the image's security directory places at the very end;
//                unsigned, L is the file's length
//
// ArchiveSize S = (L - 4) - A: everything from the first entry up to the trailer.
//
// Entry:
//   u16   name length, terminator included (1 .. 256; 0 is the end marker)
//   ...   name: code page 932, relative, backslash separators, zero-terminated
//   u32   uncompressed size; 0xFFFFFFFF marks a folder (name ends in a backslash)
//   u32   compressed size (written 0 for a folder, never read)
//   -- files only --
//   u64   last-write time as a Windows FILETIME
//   ...   compressed size bytes: one zlib stream
//
// Entries come in the order the reader needs: folders before what they hold,
// and the setup files at the top level before the first nested folder.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

enum {
    kBlockSize = 131072,       // unit of every read, write and progress value
    kNameFieldCapacity = 256,  // name field, terminator included
    kEntrySizesLength = 8,     // the two u32 size fields
    kEntryTimeLength = 8,      // the FILETIME of a file entry
    kTrailerLength = 4,
};
const uint32_t kFolderMark = 0xFFFFFFFFu;
const uint32_t kLargestSize = 0x7FFFFFFFu;  // sizes are used as signed 32-bit values

// Every extracted file is first written under a sibling name (folder of the
// destination + "~vn" + five digits + ".tmp", and the old file moved aside to
// "~vb" + five digits + ".tmp") and moved over the destination when the whole
// payload is good, so the folder part of every file must leave room for it.
enum { kTemporaryNameLength = 12 };

// An archive located in an open stream.
struct PayloadArchive {
    FILE* stream;
    int32_t file_length;  // L: where the trailer ends (the file's length when unsigned)
    int32_t offset;       // A
    int32_t size;         // S
};

// One entry header as read from the archive.
struct PayloadEntryHeader {
    int32_t offset;        // of the name length field
    uint16_t name_length;  // terminator included
    char name[kNameFieldCapacity];
    uint32_t uncompressed_size;
    uint32_t compressed_size;
    bool is_folder;
    uint64_t filetime;    // files only
    int32_t data_offset;  // files only: offset of the zlib stream
};

// Why an archive was refused: a short English reason for the maker's tool and
// the offset of the entry concerned. The updater shows only its one message.
struct ArchiveFault {
    const char* reason;
    int32_t offset;
    char name[kNameFieldCapacity];
};

// Fills *fault (when given) and returns -1.
int ReportArchiveFault(ArchiveFault* fault, const char* reason, int32_t offset, const char* name);

// What a Windows executable's headers say of its file: where the program's
// own bytes end (its headers and the data of its sections), and where its
// certificate table starts and how long it is (0 and 0 when unsigned).
struct ImageLayout {
    uint32_t image_end;
    uint32_t certificates;
    uint32_t certificates_size;
};
// False when the file is no Windows executable.
bool ReadImageLayout(FILE* stream, ImageLayout* layout);

// Positions an open stream on the first entry by reading the trailer. Unlike
// the first updaters, the trailer is checked: the file must be shorter than
// 2 GiB, and A must lie inside it with room for the end marker; in a signed
// file, past the program as well. 0 or -1.
int LocateArchive(FILE* stream, PayloadArchive* archive);

// Locates the archive in the running program's own file (OsSelfFile): every
// pass reads the file the updater started from, through the one handle held
// since the first. 0, or -1 when the file cannot be opened or has no
// archive. The stream stays open.
int OpenPayloadArchive(PayloadArchive* archive);

// A walk over the entry headers, in archive order.
struct ArchiveCursor {
    const PayloadArchive* archive;
    int32_t position;  // of the next header
};
void ArchiveBegin(const PayloadArchive* archive, ArchiveCursor* cursor);

// Reads the header at the cursor and steps over the entry's data, with every
// bounds check: a complete header inside the archive, a terminated name field,
// sizes below 2^31, the data inside the archive. For a file the stream is
// left at its data. 1 with *entry filled; 0 at the end marker, which must be
// followed by its two zero bytes and then the trailer; -1 with *fault filled.
// Names are not judged here (IsSafeEntryName).
int ArchiveNextEntry(ArchiveCursor* cursor, PayloadEntryHeader* entry, ArchiveFault* fault);

// True when the name cannot lead outside the destination folder and fits the
// path buffers once joined to a destination of destination_length bytes:
// relative, no drive, no "." or ".." component (nor one made of dots and
// spaces only, which Windows would shorten), no empty component, no '/', ':'
// or control byte, no device name, valid code page 932 with every code one the
// code page defines, a folder ending in a backslash and a file not. On refusal
// *reason says why.
bool IsSafeEntryName(const char* name, bool is_folder, size_t destination_length,
                     const char** reason);

// Names that Windows would take for one and the same file: equal once folded
// as NTFS compares names (FoldNameCp932: letter case, and the characters that
// code page 932 has under two or three codes), or a file whose name is a
// folder of another entry ("data" beside "data\" or "DATA\x.bin").
// Either way the copy would stop half-way or one file would replace another.
struct NameClashKey;
struct NameClashCheck {
    char* text;  // each name twice: folded (folders without the backslash), then as given
    size_t text_length, text_capacity;
    NameClashKey* keys;
    size_t count, capacity;
};
// Adds a safe name (IsSafeEntryName) of the entry at offset.
void AddNameForClash(NameClashCheck* check, const char* name, bool is_folder, int32_t offset);
// 0, or -1 with *fault naming the later entry of the first clash found.
int FindNameClash(NameClashCheck* check, ArchiveFault* fault);
// Frees the check's blocks and empties it.
void FreeNameClashCheck(NameClashCheck* check);

// The whole archive through the cursor, every name checked as well (alone and
// against the others), before anything is written. Leaves the stream on the first entry. 0, or -1
// with *fault filled.
int CheckArchive(const PayloadArchive* archive, size_t destination_length, ArchiveFault* fault);

// The writer. An entry header in out (kEntryHeaderCapacity bytes): the name
// without its terminator; a folder's sizes are written as the folder mark and
// 0, and it has no time. Returns the header's length, or 0 when the name does
// not fit its field.
enum { kEntryHeaderCapacity = 2 + kNameFieldCapacity + kEntrySizesLength + kEntryTimeLength };
size_t EncodeEntryHeader(const char* name, bool is_folder, uint32_t uncompressed_size,
                         uint32_t compressed_size, uint64_t filetime, unsigned char* out);

// The end marker, its two zero bytes and the trailer naming the offset of the
// first entry, with the zero bytes that make a file of written_so_far bytes
// end on a multiple of 8. out holds kArchiveEndCapacity bytes; returns the
// length written.
enum {
    kArchiveEndLength = 4 + kTrailerLength,  // without padding
    kArchiveEndCapacity = kArchiveEndLength + 7,
};
size_t EncodeArchiveEnd(uint32_t archive_offset, uint64_t written_so_far, unsigned char* out);

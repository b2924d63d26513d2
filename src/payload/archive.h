// The payload archive appended to the updater's executable: its byte layout,
// the locator that reads the trailer, the entry header reader and the header
// walk that checks a whole archive before anything is written.
//
// File layout (all integers little-endian, offsets absolute):
//
//   0 .. A-1     the executable image
//   A .. L-5     entries, then the end marker (u16 0) and two more zero bytes
//   L-4 .. L-1   trailer: u32 A, the offset of the first entry
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

// Every extracted file is first written under this sibling name (folder of the
// destination + "~vn" + five digits + ".tmp") and moved over the destination
// when complete, so the folder part of every file must leave room for it.
enum { kTemporaryNameLength = 12 };

// An archive located in an open stream.
struct PayloadArchive {
    FILE* stream;
    int32_t file_length;  // L
    int32_t offset;       // A
    int32_t size;         // S
};

// One entry header as read from the archive.
struct PayloadEntryHeader {
    int32_t offset;        // of the name length field
    uint16_t name_length;  // 0 for the end marker
    char name[kNameFieldCapacity];
    uint32_t uncompressed_size;
    uint32_t compressed_size;
    bool is_folder;
    uint64_t filetime;    // files only; read by CheckArchive, not by ReadEntryHeader
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

// Positions an open stream on the first entry by reading the trailer. Unlike
// the first updaters, the trailer is checked: the file must be shorter than
// 2 GiB, and A must lie inside it with room for the end marker. 0 or -1.
int LocateArchive(FILE* stream, PayloadArchive* archive);

// Opens the running program's own file (OsOpenSelf), so that an updater saved
// under any folder name opens, and positions it on the first entry. Sets
// ArchiveSize. Null when the file cannot be opened or has no archive.
FILE* OpenPayloadArchive(PayloadArchive* archive);
FILE* OpenPayloadArchive();
int32_t ArchiveSize();

// Reads the header of the entry at the stream's position, up to and including
// the size fields. 0 on success (an end marker has name_length 0), -1 when a
// field is cut short, -2 when the name field is too long or unterminated.
// The stream must stand at `offset`; only fields are validated, not the name.
int ReadEntryHeader(FILE* stream, int32_t offset, PayloadEntryHeader* entry);

// True when the name cannot lead outside the destination folder and fits the
// path buffers once joined to a destination of destination_length bytes:
// relative, no drive, no "." or ".." component (nor one made of dots and
// spaces only, which Windows would shorten), no empty component, no '/', ':'
// or control byte, valid code page 932, a folder ending in a backslash and a
// file not. On refusal *reason says why.
bool IsSafeEntryName(const char* name, bool is_folder, size_t destination_length,
                     const char** reason);

// Called for every entry by CheckArchive, after its header has been checked.
// A non-zero return stops the walk with that result.
typedef int (*EntryVisitor)(void* context, const PayloadEntryHeader* entry);

// Walks every header of the archive, seeking over the data: every header
// complete, every name safe for a destination of destination_length bytes,
// every entry's data inside the archive, sizes below 2^31, and the end marker
// followed by its two zero bytes and then the trailer. Leaves the stream on
// the first entry. 0, or -1 with *fault filled.
int CheckArchive(const PayloadArchive* archive, size_t destination_length, ArchiveFault* fault,
                 EntryVisitor visitor = nullptr, void* context = nullptr);

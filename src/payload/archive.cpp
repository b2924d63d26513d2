// Locating the payload archive, stepping over its headers, and writing them.
#include "payload/archive.h"
#include "payload/journal.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "base/alloc.h"
#include "base/bytes.h"
#include "base/platform.h"
#include "base/text.h"

namespace {

bool ReadExactly(FILE* stream, void* buffer, size_t length) {
    return fread(buffer, 1, length, stream) == length;
}

// Device names that Windows opens instead of a file, in any folder, with
// any extension and in any letter case: CON, PRN, AUX, NUL, COM0..9,
// LPT0..9 (COM0 and LPT0 too, on newer systems) and the console's CONIN$
// and CONOUT$.
bool IsDeviceName(const char* begin, const char* end) {
    // The part before the first dot, without the spaces Windows drops there.
    const char* stem_end = begin;
    while (stem_end < end && *stem_end != '.') ++stem_end;
    while (stem_end > begin && stem_end[-1] == ' ') --stem_end;
    size_t length = (size_t)(stem_end - begin);
    char stem[8] = "";
    if (length < 3 || length > 7) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = begin[i];
        stem[i] = c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
    }
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (strcmp(stem, device) == 0) return true;
    }
    return length == 4 && (strncmp(stem, "COM", 3) == 0 || strncmp(stem, "LPT", 3) == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

// Why Windows cannot hold a component as it is written, or null. A trailing
// dot or space would be dropped, so "readme.txt." would replace "readme.txt".
const char* ComponentProblem(const char* begin, const char* end) {
    if (IsDotsOnlyComponent(begin, end)) return "'.' or '..' component";
    if (end[-1] == '.' || end[-1] == ' ') return "name component ends in a dot or a space";
    if (IsDeviceName(begin, end)) return "device name (CON, NUL, COM1...) as a name component";
    // '|' (0x7C) can be the second byte of a double-byte character; the
    // others cannot.
    for (const char* p = begin; p < end; p += CharLength(p)) {
        if (CharLength(p) == 1 && strchr("<>\"|?*", *p)) return "name has one of < > \" | ? *";
    }
    return nullptr;
}

}  // namespace

int ReportArchiveFault(ArchiveFault* fault, const char* reason, int32_t offset, const char* name) {
    if (fault) {
        fault->reason = reason;
        fault->offset = offset;
        CopyText(fault->name, sizeof fault->name, name ? name : "");
    }
    return -1;
}

bool ReadImageLayout(FILE* stream, ImageLayout* layout) {
    memset(layout, 0, sizeof *layout);
    unsigned char dos[64];
    if (fseek(stream, 0, SEEK_SET) != 0 || !ReadExactly(stream, dos, sizeof dos) || dos[0] != 'M' ||
        dos[1] != 'Z')
        return false;
    ByteCursor dos_fields = ByteCursorOver(dos, sizeof dos);
    uint32_t pe = ReadU32At(&dos_fields, 0x3C);
    // Signature, file header (20 bytes), optional header up to the security
    // directory: 128 bytes into a PE32 header, 144 into a PE32+ one.
    unsigned char header[24 + 152];
    if (pe > 0x7FFF0000u || fseek(stream, (long)pe, SEEK_SET) != 0 ||
        !ReadExactly(stream, header, sizeof header) || memcmp(header, "PE\0\0", 4) != 0)
        return false;
    ByteCursor fields = ByteCursorOver(header, sizeof header);
    uint32_t magic = ReadU16At(&fields, 24);
    size_t directories = magic == 0x10B ? 24 + 92 : magic == 0x20B ? 24 + 108 : 0;
    if (directories != 0 && ReadU32At(&fields, directories) > 4) {
        size_t security = directories + 4 + 8 * 4;
        layout->certificates = ReadU32At(&fields, security);
        layout->certificates_size = ReadU32At(&fields, security + 4);
    }
    // The section table follows the optional header: 40 bytes a section, the
    // size of its data at +16 and the data's file offset at +20.
    uint32_t table = pe + 24 + ReadU16At(&fields, 20);
    uint32_t sections = ReadU16At(&fields, 6);
    layout->image_end = table + 40 * sections;
    if (fseek(stream, (long)table, SEEK_SET) != 0) return false;
    for (uint32_t i = 0; i < sections; ++i) {
        unsigned char section[40];
        if (!ReadExactly(stream, section, sizeof section)) return false;
        ByteCursor section_fields = ByteCursorOver(section, sizeof section);
        uint64_t end = (uint64_t)ReadU32At(&section_fields, 20) + ReadU32At(&section_fields, 16);
        layout->image_end =
            (uint32_t)std::min<uint64_t>(std::max<uint64_t>(layout->image_end, end), 0xFFFFFFFFu);
    }
    return true;
}

int LocateArchive(FILE* stream, PayloadArchive* archive) {
    memset(archive, 0, sizeof *archive);
    if (!stream || fseek(stream, 0, SEEK_END) != 0) return -1;
    long length = ftell(stream);
    if (length < 0 || (unsigned long)length > 0x7FFFFFFFul) return -1;
    // A signed updater: the image's security directory (a file offset, unlike
    // the other directories) places the certificate table at the end of the
    // file, and the signing tool may have put up to 7 zero bytes before it to
    // start it on a multiple of 8.
    ImageLayout image;
    bool is_signed = ReadImageLayout(stream, &image) && image.certificates_size != 0 &&
                     image.certificates <= (uint32_t)length &&
                     (uint32_t)length - image.certificates == image.certificates_size;
    long end = is_signed ? (long)image.certificates : length;
    int most_padding = is_signed ? 7 : 0;
    // The bytes before the end: the trailer and what may be padding.
    unsigned char tail[kTrailerLength + 7];
    long tail_length = std::min<long>(end, kTrailerLength + most_padding);
    if (tail_length < kTrailerLength || fseek(stream, end - tail_length, SEEK_SET) != 0 ||
        !ReadExactly(stream, tail, (size_t)tail_length))
        return -1;
    // Which of the zero bytes before the table are padding, the bytes cannot
    // tell: a trailer may end in zeros too (0x1B800 is 00 B8 01 00). Each
    // guess, from no padding up, reads a trailer; the first whose offset lies
    // past the program and before the trailer is it. A guess too short reads
    // the true offset shifted down by whole bytes, a 256th of it or less,
    // which points into the program.
    long length_found = -1;
    uint32_t offset = 0;
    for (int padding = 0; padding <= most_padding; ++padding) {
        long at = tail_length - padding;  // in tail, where the trailer would end
        if (at < kTrailerLength || (padding > 0 && tail[at] != 0)) break;
        // Positions are signed 32-bit values; the smallest archive is the
        // end marker with its padding, followed by the trailer.
        long candidate = end - padding;
        ByteCursor trailer = ByteCursorOver(tail + at - kTrailerLength, kTrailerLength);
        offset = ReadU32(&trailer);
        if (candidate >= 8 && offset <= (uint32_t)candidate - 8 &&
            (!is_signed || offset >= image.image_end)) {
            length_found = candidate;
            break;
        }
    }
    if (length_found < 0) return -1;
    length = length_found;
    if (fseek(stream, (long)offset, SEEK_SET) != 0) return -1;
    archive->stream = stream;
    archive->file_length = (int32_t)length;
    archive->offset = (int32_t)offset;
    archive->size = (int32_t)(length - kTrailerLength - (long)offset);
    return 0;
}

int OpenPayloadArchive(PayloadArchive* archive) {
    FILE* stream = OsSelfFile();
    if (!stream) return -1;
    return LocateArchive(stream, archive);
}

void ArchiveBegin(const PayloadArchive* archive, ArchiveCursor* cursor) {
    cursor->archive = archive;
    cursor->position = archive->offset;
}

int ArchiveNextEntry(ArchiveCursor* cursor, PayloadEntryHeader* entry, ArchiveFault* fault) {
    FILE* stream = cursor->archive->stream;
    const int32_t end = cursor->archive->file_length - kTrailerLength;
    const int32_t position = cursor->position;
    memset(entry, 0, sizeof *entry);
    entry->offset = position;
    if (ftell(stream) != position && fseek(stream, position, SEEK_SET) != 0)
        return ReportArchiveFault(fault, "cannot seek", position, "");
    unsigned char field[kEntrySizesLength];
    // A header that runs into the trailer is caught after each read.
    if (end - position < 2 || !ReadExactly(stream, field, 2))
        return ReportArchiveFault(fault, "end marker missing", position, "");
    ByteCursor length_field = ByteCursorOver(field, 2);
    entry->name_length = (uint16_t)ReadU16(&length_field);
    if (entry->name_length == 0) {
        // Two zero bytes, or up to seven more of the writer's padding, which
        // always ends the file on a multiple of 8: a padded archive cut short
        // inside its last stream (the trailer kept) does not pass for whole.
        int32_t rest = end - position - 2;
        bool padded = rest > 2 && (end + kTrailerLength) % 8 == 0;
        unsigned char padding[9];
        bool zeros =
            (rest == 2 || (padded && rest <= 9)) && ReadExactly(stream, padding, (size_t)rest);
        for (int32_t i = 0; zeros && i < rest; ++i) zeros = padding[i] == 0;
        if (!zeros)
            return ReportArchiveFault(
                fault, "end marker not followed by two zero bytes and the trailer", position, "");
        return 0;
    }
    if (entry->name_length > kNameFieldCapacity)
        return ReportArchiveFault(fault, "bad name field", position, "");
    if (!ReadExactly(stream, entry->name, entry->name_length))
        return ReportArchiveFault(fault, "header cut short", position, "");
    // The reader adds no terminator: a field without one is damaged.
    if (!memchr(entry->name, '\0', entry->name_length))
        return ReportArchiveFault(fault, "bad name field", position, "");
    if (!ReadExactly(stream, field, kEntrySizesLength))
        return ReportArchiveFault(fault, "header cut short", position, "");
    ByteCursor sizes = ByteCursorOver(field, kEntrySizesLength);
    entry->uncompressed_size = ReadU32(&sizes);
    entry->compressed_size = ReadU32(&sizes);
    entry->is_folder = entry->uncompressed_size == kFolderMark;
    int32_t next = position + 2 + entry->name_length + kEntrySizesLength;
    if (next > end)
        return ReportArchiveFault(fault, "header runs into the trailer", position, entry->name);
    if (!entry->is_folder) {
        if (entry->uncompressed_size > kLargestSize || entry->compressed_size > kLargestSize)
            return ReportArchiveFault(fault, "size of 2 GiB or more", position, entry->name);
        unsigned char time[kEntryTimeLength];
        if (end - next < kEntryTimeLength || !ReadExactly(stream, time, sizeof time))
            return ReportArchiveFault(fault, "file time cut short", position, entry->name);
        ByteCursor time_field = ByteCursorOver(time, sizeof time);
        entry->filetime = ReadU64(&time_field);
        next += kEntryTimeLength;
        entry->data_offset = next;
        if ((uint32_t)(end - next) < entry->compressed_size)
            return ReportArchiveFault(fault, "data runs past the end of the archive", position,
                                      entry->name);
        next += (int32_t)entry->compressed_size;
    }
    cursor->position = next;
    return 1;
}

namespace {

// True when the top-level part of name is the journal's name in any case:
// the journal of a copy lives in the game's folder beside the payload's files.
bool IsJournalComponent(const char* name) {
    char first[kPathCapacity];
    CopyText(first, sizeof first, name);
    if (char* separator = (char*)FindChar(first, '\\')) *separator = '\0';
    LowerCaseCp932(first);
    return strcmp(first, kJournalName) == 0;
}

}  // namespace

bool IsSafeEntryName(const char* name, bool is_folder, size_t destination_length,
                     const char** reason) {
    const char* why = nullptr;
    size_t length = strlen(name);
    const char* last_separator = nullptr;
    if (length == 0) {
        why = "empty name";
    } else if (!IsValidCp932(name, length)) {
        why = "name is not valid code page 932 (or has a code it leaves undefined)";
    } else {
        // Trail bytes lie in 0x40..0xFC, so '/', ':', '.' and control bytes
        // are always characters of their own; only 0x5C needs stepping over.
        for (const char* p = name; *p; ++p) {
            unsigned char c = (unsigned char)*p;
            if (c < 0x20 || c == 0x7F) why = "control character in name";
            if (c == '/' || c == ':') why = "name has '/' or ':' (absolute path, drive or stream)";
        }
        const char* component = name;
        for (const char* p = name; !why; p += CharLength(p)) {
            if (*p != '\\' && *p != '\0') continue;
            if (p == component) {
                // Empty component: a leading backslash, a doubled one, or the
                // end right after the folder's closing backslash.
                bool folder_end = *p == '\0' && is_folder && p != name;
                if (!folder_end) why = p == name ? "absolute name" : "empty path component";
            } else {
                why = ComponentProblem(component, p);
            }
            if (*p == '\0') break;
            last_separator = p;
            component = p + 1;
        }
        if (!why && IsJournalComponent(name)) why = "name of the update's own journal";
        if (!why) {
            bool ends_in_separator = last_separator && last_separator + 1 == name + length;
            if (is_folder && !ends_in_separator) why = "folder name without closing backslash";
            if (!is_folder && ends_in_separator) why = "file name ends in a backslash";
        }
    }
    if (!why) {
        // destination + '\' + name, and for a file also its temporary sibling.
        size_t joined = destination_length + 1 + length;
        size_t folder_part = last_separator ? (size_t)(last_separator - name) + 1 : 0;
        size_t temporary = destination_length + 1 + folder_part + kTemporaryNameLength;
        if (joined > kPathCapacity - 1 || (!is_folder && temporary > kPathCapacity - 1))
            why = "path too long";
    }
    if (reason) *reason = why;
    return why == nullptr;
}

// One name a file or a folder of an entry takes on Windows: the entry's
// whole name, and each of its folders.
struct NameClashKey {
    size_t folded;    // offset of the folded name in the check's text
    size_t length;    // of the part that is this key
    size_t original;  // offset of the entry's name as given
    int32_t offset;   // of the entry
    bool is_file;
};

namespace {

size_t StoreClashText(NameClashCheck* check, const char* text, size_t length) {
    check->text = (char*)GrowBlock(check->text, check->text_length, &check->text_capacity,
                                   check->text_length + length + 1, 1);
    size_t at = check->text_length;
    memcpy(check->text + at, text, length);
    check->text[at + length] = '\0';
    check->text_length += length + 1;
    return at;
}

void AddClashKey(NameClashCheck* check, const NameClashKey& key) {
    check->keys = (NameClashKey*)GrowBlock(check->keys, check->count, &check->capacity,
                                           check->count + 1, sizeof(NameClashKey));
    check->keys[check->count++] = key;
}

}  // namespace

void AddNameForClash(NameClashCheck* check, const char* name, bool is_folder, int32_t offset) {
    char folded[kNameFieldCapacity];
    if (!CopyText(folded, sizeof folded, name)) return;  // never for a header's name
    FoldNameCp932(folded);
    size_t length = strlen(folded);
    if (is_folder && length > 0) --length;  // the closing backslash
    NameClashKey key = {StoreClashText(check, folded, length), length, 0, offset, !is_folder};
    key.original = StoreClashText(check, name, strlen(name));
    AddClashKey(check, key);
    const char* text = check->text + key.folded;
    for (const char* p = text; *p; p += CharLength(p)) {
        if (*p != '\\') continue;
        NameClashKey folder = key;
        folder.length = (size_t)(p - text);
        folder.is_file = false;
        AddClashKey(check, folder);
    }
}

int FindNameClash(NameClashCheck* check, ArchiveFault* fault) {
    const char* text = check->text;
    auto compare = [text](const NameClashKey& a, const NameClashKey& b) {
        int order = memcmp(text + a.folded, text + b.folded, std::min(a.length, b.length));
        if (order != 0) return order;
        return a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
    };
    std::sort(check->keys, check->keys + check->count,
              [&](const NameClashKey& a, const NameClashKey& b) {
                  int order = compare(a, b);
                  if (order != 0) return order < 0;
                  if (a.is_file != b.is_file) return b.is_file;  // folders first
                  return a.offset < b.offset;
              });
    // Within one name: folders only is fine (a folder and what it holds);
    // any file beside another file or beside a folder is a clash.
    for (size_t begin = 0, end; begin < check->count; begin = end) {
        size_t files = 0;
        const NameClashKey* later = nullptr;
        for (end = begin; end < check->count && compare(check->keys[begin], check->keys[end]) == 0;
             ++end) {
            const NameClashKey& key = check->keys[end];
            files += key.is_file;
            if (!later || key.offset > later->offset) later = &key;
        }
        if (files > 1 || (files == 1 && end - begin > 1)) {
            return ReportArchiveFault(fault,
                                      "another entry has the same name on Windows (letter case, "
                                      "one character under two codes, or a file and a folder "
                                      "of one name)",
                                      later->offset, text + later->original);
        }
    }
    return 0;
}

void FreeNameClashCheck(NameClashCheck* check) {
    free(check->text);
    free(check->keys);
    memset(check, 0, sizeof *check);
}

int CheckArchive(const PayloadArchive* archive, size_t destination_length, ArchiveFault* fault) {
    ArchiveCursor cursor;
    ArchiveBegin(archive, &cursor);
    PayloadEntryHeader entry;
    NameClashCheck names = {};
    int step;
    while ((step = ArchiveNextEntry(&cursor, &entry, fault)) == 1) {
        const char* reason = nullptr;
        if (!IsSafeEntryName(entry.name, entry.is_folder, destination_length, &reason)) {
            FreeNameClashCheck(&names);
            return ReportArchiveFault(fault, reason, entry.offset, entry.name);
        }
        AddNameForClash(&names, entry.name, entry.is_folder, entry.offset);
    }
    int clash = step == 0 ? FindNameClash(&names, fault) : -1;
    FreeNameClashCheck(&names);
    if (clash != 0) return -1;
    if (fseek(archive->stream, archive->offset, SEEK_SET) != 0)
        return ReportArchiveFault(fault, "cannot seek", archive->offset, "");
    return 0;
}

size_t EncodeEntryHeader(const char* name, bool is_folder, uint32_t uncompressed_size,
                         uint32_t compressed_size, uint64_t filetime, unsigned char* out) {
    size_t field = strlen(name) + 1;
    if (field > kNameFieldCapacity) return 0;
    unsigned char* p = PutLe16(out, (uint32_t)field);
    memcpy(p, name, field);
    p += field;
    if (is_folder) return (size_t)(PutLe32(PutLe32(p, kFolderMark), 0) - out);
    p = PutLe32(PutLe32(p, uncompressed_size), compressed_size);
    p = PutLe32(PutLe32(p, (uint32_t)filetime), (uint32_t)(filetime >> 32));
    return (size_t)(p - out);
}

size_t EncodeArchiveEnd(uint32_t archive_offset, uint64_t written_so_far, unsigned char* out) {
    size_t padding = (size_t)((8 - (written_so_far + kArchiveEndLength) % 8) % 8);
    memset(out, 0, 4 + padding);
    PutLe32(out + 4 + padding, archive_offset);
    return kArchiveEndLength + padding;
}

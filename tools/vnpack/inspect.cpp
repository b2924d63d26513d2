// vnpack list, test, extract and lint: the updater's own reader and engine
// applied to an updater file.
#include <errno.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "base/platform.h"
#include "base/text.h"
#include "lint.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "payload/journal.h"
#include "system.h"
#include "vnpack.h"

namespace {

// An updater file opened and its archive located, or the complaint made.
struct Updater {
    FILE* stream = nullptr;
    PayloadArchive archive = {};
    ~Updater() {
        if (stream) fclose(stream);
    }
};

// Where the program part of a Windows executable ends by its own headers:
// the furthest end of a section's data. 0 when it is not a Windows program.
//   0x3C  u32  offset of "PE\0\0"; after it, u16 section count at +6 and u16
//              optional header size at +20; the sections follow the optional
//              header, 40 bytes each, raw size at +16 and raw offset at +20.
uint64_t ProgramEnd(FILE* stream) {
    std::vector<unsigned char> head(65536);
    if (fseek(stream, 0, SEEK_SET) != 0) return 0;
    size_t got = fread(head.data(), 1, head.size(), stream);
    auto u16 = [&](size_t at) -> uint32_t {
        return at + 2 <= got ? (uint32_t)(head[at] | head[at + 1] << 8) : 0u;
    };
    auto u32 = [&](size_t at) -> uint32_t { return u16(at) | u16(at + 2) << 16; };
    if (got < 64 || head[0] != 'M' || head[1] != 'Z') return 0;
    size_t pe = u32(0x3C);
    if (pe + 24 > got || memcmp(&head[pe], "PE\0\0", 4) != 0) return 0;
    size_t sections = pe + 24 + u16(pe + 20);
    uint64_t end = 0;
    for (uint32_t i = 0; i < u16(pe + 6); ++i) {
        size_t at = sections + 40 * i;
        if (at + 40 > got) return 0;
        end = std::max<uint64_t>(end, (uint64_t)u32(at + 20) + u32(at + 16));
    }
    return end;
}

// Why a file whose archive cannot be read is no updater: a program with no
// payload, one cut short, or a payload without its end.
int RefuseWithoutArchive(const std::string& name, FILE* stream) {
    uint64_t program_end = ProgramEnd(stream);
    if (fseek(stream, 0, SEEK_END) != 0) return Complain(name, "cannot be read");
    uint64_t length = (uint64_t)ftell(stream);
    if (program_end == 0) return Refuse(name, "not an updater (not a Windows program)");
    if (length < program_end)
        return Refuse(name, "truncated: " + std::to_string(program_end - length) +
                                " bytes of the program are missing (an incomplete download?)");
    // vnpack pads the file to a multiple of 8; the program alone may be padded too.
    if (length < program_end + 8)
        return Refuse(name, "a bare updater program without a payload (vnpack build adds one)");
    return Refuse(name,
                  "truncated or damaged: the payload after the program has no end (an "
                  "incomplete download?)");
}

int ComplainFault(const std::string& name, const ArchiveFault& fault) {
    std::string where = "at offset " + std::to_string(fault.offset);
    if (fault.name[0]) where = "entry \"" + ToUtf8(fault.name) + "\" " + where;
    return Refuse(name, std::string("damaged archive: ") + (fault.reason ? fault.reason : "?") +
                            " (" + where + ")");
}

// Opens an updater and checks its whole archive structure (not the data).
int OpenUpdater(const std::string& name, Updater* updater) {
    std::error_code error;
    fs::path path = PathFromUtf8(name);
    if (fs::is_directory(path, error)) return Complain(name, "is a folder, not an updater");
    updater->stream = OpenPath(path, "rb");
    if (!updater->stream) return Complain(name, strerror(errno));
    if (LocateArchive(updater->stream, &updater->archive) != 0)
        return RefuseWithoutArchive(name, updater->stream);
    ArchiveFault fault = {};
    if (CheckArchive(&updater->archive, 0, &fault) != 0) {
        // The last four bytes of something else rarely point at a good
        // archive, but often inside the program itself.
        if ((uint64_t)updater->archive.offset < ProgramEnd(updater->stream))
            return RefuseWithoutArchive(name, updater->stream);
        return ComplainFault(name, fault);
    }
    return 0;
}

std::string FormatFiletime(uint64_t filetime) {
    const uint64_t kUnixEpochAsFiletime = 116444736000000000ull;
    if (filetime < kUnixEpochAsFiletime) return "-";
    time_t seconds = (time_t)((filetime - kUnixEpochAsFiletime) / 10000000);
    struct tm parts;
#ifdef _WIN32
    if (gmtime_s(&parts, &seconds) != 0) return "-";
#else
    if (!gmtime_r(&seconds, &parts)) return "-";
#endif
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

void PrintEntry(const PayloadEntryHeader* entry) {
    if (entry->is_folder) {
        printf("folder %10s %10s %6s  %-19s  %s\n", "-", "-", "-", "-",
               ToUtf8(entry->name).c_str());
        return;
    }
    char ratio[16] = "-";
    if (entry->uncompressed_size > 0)
        snprintf(ratio, sizeof ratio, "%.1f%%",
                 100.0 * entry->compressed_size / entry->uncompressed_size);
    printf("file   %10u %10u %6s  %-19s  %s\n", entry->uncompressed_size, entry->compressed_size,
           ratio, FormatFiletime(entry->filetime).c_str(), ToUtf8(entry->name).c_str());
}

int CountBlock(void* context, const unsigned char* data, size_t length, int32_t consumed) {
    *(uint64_t*)context += length;
    return 0;
}

// Inflates one file entry (the stream stands at its data); the problem, or null.
const char* TestEntry(FILE* stream, const PayloadEntryHeader* entry, const ExtractBuffers& buffers,
                      uint64_t* bytes) {
    uint64_t inflated = 0;
    int32_t consumed = 0;
    InflateResult result =
        InflateEntryData(stream, entry->compressed_size, entry->uncompressed_size, buffers.input,
                         buffers.output, CountBlock, &inflated, &consumed);
    *bytes += inflated;
    if (result == kInflateWrongSize)
        return "inflates to a size other than the stored one, or has bytes after its end";
    if (result != kInflateOk) return "zlib stream damaged (bad data or checksum)";
    return nullptr;
}

#ifndef _WIN32
// Entry paths as the Linux file system below the destination takes them:
// UTF-8 with slashes. The destination is UTF-8 as well, and read as code page
// 932 a UTF-8 character can swallow the backslash after it (あ is E3 81 82,
// and 0x82 is a lead byte): joined that way, files would land beside the
// destination instead of inside it. So the whole path is built here.
bool NativeEntryPath(const char* destination, const char* name, char* output, size_t capacity) {
    char separated[kPathCapacity];
    if (!CopyText(separated, sizeof separated, name)) return false;
    for (char* p = separated; *p; p += CharLength(p)) {
        if (*p == '\\') *p = '/';
    }
    char converted[4 * kPathCapacity];
    if (!OsCp932ToUtf8(separated, converted, sizeof converted)) return false;
    std::string path = destination;
    if (!path.empty() && path.back() != '/') path += '/';
    path += converted;
    if (path.size() >= capacity) return false;
    memcpy(output, path.c_str(), path.size() + 1);
    return true;
}
#endif

}  // namespace

int ListCommand(const Arguments& args) {
    const std::string& update = args.operands[0];
    Updater updater;
    if (int result = OpenUpdater(update, &updater)) return result;
    printf("archive offset %d, archive size %d\n", updater.archive.offset, updater.archive.size);
    printf("kind         size compressed  ratio  time (UTC)           name\n");
    ArchiveCursor cursor;
    ArchiveBegin(&updater.archive, &cursor);
    PayloadEntryHeader entry;
    ArchiveFault fault = {};
    int count = 0;
    while (ArchiveNextEntry(&cursor, &entry, &fault) == 1) {
        PrintEntry(&entry);
        ++count;
    }
    printf("%d entries\n", count);
    return 0;
}

int TestCommand(const Arguments& args) {
    const std::string& update = args.operands[0];
    Updater updater;
    if (int result = OpenUpdater(update, &updater)) return result;
    std::vector<unsigned char> input(kBlockSize), output(kBlockSize);
    ExtractBuffers buffers = {input.data(), output.data()};
    ArchiveCursor cursor;
    ArchiveBegin(&updater.archive, &cursor);
    PayloadEntryHeader entry;
    ArchiveFault fault = {};
    int files = 0, damaged = 0;
    uint64_t bytes = 0;
    while (ArchiveNextEntry(&cursor, &entry, &fault) == 1) {
        if (entry.is_folder) continue;
        ++files;
        if (const char* problem = TestEntry(updater.stream, &entry, buffers, &bytes)) {
            ++damaged;
            Complain(update, "entry \"" + ToUtf8(entry.name) + "\": " + problem);
        }
    }
    if (damaged > 0) return 1;
    printf("%s: %d files, %llu bytes: all intact\n", update.c_str(), files,
           (unsigned long long)bytes);
    return 0;
}

int ExtractCommand(const Arguments& args) {
    const std::string& update = args.operands[0];
    const std::string& folder = args.operands[1];
    Updater updater;
    if (int result = OpenUpdater(update, &updater)) return result;
    std::error_code error;
    fs::path destination = PathFromUtf8(folder);
    if (fs::is_directory(destination, error) && !fs::is_empty(destination, error) &&
        !args.Has("--force"))
        return Complain(folder, "folder is not empty (--force writes into it all the same)");
    fs::create_directories(destination, error);
    if (!fs::is_directory(destination, error)) return Complain(folder, "cannot create the folder");
    std::string engine_destination;
    if (int result = CorePath(folder, &engine_destination)) return result;
    ExtractTarget target = {engine_destination.c_str(), kCopyPass, nullptr, nullptr};
#ifndef _WIN32
    target.build_path = NativeEntryPath;
#endif
    // A copy into this folder that was cut short is undone first.
    if (RepairInterruptedUpdate(engine_destination.c_str()) != 0)
        return Complain(folder, "an interrupted update in the folder cannot be undone");
    ArchiveFault fault = {};
    if (ExtractArchive(&updater.archive, &target, &fault) != 0) return ComplainFault(update, fault);
    ArchiveCursor cursor;
    ArchiveBegin(&updater.archive, &cursor);
    PayloadEntryHeader entry;
    int files = 0, folders = 0;
    uint64_t bytes = 0;
    while (ArchiveNextEntry(&cursor, &entry, &fault) == 1) {
        if (entry.is_folder) {
            ++folders;
        } else {
            ++files;
            bytes += entry.uncompressed_size;
        }
    }
    printf("extracted %d files (%llu bytes) and %d folders into %s\n", files,
           (unsigned long long)bytes, folders, folder.c_str());
    return 0;
}

int LintCommand(const Arguments& args) {
    std::string core_path;
    if (int result = CorePath(args.operands[0], &core_path)) return result;
    LintOptions options;
    options.strict = args.Has("--strict");
    return LintInstallEnv(core_path.c_str(), stderr, stdout, options);
}

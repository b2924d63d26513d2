// vnpack list, test, extract and lint: the updater's own reader and engine
// applied to an updater file.
#include <errno.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "base/platform.h"
#include "base/text.h"
#include "folder.h"
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

// Where the program part of a Windows executable ends by its own headers;
// 0 when it is not a Windows program.
uint64_t ProgramEnd(FILE* stream) {
    ImageLayout image;
    return ReadImageLayout(stream, &image) ? image.image_end : 0;
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
    if (!UtcTime(seconds, &parts)) return "-";
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
    ExtractTarget target = {engine_destination.c_str(), kCopyPass, nullptr, nullptr, nullptr};
    StagedList staged = {};
    // Where the core's paths are code page 932 its own joining is right.
    if (!CorePathsAreCp932()) target.build_path = NativeEntryPath;
    // A copy into this folder that was cut short is undone first.
    if (RepairInterruptedUpdate(engine_destination.c_str()) != 0)
        return Complain(folder, "an interrupted update in the folder cannot be undone");
    ArchiveFault fault = {};
    if (ExtractArchive(&updater.archive, &target, nullptr, &staged, &fault) != kExtractDone)
        return ComplainFault(update, fault);
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
    const std::string& operand = args.operands[0];
    LintOptions options;
    options.strict = args.Has("--strict");
    std::error_code error;
    fs::path given = PathFromUtf8(operand);
    std::string core_path;
    if (!fs::is_directory(given, error)) {
        if (int result = CorePath(operand, &core_path)) return result;
        return LintInstallEnv(core_path.c_str(), stderr, stdout, options);
    }
    // The folder as build reads it: every finding there, then install.env
    // against the files the update installs.
    FolderReading reading;
    if (int result = ReadUpdateFolder(given, operand, false, &reading)) return result;
    for (const FolderFinding& finding : reading.findings) {
        bool is_error = finding.error || options.strict;
        (is_error ? options.prior_errors : options.prior_warnings) += 1;
        fprintf(stderr, "%s: %s: %s\n", finding.subject.c_str(), is_error ? "error" : "warning",
                finding.message.c_str());
    }
    if (!reading.left_out.empty())
        fprintf(stderr, "%s: note: vnpack build %s\n", operand.c_str(),
                DescribeLeftOut(reading.left_out, fs::path()).c_str());
    const FolderEntry* settings = reading.Settings();
    if (!settings) {
        fprintf(stderr, "%d error%s, %d warning%s\n", options.prior_errors,
                options.prior_errors == 1 ? "" : "s", options.prior_warnings,
                options.prior_warnings == 1 ? "" : "s");
        return 1;
    }
    if (int result = CorePath(PathToUtf8(settings->source), &core_path)) return result;
    std::vector<std::string> shipped = reading.ShippedNames();
    options.shipped = &shipped;
    int result = LintInstallEnv(core_path.c_str(), stderr, stdout, options);
    return result == 0 && options.prior_errors > 0 ? 1 : result;
}

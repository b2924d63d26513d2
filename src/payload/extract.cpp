// The extraction engine: the setup and copy passes over the payload archive.
#include "payload/extract.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "base/pump.h"
#include "base/platform.h"
#include "base/text.h"
#include "base/workfolder.h"
#include "texts.h"
#include "ui/msgbox.h"

namespace {

// The files the setup pass takes into the work folder.
const char* const kSetupPatterns[] = {"insttscr.rct", "install.env", ".txt"};

// Paths handed to the platform. Without a path builder they never exceed
// 259 bytes (CheckArchive enforces it); a builder may lengthen the names.
enum { kOutputPathCapacity = 4 * kPathCapacity };

EntryPathBuilder g_path_builder = nullptr;

// The two blocks of a walk. Allocating them once per walk instead of once per
// file saves two fresh 128 KiB mappings (and their page faults) per file,
// which dominated payloads of many small files.
unsigned char* g_walk_input = nullptr;
unsigned char* g_walk_output = nullptr;

// The zlib the first updaters were built with; inflateInit_ checks only the
// major version, so any zlib 1.x accepts it.
const char kZlibVersion[] = "1.2.3";

// destination + '\' + name, or what the path builder makes of them.
bool BuildOutputPath(const char* destination, const char* name, char* path) {
    if (g_path_builder) return g_path_builder(destination, name, path, kOutputPathCapacity);
    if (!CopyText(path, kOutputPathCapacity, destination)) return false;
    if (*path) AppendSeparator(path, kOutputPathCapacity);
    return AppendText(path, kOutputPathCapacity, name);
}

// A free name of the form "~vn%05u.tmp" in the folder of path.
bool BuildTemporaryPath(const char* path, char* temporary) {
    const char* backslash = FindLastChar(path, '\\');
    const char* slash = strrchr(path, '/');  // never a second byte in either encoding
    const char* last = backslash > slash ? backslash : slash;
    size_t folder = last ? (size_t)(last - path) + 1 : 0;
    if (folder + kTemporaryNameLength + 1 > kOutputPathCapacity) return false;
    memcpy(temporary, path, folder);
    unsigned start = OsMilliseconds();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        snprintf(temporary + folder, kTemporaryNameLength + 1, "~vn%05u.tmp",
                 (start + attempt) % 100000u);
        if (OsGetPathKind(temporary) == kOsMissing) return true;
    }
    return false;
}

struct FileSink {
    FILE* file;
    CopyProgressHandle window;
    int64_t written;
};

int WriteBlock(void* context, const unsigned char* data, size_t length, int32_t consumed) {
    FileSink* sink = (FileSink*)context;
    if (fwrite(data, 1, length, sink->file) != length) return -1;
    sink->written += (int64_t)length;
    if (sink->window) {
        SetCopyProgressFilePosition(sink->window, (int32_t)(sink->written / kBlockSize));
        SetCopyProgressTotalPosition(sink->window, consumed / kBlockSize);
    }
    PumpMessages();
    return 0;
}

uint64_t ReadFiletime(const unsigned char* bytes) {
    uint64_t value = 0;
    for (int i = kEntryTimeLength - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// The destination length the header walk holds every name to. Names are
// joined to the destination only where they are written: the setup pass
// writes the top-level setup files alone (and checks each as it goes), so
// there the rest of the payload meets the name rules but not the length of
// the work folder's path, which says nothing about the game's folder.
size_t CheckedDestinationLength(const char* destination, int pass) {
    return pass == kSetupPass ? 0 : strlen(destination);
}

void FailurePath() {
    CloseCopyProgress();
    ErrorBox(kTextPayloadDamaged);
    RemoveWorkFolder();
    exit(-1);
}

}  // namespace

void SetEntryPathBuilder(EntryPathBuilder builder) {
    g_path_builder = builder;
}

bool IsSetupFile(const char* name) {
    // Only top-level files: the setup pass creates no folders, and a file
    // inside one would have nowhere to go in the work folder.
    if (FindChar(name, '\\')) return false;
    for (const char* pattern : kSetupPatterns) {
        if (NameMatches(name, pattern)) return true;
    }
    return false;
}

bool NameMatches(const char* name, const char* pattern) {
    char lower_name[kPathCapacity];
    char lower_pattern[kPathCapacity];
    CopyText(lower_name, sizeof lower_name, name);
    CopyText(lower_pattern, sizeof lower_pattern, pattern);
    LowerCaseCp932(lower_name);
    LowerCaseCp932(lower_pattern);
    return FindText(lower_name, lower_pattern) != nullptr;
}

int InflateEntryData(FILE* stream, uint32_t compressed_size, unsigned char* input,
                     unsigned char* output, BlockSink sink, void* context, int32_t* consumed) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit_(&z, kZlibVersion, (int)sizeof(z_stream)) != Z_OK) return -1;
    z.next_out = output;
    z.avail_out = kBlockSize;
    uint32_t remaining = compressed_size;
    int result;
    for (;;) {
        if (z.avail_in == 0 && remaining > 0) {
            uint32_t request = remaining < (uint32_t)kBlockSize ? remaining : (uint32_t)kBlockSize;
            remaining -= request;
            *consumed += (int32_t)request;
            z.next_in = input;
            z.avail_in = (uInt)fread(input, 1, request, stream);
        }
        result = inflate(&z, Z_NO_FLUSH);
        if (result == Z_STREAM_END) break;
        // Also the end of a cut-off stream: with no input left inflate
        // reports that it cannot go on.
        if (result != Z_OK) break;
        if (z.avail_out > 0) continue;
        if (sink(context, output, kBlockSize, *consumed) != 0) {
            result = Z_ERRNO;
            break;
        }
        z.next_out = output;
        z.avail_out = kBlockSize;
    }
    if (result == Z_STREAM_END) {
        size_t last = kBlockSize - z.avail_out;
        if (last > 0 && sink(context, output, last, *consumed) != 0) result = Z_ERRNO;
    }
    if (inflateEnd(&z) != Z_OK) return -1;
    return result == Z_STREAM_END ? 0 : -1;
}

// The temporary file being written, if any. A quit message taken by the pump
// during a write ends the process at once; the handler below then removes the
// unfinished file, so the game folder keeps its old file and no stray one.
static FILE* g_in_flight_file = nullptr;
static char g_in_flight_path[kOutputPathCapacity];

static void RemoveFileInFlight() {
    if (!g_in_flight_file) return;
    fclose(g_in_flight_file);
    g_in_flight_file = nullptr;
    OsDeleteFile(g_in_flight_path);
}

static void TrackFileInFlight(FILE* file, const char* path) {
    static bool registered = false;
    if (!registered) registered = atexit(RemoveFileInFlight) == 0;
    if (file) CopyText(g_in_flight_path, sizeof g_in_flight_path, path);
    g_in_flight_file = file;
}

int ExtractEntry(FILE* stream, uint32_t uncompressed_size, uint32_t compressed_size,
                 const char* path, CopyProgressHandle window, int32_t consumed) {
    bool own_buffers = !g_walk_input;
    unsigned char* input = own_buffers ? (unsigned char*)AllocOrAbort(kBlockSize) : g_walk_input;
    unsigned char* output = own_buffers ? (unsigned char*)AllocOrAbort(kBlockSize) : g_walk_output;
    int result = 1;
    char temporary[kOutputPathCapacity];
    unsigned char time[kEntryTimeLength];
    FileSink sink = {nullptr, window, 0};
    if (fread(time, 1, sizeof time, stream) == sizeof time && BuildTemporaryPath(path, temporary) &&
        (sink.file = OsOpenFile(temporary, "wb")) != nullptr) {
        TrackFileInFlight(sink.file, temporary);
        consumed += kEntryTimeLength;
        if (window) {
            SetCopyProgressFileName(window, path);
            SetCopyProgressFileRange(window, (int32_t)(uncompressed_size / kBlockSize));
            SetCopyProgressFilePosition(window, 0);
        }
        int inflated =
            InflateEntryData(stream, compressed_size, input, output, WriteBlock, &sink, &consumed);
        // fclose flushes: a full disk may show only here.
        TrackFileInFlight(nullptr, nullptr);
        bool closed = fclose(sink.file) == 0;
        if (inflated == 0 && closed) {
            OsSetFileTime(temporary, ReadFiletime(time));
            if (OsReplaceFile(temporary, path) == 0) result = 0;
        }
        if (result != 0) OsDeleteFile(temporary);
    }
    if (own_buffers) {
        free(input);
        free(output);
    }
    return result;
}

static int WalkEntries(const PayloadArchive* archive, const char* destination, int pass,
                       CopyProgressHandle window, ArchiveFault* fault);

int WalkArchive(const PayloadArchive* archive, const char* destination, int pass,
                CopyProgressHandle window, ArchiveFault* fault) {
    g_walk_input = (unsigned char*)AllocOrAbort(kBlockSize);
    g_walk_output = (unsigned char*)AllocOrAbort(kBlockSize);
    int result = WalkEntries(archive, destination, pass, window, fault);
    free(g_walk_input);
    free(g_walk_output);
    g_walk_input = g_walk_output = nullptr;
    return result;
}

static int WalkEntries(const PayloadArchive* archive, const char* destination, int pass,
                       CopyProgressHandle window, ArchiveFault* fault) {
    FILE* stream = archive->stream;
    int32_t position = archive->offset;
    if (fseek(stream, position, SEEK_SET) != 0)
        return ReportArchiveFault(fault, "cannot seek", position, "");
    size_t destination_length = strlen(destination);
    int32_t consumed = 0;
    PayloadEntryHeader entry;
    char path[kOutputPathCapacity];
    for (;;) {
        if (ReadEntryHeader(stream, position, &entry) != 0)
            return ReportArchiveFault(fault, "header cut short", position, "");
        if (entry.name_length == 0) return 0;
        position += 2 + entry.name_length + kEntrySizesLength;
        consumed += 2 + entry.name_length + kEntrySizesLength;
        if (pass == kSetupPass) {
            if (entry.is_folder) {
                // The first nested folder ends the pass: the setup files lie before it.
                const char* first = FindChar(entry.name, '\\');
                if (first && first[1] == '\0') continue;
                return 0;
            }
            if (!IsSetupFile(entry.name)) {
                position += kEntryTimeLength + (int32_t)entry.compressed_size;
                fseek(stream, position, SEEK_SET);
                continue;
            }
        }
        const char* reason = nullptr;
        if (!IsSafeEntryName(entry.name, entry.is_folder, destination_length, &reason))
            return ReportArchiveFault(fault, reason, entry.offset, entry.name);
        if (!BuildOutputPath(destination, entry.name, path))
            return ReportArchiveFault(fault, "name cannot be written here", entry.offset,
                                      entry.name);
        if (entry.is_folder) {
            // An existing folder is fine; anything else shows when a file
            // inside it cannot be created.
            OsCreateFolder(path);
            continue;
        }
        if (entry.uncompressed_size > kLargestSize || entry.compressed_size > kLargestSize)
            return ReportArchiveFault(fault, "size of 2 GiB or more", entry.offset, entry.name);
        if (ExtractEntry(stream, entry.uncompressed_size, entry.compressed_size, path, window,
                         consumed) != 0)
            return ReportArchiveFault(
                fault, "cannot extract (damaged data, or the file cannot be written)", entry.offset,
                entry.name);
        consumed += kEntryTimeLength + (int32_t)entry.compressed_size;
        position += kEntryTimeLength + (int32_t)entry.compressed_size;
        // A stream shorter than its stated size leaves the stream inside the
        // entry; the next header starts where the stated size says.
        if (ftell(stream) != position && fseek(stream, position, SEEK_SET) != 0)
            return ReportArchiveFault(fault, "cannot seek", position, "");
    }
}

int ExtractArchive(const PayloadArchive* archive, const char* destination, int pass,
                   ArchiveFault* fault) {
    if (CheckArchive(archive, CheckedDestinationLength(destination, pass), fault) != 0) return -1;
    return WalkArchive(archive, destination, pass, nullptr, fault);
}

void ExtractPayload(const char* destination, int pass) {
    PayloadArchive archive;
    FILE* stream = OpenPayloadArchive(&archive);
    if (!stream) FailurePath();
    if (CheckArchive(&archive, CheckedDestinationLength(destination, pass), nullptr) != 0)
        FailurePath();
    CopyProgressHandle window = pass == kCopyPass ? OpenCopyProgress(archive.size) : nullptr;
    if (WalkArchive(&archive, destination, pass, window, nullptr) != 0) FailurePath();
    fclose(stream);
    CloseCopyProgress();
}

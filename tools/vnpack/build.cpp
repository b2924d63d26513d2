// vnpack build: the update folder compressed into an archive behind the
// updater stub. Files are compressed in parallel, each into a bounded memory
// buffer or, when larger, a temporary file, and appended in archive order, so
// memory does not grow with the size of the files. Identical input gives an
// identical updater: sorted order, the source files' own times, no build time.
#include <errno.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "base/text.h"
#include "config/setup_files.h"
#include "folder.h"
#include "lint.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "picture.h"
#include "system.h"
#include "vnpack.h"

extern const unsigned char kEmbeddedStub[];
extern const size_t kEmbeddedStubSize;

namespace {

// Compressed output up to this size stays in memory; larger goes to a file.
const size_t kMemoryLimit = 256 * 1024;
// How far the compressing threads may run ahead of the writer, in files: with
// kMemoryLimit this bounds the memory held by finished files to 64 MiB.
const size_t kLookAhead = 256;

struct Entry {
    fs::path source;
    std::string name;  // code page 932, backslash separators
    bool is_folder = false;
    uint64_t filetime = 0;
    uint64_t size = 0;  // as found when the folder was read
    size_t index = 0;   // among the files, for the temporary file's name

    // Set by the compressing thread; state last (release).
    std::atomic<int> state{0};  // 0 waiting, 1 done, -1 failed
    std::string problem;
    uint32_t uncompressed = 0;
    std::vector<unsigned char> data;  // when it fits kMemoryLimit
    fs::path spill;                   // otherwise
};

struct Options {
    fs::path folder;
    std::string folder_text;
    fs::path output;
    std::string output_text;
    std::string stub_text;
    int level = 9;
    int jobs = 0;
    bool strict = false;
    bool include_all = false;
};

struct Work {
    std::vector<Entry*> files;  // file entries in archive order
    std::atomic<size_t> next{0};
    std::atomic<size_t> written{0};  // files appended by the writer so far
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> bytes_read{0};
    fs::path spill_folder;
    int level = 9;
};

bool ParseNumber(const std::string& text, int low, int high, int* value) {
    if (text.empty() || text.size() > 4) return false;
    int number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    if (number < low || number > high) return false;
    *value = number;
    return true;
}

int ParseOptions(const Arguments& args, Options* options) {
    options->folder_text = args.operands[0];
    options->output_text = args.Get("-o");
    options->stub_text = args.Get("--stub");
    if (args.Has("--level") && !ParseNumber(args.Get("--level"), 0, 9, &options->level))
        return Complain(args.Get("--level"), "--level takes 0 to 9");
    if (args.Has("--jobs") && !ParseNumber(args.Get("--jobs"), 1, 256, &options->jobs))
        return Complain(args.Get("--jobs"), "--jobs takes 1 to 256");
    options->strict = args.Has("--strict");
    options->include_all = args.Has("--include-all");
    options->folder = PathFromUtf8(options->folder_text);
    options->output = PathFromUtf8(options->output_text);
    if (options->jobs == 0) options->jobs = ProcessorCount();
    // Said before anything is read, and of the folder rather than of the
    // temporary files made in it.
    std::error_code error;
    fs::path parent = fs::absolute(options->output, error).parent_path();
    if (!fs::is_directory(parent, error))
        return Complain(
            options->output_text,
            "the output folder " + PathToUtf8(options->output.parent_path()) + " does not exist");
    if (fs::is_directory(options->output, error))
        return Complain(options->output_text, "is a folder: give the updater's file name");
    // Written into its own input, the updater would be packed into the next one.
    if (IsInsideFolder(options->output, options->folder))
        return Complain(options->output_text,
                        "lies inside the folder it packs: write the updater elsewhere");
    return 0;
}

// The updater is written under a temporary name, with the compressed files
// that do not fit in memory in a folder beside it, and renamed at the end.
fs::path WithSuffix(fs::path path, const char* suffix) {
    return path += suffix;
}
fs::path PartPath(const fs::path& output) {
    return WithSuffix(output, ".vnpack-part");
}
fs::path SpillFolder(const fs::path& output) {
    return WithSuffix(output, ".vnpack-tmp");
}

// Checks install.env as the lint command does. A file saved as UTF-8 is
// packed in its code page 932 form, written into the scratch folder.
int LintSettings(const Options& options, const fs::path& scratch_folder,
                 const std::vector<std::string>& shipped, Entry* settings) {
    std::string path;
    if (int result = CorePath(PathToUtf8(settings->source), &path)) return result;
    LintOptions lint;
    lint.detail = kLintProblemsOnly;
    lint.strict = options.strict;
    lint.shipped = &shipped;
    LintOutcome outcome;
    int result = LintInstallEnv(path.c_str(), stderr, nullptr, lint, &outcome);
    if (result == 1) return Refuse(PathToUtf8(settings->source), "configuration has errors");
    if (result != 0) return result;
    if (!outcome.converted) return 0;
    fprintf(stderr, "vnpack: %s: %s\n", PathToUtf8(settings->source).c_str(),
            outcome.encoding_note.c_str());
    fs::path converted = scratch_folder / kSettingsFileName;
    FILE* out = OpenPath(converted, "wb");
    bool ok =
        out && fwrite(outcome.cp932.data(), 1, outcome.cp932.size(), out) == outcome.cp932.size();
    if (out && fclose(out) != 0) ok = false;
    if (!ok) return Complain(PathToUtf8(converted), "cannot write the converted install.env");
    settings->source = converted;
    settings->size = outcome.cp932.size();
    return 0;
}

// Compresses one file into its entry. Runs on a worker thread.
void CompressFile(Work* work, Entry* entry) {
    FILE* in = OpenEntrySource(entry->source, entry->name, work->spill_folder, &entry->problem);
    if (!in) {
        if (entry->problem.empty()) entry->problem = std::string("cannot read: ") + strerror(errno);
        entry->state.store(-1);
        return;
    }
    std::vector<unsigned char> input(kBlockSize), output(kBlockSize);
    z_stream z;
    memset(&z, 0, sizeof z);
    FILE* spill = nullptr;
    bool ok = deflateInit(&z, work->level) == Z_OK;
    uint64_t total = 0, compressed = 0;
    int flush = Z_NO_FLUSH;
    while (ok && flush != Z_FINISH && !work->stop.load()) {
        size_t got = fread(input.data(), 1, input.size(), in);
        if (ferror(in)) {
            entry->problem = "read error";
            ok = false;
            break;
        }
        total += got;
        work->bytes_read.fetch_add(got);
        flush = got < input.size() ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = input.data();
        z.avail_in = (uInt)got;
        do {
            z.next_out = output.data();
            z.avail_out = (uInt)output.size();
            deflate(&z, flush);
            size_t produced = output.size() - z.avail_out;
            compressed += produced;
            if (!spill && entry->data.size() + produced > kMemoryLimit) {
                entry->spill = work->spill_folder / (std::to_string(entry->index) + ".z");
                spill = OpenPath(entry->spill, "wb");
                if (!spill || fwrite(entry->data.data(), 1, entry->data.size(), spill) !=
                                  entry->data.size()) {
                    entry->problem = "cannot write a temporary file";
                    ok = false;
                    break;
                }
                std::vector<unsigned char>().swap(entry->data);
            }
            if (spill) {
                if (fwrite(output.data(), 1, produced, spill) != produced) {
                    entry->problem = "cannot write a temporary file";
                    ok = false;
                    break;
                }
            } else {
                entry->data.insert(entry->data.end(), output.data(), output.data() + produced);
            }
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    fclose(in);
    if (spill && fclose(spill) != 0 && ok) {
        entry->problem = "cannot write a temporary file";
        ok = false;
    }
    if (ok && (total > kLargestSize || compressed > kLargestSize)) {
        entry->problem = "file of 2 GiB or more";
        ok = false;
    }
    entry->uncompressed = (uint32_t)total;
    entry->state.store(ok && !work->stop.load() ? 1 : -1);
}

void CompressWorker(void* context) {
    Work* work = (Work*)context;
    for (;;) {
        size_t index = work->next.fetch_add(1);
        if (index >= work->files.size()) return;
        while (index >= work->written.load() + kLookAhead && !work->stop.load())
            SleepMilliseconds(1);
        if (work->stop.load()) {
            work->files[index]->state.store(-1);
            continue;
        }
        CompressFile(work, work->files[index]);
    }
}

// The progress line on a terminal: files and bytes, rate and time left.
struct Progress {
    bool terminal = false;
    double start = 0;
    double last_draw = -1;
    uint64_t total_bytes = 0;
    size_t total_files = 0;

    void Draw(const Work& work, size_t files_done, bool force) {
        if (!terminal) return;
        double now = SecondsNow();
        if (!force && now - last_draw < 0.1) return;
        last_draw = now;
        uint64_t done = work.bytes_read.load();
        double elapsed = now - start;
        double rate = elapsed > 0 ? done / elapsed : 0;
        double fraction = total_bytes ? (double)done / total_bytes : 1.0;
        char bar[31];
        int filled = (int)(fraction * 30);
        for (int i = 0; i < 30; ++i) bar[i] = i < filled ? '#' : '.';
        bar[30] = '\0';
        char left[32] = "--:--";
        if (rate > 0 && done < total_bytes) {
            int seconds = (int)((total_bytes - done) / rate);
            snprintf(left, sizeof left, "%d:%02d", seconds / 60, seconds % 60);
        }
        fprintf(stderr, "\r[%s] %zu/%zu files  %.1f/%.1f MiB  %.1f MiB/s  %s left ", bar,
                files_done, total_files, done / 1048576.0, total_bytes / 1048576.0,
                rate / 1048576.0, left);
        fflush(stderr);
    }
};

std::vector<unsigned char> Header(const Entry& entry) {
    uint32_t compressed = 0;
    if (!entry.is_folder)
        compressed =
            (uint32_t)(entry.spill.empty() ? entry.data.size() : fs::file_size(entry.spill));
    std::vector<unsigned char> header(kEntryHeaderCapacity);
    // The name was checked against its field when the folder was read.
    header.resize(EncodeEntryHeader(entry.name.c_str(), entry.is_folder, entry.uncompressed,
                                    compressed, entry.filetime, header.data()));
    return header;
}

bool WriteBytes(FILE* out, const void* data, size_t length, uint64_t* written) {
    *written += length;
    return fwrite(data, 1, length, out) == length;
}

bool AppendSpill(FILE* out, const fs::path& spill, uint64_t* written) {
    FILE* in = OpenPath(spill, "rb");
    if (!in) return false;
    std::vector<unsigned char> buffer(kBlockSize);
    bool ok = true;
    size_t got;
    while (ok && (got = fread(buffer.data(), 1, buffer.size(), in)) > 0)
        ok = WriteBytes(out, buffer.data(), got, written);
    ok = ok && !ferror(in);
    fclose(in);
    return ok;
}

// Reads the stub: --stub or the one built into vnpack.
int LoadStub(const Options& options, std::vector<unsigned char>* stub) {
    if (options.stub_text.empty()) {
        if (kEmbeddedStubSize == 0)
            return Complain("build",
                            "this vnpack carries no updater: give --stub vnupdate.exe, or build "
                            "the win32 preset and then configure and build the native one again");
        stub->assign(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize);
        return 0;
    }
    FILE* in = OpenPath(PathFromUtf8(options.stub_text), "rb");
    if (!in) return Complain(options.stub_text, strerror(errno));
    std::vector<unsigned char> buffer(kBlockSize);
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        stub->insert(stub->end(), buffer.data(), buffer.data() + got);
        if (stub->size() > 64u * 1024 * 1024) break;
    }
    bool bad = ferror(in) != 0;
    fclose(in);
    if (bad) return Complain(options.stub_text, "read error");
    if (stub->size() < 64 || (*stub)[0] != 'M' || (*stub)[1] != 'Z' ||
        stub->size() > 64u * 1024 * 1024)
        return Complain(options.stub_text, "not a Windows executable");
    return 0;
}

// Writes the updater to part while the workers compress. 0, or 2 after the complaint.
int WriteUpdater(const Options& options, const std::vector<std::unique_ptr<Entry>>& entries,
                 const std::vector<unsigned char>& stub, Work* work, FILE* out, Progress* progress,
                 uint64_t* archive_bytes) {
    uint64_t written = 0;
    if (!WriteBytes(out, stub.data(), stub.size(), &written))
        return Complain(options.output_text, "write error");
    size_t files_done = 0;
    for (const auto& entry : entries) {
        if (!entry->is_folder) {
            while (entry->state.load() == 0) {
                progress->Draw(*work, files_done, false);
                SleepMilliseconds(2);
            }
            if (entry->state.load() < 0)
                return Complain(PathToUtf8(entry->source),
                                entry->problem.empty() ? "cannot compress" : entry->problem);
        }
        std::vector<unsigned char> header = Header(*entry);
        bool ok = WriteBytes(out, header.data(), header.size(), &written);
        if (ok && !entry->is_folder) {
            if (entry->spill.empty()) {
                ok = WriteBytes(out, entry->data.data(), entry->data.size(), &written);
                std::vector<unsigned char>().swap(entry->data);
            } else {
                ok = AppendSpill(out, entry->spill, &written);
                std::error_code ignored;
                fs::remove(entry->spill, ignored);
            }
            ++files_done;
            work->written.store(files_done);
        }
        if (!ok) return Complain(options.output_text, "write error");
        // The updater reads positions as signed 32-bit values.
        if (written + kArchiveEndCapacity > kLargestSize)
            return Complain(options.output_text, "updater of 2 GiB or more");
        progress->Draw(*work, files_done, false);
    }
    // Padded to a multiple of 8, so that a signature appended later follows
    // the trailer at once.
    unsigned char tail[kArchiveEndCapacity];
    size_t tail_length = EncodeArchiveEnd((uint32_t)stub.size(), written, tail);
    if (!WriteBytes(out, tail, tail_length, &written))
        return Complain(options.output_text, "write error");
    *archive_bytes = written - stub.size() - kTrailerLength;
    return 0;
}

}  // namespace

int BuildCommand(const Arguments& args) {
    Options options;
    if (int result = ParseOptions(args, &options)) return result;
    std::vector<unsigned char> stub;
    if (int result = LoadStub(options, &stub)) return result;
    FolderReading reading;
    if (int result =
            ReadUpdateFolder(options.folder, options.folder_text, options.include_all, &reading))
        return result;
    if (!reading.left_out.empty())
        fprintf(stderr, "vnpack: %s; --include-all packs them\n",
                DescribeLeftOut(reading.left_out, options.output).c_str());
    int folder_errors = 0;
    for (const FolderFinding& finding : reading.findings) {
        bool error = finding.error || options.strict;
        folder_errors += error;
        fprintf(stderr, "vnpack: %s: %s%s\n", finding.subject.c_str(),
                error ? "" : "warning: ", finding.message.c_str());
    }
    std::vector<std::unique_ptr<Entry>> entries;
    for (const FolderEntry& found : reading.entries) {
        auto entry = std::make_unique<Entry>();
        entry->source = found.source;
        entry->name = found.name;
        entry->is_folder = found.is_folder;
        entry->filetime = found.filetime;
        entry->size = found.size;
        entries.push_back(std::move(entry));
    }
    if (!reading.Settings()) return 1;

    // The output and the temporary files are made beside OUT and renamed or
    // removed at the end, so that a failed build leaves nothing half-written.
    std::error_code error;
    fs::path part = PartPath(options.output);
    fs::path spill_folder = SpillFolder(options.output);
    fs::remove_all(spill_folder, error);
    if (!fs::create_directory(spill_folder, error))
        return Complain(PathToUtf8(spill_folder), "cannot create a temporary folder");
    int result = LintSettings(options, spill_folder, reading.ShippedNames(), entries[0].get());
    if (result == 0 && folder_errors > 0) result = 1;
    if (result != 0) {
        fs::remove_all(spill_folder, error);
        return result;
    }

    Work work;
    work.level = options.level;
    Progress progress;
    progress.terminal = IsTerminal(stderr);
    progress.start = SecondsNow();
    for (const auto& entry : entries) {
        if (entry->is_folder) continue;
        entry->index = work.files.size();
        work.files.push_back(entry.get());
        progress.total_bytes += entry->size;
    }
    progress.total_files = work.files.size();
    work.spill_folder = spill_folder;
    FILE* out = OpenPath(part, "wb");
    uint64_t archive_bytes = 0;
    if (!out) {
        result = Complain(options.output_text, strerror(errno));
    } else {
        int jobs = std::max(1, std::min<int>(options.jobs, (int)work.files.size()));
        WorkerGroup* workers =
            work.files.empty() ? nullptr : StartWorkers(jobs, CompressWorker, &work);
        if (!work.files.empty() && !workers) {
            result = Complain("build", "cannot start threads");
        } else {
            result = WriteUpdater(options, entries, stub, &work, out, &progress, &archive_bytes);
        }
        work.stop.store(true);
        JoinWorkers(workers);
        if (fclose(out) != 0 && result == 0) result = Complain(options.output_text, "write error");
    }
    if (result == 0) {
        fs::rename(part, options.output, error);
        if (error) result = Complain(options.output_text, error.message());
    }
    if (result != 0) fs::remove(part, error);
    fs::remove_all(work.spill_folder, error);
    if (progress.terminal) {
        progress.Draw(work, work.written.load(), true);
        fputc('\n', stderr);
    }
    if (result != 0) return result;
    double seconds = SecondsNow() - progress.start;
    printf("wrote %s: %zu entries, %llu bytes into an archive of %llu (%.1f%%) in %.1f s\n",
           options.output_text.c_str(), entries.size(), (unsigned long long)progress.total_bytes,
           (unsigned long long)archive_bytes,
           progress.total_bytes ? 100.0 * archive_bytes / progress.total_bytes : 100.0, seconds);
    return 0;
}

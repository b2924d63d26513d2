// The engine's copy pass against plain zlib over the same archive, read
// through stdio, with each block written by write(2) (the floor of any
// extractor) and dropped (the ceiling), and the engine's peak memory for a
// small and a large payload of as many files, each in a fresh process.
//
// bench_extract [--mib N] [--folder DIR]   (defaults: 512 MiB in /dev/shm)
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <zlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "payload/archive.h"
#include "payload/extract.h"

namespace fs = std::filesystem;

namespace {

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

void Put(FILE* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) fputc((int)(value >> (8 * i)) & 0xFF, out);
}

// Content of file i: text-like (compressible) or random (incompressible).
void FillData(std::vector<unsigned char>* data, size_t size, bool random, uint32_t seed) {
    data->resize(size);
    std::mt19937 rng(seed);
    if (random) {
        for (size_t i = 0; i < size; i += 4) {
            uint32_t v = rng();
            memcpy(data->data() + i, &v, std::min<size_t>(4, size - i));
        }
        return;
    }
    static const char* words[] = {"scene ",      "message ", "\x83\x65\x83\x4c\x83\x58\x83\x67 ",
                                  "voice_0123 ", "bgm ",     "\r\n",
                                  "character ",  "wait 100 "};
    size_t i = 0;
    while (i < size) {
        const char* w = words[rng() % 8];
        size_t n = std::min(strlen(w), size - i);
        memcpy(data->data() + i, w, n);
        i += n;
    }
}

// Writes a payload of about mib MiB, a third of the bytes incompressible: a
// mixed one, 70% in many small files (4-256 KiB) and the rest in a few large
// ones, counted in *files; or, when *files is set, that many files of equal
// size. Returns the bytes of the files.
uint64_t WritePayload(const fs::path& path, uint64_t mib, int* files) {
    const int count = *files;
    FILE* out = fopen(path.c_str(), "wb");
    fwrite("MZ", 1, 2, out);
    uint64_t target = mib << 20, small_target = target * 7 / 10, written = 0;
    std::vector<unsigned char> data, packed;
    std::mt19937 rng(42);
    Put(out, 6, 2);
    fwrite("data\\", 1, 6, out);
    Put(out, kFolderMark, 4);
    Put(out, 0, 4);
    for (int i = 0; count ? i < count : written < target; ++i) {
        size_t size = count                     ? target / count
                      : written < small_target ? 4096 + rng() % (252 * 1024)
                                               : std::min<uint64_t>(64u << 20, target - written);
        FillData(&data, size, i % 3 == 2, (uint32_t)i);
        uLongf packed_size = compressBound(size);
        packed.resize(packed_size);
        compress2(packed.data(), &packed_size, data.data(), size, 6);
        char name[64];
        snprintf(name, sizeof name, "data\\file%06d.bin", i);
        Put(out, strlen(name) + 1, 2);
        fwrite(name, 1, strlen(name) + 1, out);
        Put(out, size, 4);
        Put(out, packed_size, 4);
        Put(out, 132000000000000000ull, 8);
        fwrite(packed.data(), 1, packed_size, out);
        written += size;
        if (!count) ++*files;
    }
    Put(out, 0, 4);
    Put(out, 2, 4);
    fclose(out);
    return written;
}

// Plain zlib over the same archive as any extractor must take it: read
// through stdio, every stream inflated in blocks of 131,072 bytes, each block
// either dropped (the ceiling: the decompression alone) or written with
// write(2) to one plain file per entry in destination (the floor of any
// extractor on this file system). Returns seconds.
double InflateAll(const fs::path& path, const fs::path* destination) {
    if (destination) {
        fs::remove_all(*destination);
        fs::create_directories(*destination);
    }
    std::vector<unsigned char> input(kBlockSize), output(kBlockSize);
    double start = Now();
    FILE* in = fopen(path.c_str(), "rb");
    unsigned char header[16];
    char name[kNameFieldCapacity];
    if (!in || fread(header, 1, 2, in) != 2) abort();
    for (int index = 0;; ++index) {
        if (fread(header, 1, 2, in) != 2) abort();
        uint16_t name_length = header[0] | header[1] << 8;
        if (!name_length) break;
        if (name_length > sizeof name || fread(name, 1, name_length, in) != name_length ||
            fread(header, 1, 8, in) != 8)
            abort();
        uint32_t size, packed;
        memcpy(&size, header, 4);
        memcpy(&packed, header + 4, 4);
        if (size == kFolderMark) continue;
        if (fread(header, 1, 8, in) != 8) abort();
        int fd = -1;
        if (destination) {
            std::string file = (*destination / std::to_string(index)).string();
            fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) abort();
        }
        z_stream z = {};
        inflateInit(&z);
        int result;
        do {
            if (z.avail_in == 0) {
                z.next_in = input.data();
                z.avail_in = (uInt)fread(input.data(), 1, std::min<uint32_t>(kBlockSize, packed), in);
                packed -= z.avail_in;
            }
            z.next_out = output.data();
            z.avail_out = kBlockSize;
            result = inflate(&z, Z_NO_FLUSH);
            size_t produced = kBlockSize - z.avail_out;
            if (fd >= 0 && produced && write(fd, output.data(), produced) != (ssize_t)produced) {
                abort();
            }
        } while (result == Z_OK);
        if (result != Z_STREAM_END || packed != 0 || z.avail_in != 0) abort();
        inflateEnd(&z);
        if (fd >= 0) close(fd);
    }
    fclose(in);
    return Now() - start;
}

// The copy pass of path into a fresh destination, as the updater runs it:
// seconds.
double Extract(const char* path, const fs::path& destination) {
    fs::remove_all(destination);
    fs::create_directories(destination);
    double start = Now();
    FILE* stream = fopen(path, "rb");
    PayloadArchive archive;
    ArchiveFault fault;
    ExtractTarget target = {destination.c_str(), kCopyPass, nullptr, nullptr, nullptr};
    StagedList staged = {};
    if (!stream || LocateArchive(stream, &archive) != 0 ||
        ExtractArchive(&archive, &target, nullptr, &staged, &fault) != kExtractDone) {
        fprintf(stderr, "extraction failed: %s\n", stream ? fault.reason : "cannot open");
        exit(1);
    }
    fclose(stream);
    return Now() - start;
}

// The peak memory in KiB of the copy pass in a fresh process: this program
// started again, so that nothing of the parent's heap counts.
long PeakInChild(const fs::path& path, const fs::path& destination) {
    int report[2];
    if (pipe(report) != 0) abort();
    pid_t child = fork();
    if (child == 0) {
        dup2(report[1], 1);
        execl("/proc/self/exe", "bench_extract", "--extract", path.c_str(), destination.c_str(),
              (char*)nullptr);
        _exit(127);
    }
    close(report[1]);
    char text[32] = {};
    ssize_t got = read(report[0], text, sizeof text - 1);
    close(report[0]);
    int status;
    waitpid(child, &status, 0);
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) exit(1);
    return atol(text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !strcmp(argv[1], "--extract")) {
        Extract(argv[2], argv[3]);
        // The high-water mark of this program's own memory since it started:
        // getrusage would count the pages it shared with its parent before exec.
        char line[256];
        FILE* status = fopen("/proc/self/status", "r");
        while (status && fgets(line, sizeof line, status)) {
            if (!strncmp(line, "VmHWM:", 6)) printf("%ld\n", atol(line + 6));
        }
        return 0;
    }
    uint64_t mib = 512;
    fs::path folder = "/dev/shm";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--mib")) mib = strtoull(argv[i + 1], nullptr, 10);
        if (!strcmp(argv[i], "--folder")) folder = argv[i + 1];
    }
    if (mib < 8) mib = 8;
    fs::path work = folder / ("vnbench_extract_" + std::to_string(getpid()));
    fs::create_directories(work);
    // Speed: the best of five runs of each, taken in turns, so that a busy
    // moment of the machine or of the file system spoils one run, not one side.
    int files = 0;
    uint64_t bytes = WritePayload(work / "large.exe", mib, &files);
    fs::path plain_folder = work / "plain";
    double baseline = 1e9, plain = 1e9, engine = 1e9;
    for (int run = 0; run < 5; ++run) {
        baseline = std::min(baseline, InflateAll(work / "large.exe", nullptr));
        plain = std::min(plain, InflateAll(work / "large.exe", &plain_folder));
        fs::remove_all(plain_folder);
        engine = std::min(engine, Extract((work / "large.exe").c_str(), work / "out"));
    }
    long peak = PeakInChild(work / "large.exe", work / "out");
    fs::remove(work / "large.exe");
    // Memory: a fresh process for a payload of as many files in mib / 32 MiB.
    // The list of the files written, kept for the all-or-nothing commit,
    // grows with their number (about 150 bytes each), never with their bytes.
    WritePayload(work / "small.exe", mib / 32, &files);
    long small_peak = PeakInChild(work / "small.exe", work / "out");
    fs::remove_all(work);

    double mb = bytes / 1e6;
    printf("payload %llu MiB in %d files: copy pass %.0f MB/s (best of 5)\n",
           (unsigned long long)mib, files, mb / engine);
    printf(
        "  against read + inflate + write(2) per file (the floor) %.0f MB/s: ratio %.2f "
        "(goal >= 0.95)\n",
        mb / plain, plain / engine);
    printf("  against read + inflate into memory (the ceiling) %.0f MB/s: ratio %.2f\n", mb / baseline,
           baseline / engine);
    printf(
        "peak RSS (fresh process), %d files each: %llu MiB payload %ld KiB, %llu MiB payload "
        "%ld KiB, ratio %.2f (goal: flat)\n",
        files, (unsigned long long)(mib / 32), small_peak, (unsigned long long)mib, peak,
        (double)peak / small_peak);
    return 0;
}

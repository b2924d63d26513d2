// The engine's copy pass against plain zlib inflate of the same streams with
// each block written by write(2) (the floor of any extractor) and into memory
// (the ceiling), and the engine's peak memory for a small and a large payload,
// each measured in a fresh process.
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

// Writes a mixed payload of about mib MiB: 70% in many small files (4-256
// KiB), the rest in a few large ones; a third of the bytes incompressible.
uint64_t WritePayload(const fs::path& path, uint64_t mib) {
    FILE* out = fopen(path.c_str(), "wb");
    fwrite("MZ", 1, 2, out);
    uint64_t target = mib << 20, small_target = target * 7 / 10, written = 0;
    std::vector<unsigned char> data, packed;
    std::mt19937 rng(42);
    Put(out, 6, 2);
    fwrite("data\\", 1, 6, out);
    Put(out, kFolderMark, 4);
    Put(out, 0, 4);
    for (int i = 0; written < target; ++i) {
        size_t size = written < small_target ? 4096 + rng() % (252 * 1024)
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
    }
    Put(out, 0, 4);
    Put(out, 2, 4);
    fclose(out);
    return written;
}

// Plain inflate of every stream, each 131,072-byte block either dropped (the
// limit of the decompression itself) or written with write(2) to one plain
// file per entry in destination (the limit of any extractor on this file
// system). Returns seconds.
double InflateAll(const fs::path& path, const fs::path* destination) {
    FILE* in = fopen(path.c_str(), "rb");
    std::vector<unsigned char> archive(fs::file_size(path));
    if (fread(archive.data(), 1, archive.size(), in) != archive.size()) abort();
    fclose(in);
    if (destination) {
        fs::remove_all(*destination);
        fs::create_directories(*destination);
    }
    std::vector<unsigned char> output(kBlockSize);
    double start = Now();
    size_t p = 2;
    for (int index = 0;; ++index) {
        uint16_t name_length = archive[p] | archive[p + 1] << 8;
        if (!name_length) break;
        p += 2 + name_length;
        uint32_t size, packed;
        memcpy(&size, &archive[p], 4);
        memcpy(&packed, &archive[p + 4], 4);
        p += 8;
        if (size == kFolderMark) continue;
        p += 8;
        int fd = -1;
        if (destination) {
            std::string file = (*destination / std::to_string(index)).string();
            fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) abort();
        }
        z_stream z = {};
        inflateInit(&z);
        z.next_in = &archive[p];
        z.avail_in = packed;
        int result;
        do {
            z.next_out = output.data();
            z.avail_out = kBlockSize;
            result = inflate(&z, Z_NO_FLUSH);
            size_t produced = kBlockSize - z.avail_out;
            if (fd >= 0 && produced && write(fd, output.data(), produced) != (ssize_t)produced) {
                abort();
            }
        } while (result == Z_OK);
        if (result != Z_STREAM_END) abort();
        inflateEnd(&z);
        if (fd >= 0) close(fd);
        p += packed;
    }
    return Now() - start;
}

// The copy pass of path into destination; the exit code of the child.
int Extract(const char* path, const char* destination) {
    FILE* stream = fopen(path, "rb");
    PayloadArchive archive;
    ArchiveFault fault;
    ExtractTarget target = {destination, kCopyPass, nullptr, nullptr};
    if (!stream || LocateArchive(stream, &archive) != 0 ||
        ExtractArchive(&archive, &target, &fault) != 0) {
        fprintf(stderr, "extraction failed: %s\n", stream ? fault.reason : "cannot open");
        return 1;
    }
    // The high-water mark of this program's own memory since it started:
    // getrusage would count the pages it shared with its parent before exec.
    char line[256];
    FILE* status = fopen("/proc/self/status", "r");
    while (status && fgets(line, sizeof line, status)) {
        if (!strncmp(line, "VmHWM:", 6)) printf("%ld\n", atol(line + 6));
    }
    return 0;
}

// The copy pass in a fresh process (this program started again, so that
// nothing of the parent's heap counts): seconds, and its peak RSS in KiB.
double ExtractInChild(const fs::path& path, const fs::path& destination, long* peak_kib) {
    fs::remove_all(destination);
    fs::create_directories(destination);
    int report[2];
    if (pipe(report) != 0) abort();
    double start = Now();
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
    double seconds = Now() - start;
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) exit(1);
    *peak_kib = atol(text);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !strcmp(argv[1], "--extract")) return Extract(argv[2], argv[3]);
    uint64_t mib = 512;
    fs::path folder = "/dev/shm";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--mib")) mib = strtoull(argv[i + 1], nullptr, 10);
        if (!strcmp(argv[i], "--folder")) folder = argv[i + 1];
    }
    if (mib < 8) mib = 8;
    fs::path work = folder / ("vnbench_extract_" + std::to_string(getpid()));
    fs::create_directories(work);
    uint64_t small_mib = mib / 8;
    long small_peak = 0, large_peak = 0;
    uint64_t small_bytes = WritePayload(work / "small.exe", small_mib);
    ExtractInChild(work / "small.exe", work / "out", &small_peak);
    fs::remove(work / "small.exe");
    uint64_t bytes = WritePayload(work / "large.exe", mib);
    double baseline = InflateAll(work / "large.exe", nullptr);
    fs::path plain_folder = work / "plain";
    double plain = InflateAll(work / "large.exe", &plain_folder);
    fs::remove_all(plain_folder);
    double engine = ExtractInChild(work / "large.exe", work / "out", &large_peak);
    fs::remove_all(work);

    double mb = bytes / 1e6;
    printf("payload %llu MiB: copy pass %.0f MB/s\n", (unsigned long long)mib, mb / engine);
    printf(
        "  against inflate + write(2) per file (the floor) %.0f MB/s: ratio %.2f "
        "(goal >= 0.95)\n",
        mb / plain, plain / engine);
    printf("  against inflate into memory (the ceiling) %.0f MB/s: ratio %.2f\n", mb / baseline,
           baseline / engine);
    printf(
        "peak RSS (fresh process): %llu MiB payload %ld KiB, %llu MiB payload %ld KiB, "
        "ratio %.2f (must not grow with the payload)\n",
        (unsigned long long)(small_bytes >> 20), small_peak, (unsigned long long)mib, large_peak,
        (double)large_peak / small_peak);
    return 0;
}

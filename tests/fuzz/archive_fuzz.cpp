// Any bytes as an updater: the header walk and the copy pass into a scratch
// folder must never crash and never write outside it.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "payload/archive.h"
#include "payload/extract.h"

namespace fs = std::filesystem;

namespace {

fs::path g_root;

void Setup() {
    char pattern[] = "/tmp/vnfuzz_XXXXXX";
    g_root = mkdtemp(pattern);
    fs::create_directories(g_root / "box" / "out");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_root.empty()) Setup();
    const fs::path box = g_root / "box";
    const fs::path out = box / "out";
    const fs::path input = g_root / "input.exe";
    FILE* file = fopen(input.c_str(), "wb");
    if (!file) abort();
    fwrite(data, 1, size, file);
    fclose(file);

    FILE* stream = fopen(input.c_str(), "rb");
    PayloadArchive archive;
    if (LocateArchive(stream, &archive) == 0) {
        ArchiveFault fault;
        ExtractPass pass = size > 0 && (data[0] & 1) ? kSetupPass : kCopyPass;
        ExtractTarget target = {out.c_str(), pass, nullptr, nullptr};
        ExtractArchive(&archive, &target, &fault);
    }
    fclose(stream);

    // Everything written must lie inside out: box holds nothing else.
    for (const auto& item : fs::directory_iterator(box)) {
        if (item.path() != out) abort();
    }
    for (const auto& item : fs::directory_iterator(g_root)) {
        if (item.path() != box && item.path() != input) abort();
    }
    std::error_code ignored;
    fs::remove_all(out, ignored);
    fs::create_directory(out, ignored);
    return 0;
}

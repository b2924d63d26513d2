// What the fuzzers share: Require, which stops the run on a broken promise,
// and for those that write files one scratch folder, made under $TMPDIR (or
// /tmp) on first use, reused by every input, and removed with all it holds
// when the run ends. A run that stops on a finding leaves it behind;
// scripts/test.sh and scripts/fuzz.sh point TMPDIR into build/ for that.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

inline const std::filesystem::path& FuzzScratchFolder() {
    static std::filesystem::path root;
    if (root.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vnfuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            fprintf(stderr, "cannot make the scratch folder %s\n", pattern.c_str());
            abort();
        }
        root = pattern;
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        });
    }
    return root;
}

// The bytes of a file that must be there.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    Require(file.is_open());
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

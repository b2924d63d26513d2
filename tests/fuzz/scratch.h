// The one scratch folder of a fuzzer that writes files: made under $TMPDIR
// (or /tmp) on first use, reused by every input, and removed with all it
// holds when the run ends. A run that stops on a finding leaves it behind;
// scripts/test.sh and scripts/fuzz.sh point TMPDIR into build/ for that.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

inline const std::filesystem::path& FuzzScratchFolder() {
    static std::filesystem::path root;
    if (root.empty()) {
        const char* temporary = getenv("TMPDIR");
        std::string pattern =
            std::string(temporary && *temporary ? temporary : "/tmp") + "/vnfuzz-XXXXXX";
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

// What the fuzzers share: Require, which stops the run on a broken promise,
// the file helpers of the unit tests, and for those that write files one
// scratch folder for the whole run (scratch_folder.h), left behind when a
// run stops on a finding.
#pragma once

#include "../unit/scratch_folder.h"

inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

inline const fs::path& FuzzScratchFolder() {
    static ScratchFolder folder("vnfuzz");
    return folder.path();
}

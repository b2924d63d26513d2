// Require stops the run on a broken promise; the fuzzers that write files share one
// scratch folder a run, left behind when it stops on a finding.
#pragma once

#include "../unit/scratch_folder.h"

inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

inline const fs::path& FuzzScratchFolder() {
    static ScratchFolder folder("vnfuzz");
    return folder.path();
}

// An update folder read the way vnpack build packs it and the updater will
// unpack it. build and lint share this one reading, so that lint passes
// exactly what build accepts, and both name every finding in one run.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "system.h"

struct FolderEntry {
    fs::path source;
    std::string name;  // code page 932, backslashes; a folder ends in one
    bool is_folder = false;
    uint64_t filetime = 0;
    uint64_t size = 0;  // as found when the folder was read
};

struct FolderFinding {
    std::string subject;  // the path, UTF-8
    std::string message;
    bool error = true;  // false: a warning
};

struct FolderReading {
    // In archive order: top-level files (install.env, the picture, other
    // setup files, the rest), every folder parents first, then the files
    // inside folders. With all folders ahead of the nested files, the
    // updater's setup pass ends before it meets a file inside a folder.
    std::vector<FolderEntry> entries;
    std::vector<std::string> left_out;  // system junk, relative UTF-8 ("x/" for a folder)
    std::vector<FolderFinding> findings;
    int errors = 0;
    // The names the update installs, for the checks of [delfiles_afterinst].
    std::vector<std::string> ShippedNames() const;
    // install.env at the top level, or null.
    const FolderEntry* Settings() const;
};

// Reads folder (shown as shown). Returns 2 after a complaint when the folder
// cannot be read at all; otherwise 0, with every finding in *reading.
int ReadUpdateFolder(const fs::path& folder, const std::string& shown, bool include_all,
                     FolderReading* reading);

// True when path lies inside folder (or is it), links resolved as far as
// they exist.
bool IsInsideFolder(const fs::path& path, const fs::path& folder);

// System files that file managers, archivers and version control leave
// behind and that no game wants, in any letter case: build leaves them out
// unless --include-all, diff ignores them.
bool IsSystemJunk(const std::string& name, bool is_folder);

// The line that says what was left out: every name, or, when there are
// many, the count and a list file written beside list_base (unless empty).
std::string DescribeLeftOut(const std::vector<std::string>& left_out, const fs::path& list_base);

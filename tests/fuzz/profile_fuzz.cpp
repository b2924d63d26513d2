// Any bytes as a profile file and the entry written into it: WriteProfileEntry
// must succeed, leave no sibling behind, write the key=value line, and give
// the very same file when the same entry is written a second time. The input
// is the section, the key and the value, one per line, then the file as it
// was (no third line break: no file yet). The file lives in the scratch
// folder (fuzz.h).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "base/text.h"
#include "update/profile.h"
#include "fuzz.h"

namespace fs = std::filesystem;

namespace {

// A name as a settings or [ini] line can give it, which the file's own
// lines cannot mistake for something else: valid code page 932, one line, no
// "]" in a section name, no "=" in a key, no key that opens like a header.
bool IsPlainName(const std::string& name, bool is_key) {
    if (!IsValidCp932(name.data(), name.size()) || name.find('\r') != std::string::npos)
        return false;
    if (is_key) {
        size_t first = name.find_first_not_of(" \t");
        return name.find('=') == std::string::npos &&
               (first == std::string::npos || name[first] != '[');
    }
    return !FindChar(name.c_str(), ']');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input((const char*)data, size);
    std::string fields[3];
    size_t at = 0;
    for (std::string& field : fields) {
        if (at > input.size()) break;
        size_t end = std::min(input.find('\n', at), input.size());
        field = input.substr(at, end - at).c_str();
        at = end + 1;
    }
    const std::string &section = fields[0], &key = fields[1], &value = fields[2];
    const fs::path& root = FuzzScratchFolder();
    const fs::path path = root / "game.ini";
    fs::remove(path);
    if (at <= input.size()) {
        FILE* file = fopen(path.c_str(), "wb");
        Require(file && fwrite(input.data() + at, 1, input.size() - at, file) == input.size() - at);
        fclose(file);
    }

    Require(WriteProfileEntry(path.c_str(), section.c_str(), key.c_str(), value.c_str()) == 0);
    const std::string written = ReadFileBytes(path);
    Require(written.find(key + "=" + value) != std::string::npos);
    for (const auto& item : fs::directory_iterator(root)) Require(item.path() == path);
    // Values never end in a line's own bytes: install.env lines are trimmed.
    bool plain = IsPlainName(section, false) && IsPlainName(key, true) &&
                 (value.empty() || value.back() != '\r');
    if (plain) {
        Require(WriteProfileEntry(path.c_str(), section.c_str(), key.c_str(), value.c_str()) == 0);
        Require(ReadFileBytes(path) == written);
    }
    return 0;
}

// Any bytes as a profile and an entry: WriteProfileEntry writes the key=value line of
// every entry the file can give back (and refuses the others, the file as it was),
// leaves no sibling, and writing it again gives the same file. Input: section, key and
// value, one per line, then the file (no third line break: no file yet).
#include "base/text.h"
#include "../unit/scratch_folder.h"
#include "update/profile.h"

// An entry the file gives back as written, by the reader's rules: the header's first
// "]" of its own ends it, a key has no "=" and opens no header, no line breaks.
static bool FileCanHold(const std::string& section, const std::string& key, const std::string& value) {
    if ((section + key + value).find_first_of("\r\n") != std::string::npos) return false;
    std::string header = "[" + section + "]";
    size_t first = key.find_first_not_of(" \t");
    return FindChar(header.c_str(), ']') == header.c_str() + header.size() - 1 &&
           key.find('=') == std::string::npos && (first == std::string::npos || key[first] != '[');
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string before((const char*)data, size), section, key, value;
    const bool existed =
        TakeLine(&before, &section) && TakeLine(&before, &key) && TakeLine(&before, &value);
    const fs::path path = FuzzScratchFolder() / "game.ini";
    fs::remove(path);
    if (existed) WriteAll(path, before);
    const bool utf16 = before.rfind("\xff\xfe", 0) == 0 || before.rfind("\xfe\xff", 0) == 0;
    int result = WriteProfileEntry(path.c_str(), section.c_str(), key.c_str(), value.c_str());
    for (const auto& item : fs::directory_iterator(FuzzScratchFolder())) Require(item.path() == path);
    if (!FileCanHold(section, key, value) || utf16) {
        Require(result == -1 && fs::exists(path) == existed);
        Require(!existed || ReadAll(path) == before);
        return 0;
    }
    const std::string written = ReadAll(path);
    Require(result == 0 && written.find(key + "=" + value) != std::string::npos);
    Require(WriteProfileEntry(path.c_str(), section.c_str(), key.c_str(), value.c_str()) == 0);
    Require(ReadAll(path) == written);
    return 0;
}

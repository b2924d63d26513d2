// Any bytes as a folder typed at the prompt, cleaned up by CleanChosenFolder
// in a heap block of exactly its capacity: no read or write outside it, and a
// folder it accepts is terminated within it; unless folders it appends say
// otherwise, it is a drive path ("X:\..."), with no '/', no two real
// backslashes in a row and no closing backslash, that cleans up to itself
// again. The input is a flags byte (1 make folders, 2 maker folder given, 4 a
// Windows folder without a drive), a capacity byte, then the maker folder,
// the product folder and the path, one per line.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "target/target.h"
#include "fuzz.h"

namespace {

std::string NextLine(const std::string& input, size_t* at) {
    size_t end = input.find('\n', *at);
    if (end == std::string::npos) end = input.size();
    std::string line = input.substr(*at, end - *at);
    *at = end < input.size() ? end + 1 : end;
    return line.c_str();  // a C string in the program
}

// A folder name appended as it stands: valid code page 932 and one folder,
// so that the path holds it as a whole folder afterwards.
bool IsPlainFolder(const std::string& name) {
    return !name.empty() && IsValidCp932(name.data(), name.size()) &&
           name.find_first_of("\\/:") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int flags = data[0];
    const size_t capacity = 1 + data[1] % kPathCapacity;
    std::string input((const char*)data + 2, size - 2);
    size_t at = 0;
    const std::string maker = NextLine(input, &at);
    const std::string product = NextLine(input, &at);
    const std::string path = input.substr(at);
    const ChosenFolderRules rules = {flags & 1, flags & 2 ? maker.c_str() : nullptr,
                                     product.c_str(), flags & 4 ? "\\WINDOWS" : "C:\\WINDOWS"};

    // A path that does not fit is handed over without its terminator.
    char* buffer = (char*)malloc(capacity);
    if (!buffer) abort();
    size_t length = std::min(path.size(), capacity);
    memcpy(buffer, path.data(), length);
    if (length < capacity) buffer[length] = '\0';
    ChosenFolderResult result = CleanChosenFolder(buffer, rules, capacity);
    Require(result >= kChosenFolderTooLong && result <= kChosenFolderOk);
    // Folders appended from the settings are taken as they stand, so the
    // shape of the result is only promised when they are plain.
    bool plain =
        !rules.make_folders || (IsValidCp932(path.data(), length) && IsPlainFolder(product) &&
                                (!rules.maker_folder || maker.empty() || IsPlainFolder(maker)));
    if (result == kChosenFolderOk) Require(strnlen(buffer, capacity) < capacity);
    if (result == kChosenFolderOk && plain) {
        const char* colon = FindChar(buffer, ':');
        Require(colon && colon[1] == '\\');
        Require(!FindChar(buffer, '/') && !FindText(buffer, "\\\\"));
        Require(FindLastChar(buffer, '\\')[1] != '\0');
        std::string cleaned = buffer;
        Require(CleanChosenFolder(buffer, rules, capacity) == kChosenFolderOk);
        Require(cleaned == buffer);
    }
    free(buffer);
    return 0;
}

// Any bytes as a typed folder, cleaned up by CleanChosenFolder in a heap block of exactly its capacity: an
// accepted folder is terminated within it and, unless appended folders say otherwise, a drive path
// ("X:\...") with no '/', no two real backslashes in a row and no closing backslash, that cleans up to
// itself. Input: flags (1 make folders, 2 maker folder given, 4 Windows folder without a drive), capacity,
// then maker folder, product folder and path, one per line.

#include "../unit/scratch_folder.h"
#include "target/target.h"

// A folder name appended as it stands: valid code page 932 and one folder.
static bool IsPlainFolder(const std::string& name) {
    return !name.empty() && IsValidCp932(name.data(), name.size()) &&
           name.find_first_of("\\/:") == std::string::npos;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t capacity = 1 + data[1] % kPathCapacity;
    std::string path((const char*)data + 2, size - 2), maker, product;
    TakeLine(&path, &maker);
    TakeLine(&path, &product);
    const ChosenFolderRules rules = {data[0] & 1, data[0] & 2 ? maker.c_str() : nullptr,
                                     product.c_str(), data[0] & 4 ? "\\WINDOWS" : "C:\\WINDOWS"};

    // A path that does not fit is handed over without its terminator.
    char* buffer = (char*)malloc(capacity);
    size_t length = std::min(path.size(), capacity);
    memcpy(buffer, path.data(), length);
    if (length < capacity) buffer[length] = '\0';
    ChosenFolderResult result = CleanChosenFolder(buffer, rules, capacity);
    Require(result >= kChosenFolderTooLong && result <= kChosenFolderOk);
    // The shape of the result is only promised when the appended folders are plain.
    bool plain = !rules.make_folders || (IsValidCp932(path.data(), length) && IsPlainFolder(product) &&
                                (!rules.maker_folder || maker.empty() || IsPlainFolder(maker)));
    if (result == kChosenFolderOk) Require(strnlen(buffer, capacity) < capacity);
    if (result == kChosenFolderOk && plain) {
        const char* colon = FindChar(buffer, ':');
        Require(colon && colon[1] == '\\' && !FindChar(buffer, '/') && !FindText(buffer, "\\\\"));
        Require(FindLastChar(buffer, '\\')[1] != '\0');
        std::string cleaned = buffer;
        Require(CleanChosenFolder(buffer, rules, capacity) == kChosenFolderOk && cleaned == buffer);
    }
    free(buffer);
    return 0;
}

// Any bytes as an updater: the locator, the header walk, the setup pass into a work
// folder and the copy pass into a game folder, twice. Nothing is written outside those
// folders; a refused walk leaves its folder as it was; a finished copy pass leaves
// exactly the archive's entries, and a second one changes nothing.
#include <set>

#include "base/text.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "../unit/scratch_folder.h"

namespace {

typedef std::map<std::string, std::string> Tree;

// The entries' names as this platform writes them ('\' to '/'), folders with their slash.
std::set<std::string> EntryNames(const PayloadArchive* archive) {
    std::set<std::string> names;
    ArchiveCursor cursor;
    ArchiveBegin(archive, &cursor);
    PayloadEntryHeader entry;
    while (ArchiveNextEntry(&cursor, &entry, nullptr) == 1) {
        for (char* p = entry.name; *p; p += CharLength(p)) *p = *p == '\\' ? '/' : *p;
        names.insert(entry.name);
    }
    return names;
}

// One pass into folder, checked; *tree gets what the folder holds afterwards.
int Pass(const PayloadArchive* archive, ExtractPass pass, const fs::path& folder, Tree* tree = nullptr) {
    Tree before = Snapshot(folder);
    ExtractTarget target = {folder.c_str(), pass, nullptr, nullptr, nullptr};
    StagedList staged = {};
    ArchiveFault fault;
    int result = ExtractArchive(archive, &target, nullptr, &staged, &fault);
    Require((result == kExtractDone || result == kExtractFailed) && staged.count == 0);
    Tree after = Snapshot(folder);
    if (result != 0) {
        Require(after == before);
    } else if (pass == kSetupPass) {
        for (const auto& item : after) Require(item.first.back() != '/' && IsSetupFile(item.first.c_str()));
    } else {
        std::set<std::string> written;
        for (const auto& item : after) written.insert(item.first);
        Require(written == EntryNames(archive));
    }
    if (tree) *tree = after;
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& root = FuzzScratchFolder();
    const fs::path work = root / "work";
    const fs::path game = root / "game";
    fs::create_directory(work);
    fs::create_directory(game);
    FILE* stream = size > 0 ? fmemopen((void*)data, size, "rb") : nullptr;
    PayloadArchive archive;
    if (stream && LocateArchive(stream, &archive) == 0) {
        Require(archive.offset >= 0 && archive.size >= 4 && (size_t)archive.file_length <= size &&
                archive.offset + archive.size + kTrailerLength == archive.file_length);
        Pass(&archive, kSetupPass, work);
        // Applied again over its own files, the update changes nothing.
        Tree first, second;
        if (Pass(&archive, kCopyPass, game, &first) == 0)
            Require(Pass(&archive, kCopyPass, game, &second) == 0 && second == first);
    }
    if (stream) fclose(stream);

    for (const auto& item : fs::directory_iterator(root)) Require(item.path() == work || item.path() == game);
    fs::remove_all(work);
    fs::remove_all(game);
    return 0;
}

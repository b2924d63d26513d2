// The update folder as build packs it and lint checks it (see folder.h).
#include "folder.h"

#include <algorithm>
#include <map>

#include "base/text.h"
#include "config/setup_files.h"
#include "names.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "picture.h"
#include "vnpack.h"

namespace {

// Rank of a top-level file: the configuration first, the picture next, then
// the other setup files, then everything else.
int TopLevelRank(const std::string& name) {
    if (SameWindowsName(name, kSettingsFileName)) return 0;
    if (SameWindowsName(name, kTitlePictureName)) return 1;
    return IsSetupFile(name.c_str()) ? 2 : 3;
}

int Group(const FolderEntry& entry) {
    if (entry.is_folder) return 4;
    if (FindChar(entry.name.c_str(), '\\')) return 5;
    return TopLevelRank(entry.name);
}

// True for a file that holds an updater's archive: packed again, the next
// update would carry the last one.
bool IsUpdater(const fs::path& path) {
    std::string extension = PathToUtf8(path.extension());
    if (!SameWindowsName(extension, ".exe")) return false;
    FILE* stream = OpenPath(path, "rb");
    if (!stream) return false;
    PayloadArchive archive = {};
    ArchiveFault fault = {};
    bool found = LocateArchive(stream, &archive) == 0 && CheckArchive(&archive, 0, &fault) == 0;
    fclose(stream);
    return found;
}

// The name under which the archive carries a path of the folder: code page
// 932 parts joined by backslashes. Empty with *problem when it has none.
std::string ArchiveName(const std::string& relative, bool is_folder, std::string* problem) {
    std::string name;
    for (const fs::path& part : PathFromUtf8(relative)) {
        std::string piece, text = PathToUtf8(part);
        if (!ToCp932(text, &piece)) {
            *problem = "name cannot be written in code page 932";
            return "";
        }
        // Judged once converted: ¥ becomes 0x5C, a separator to Windows.
        if (FindChar(piece.c_str(), '\\')) {
            *problem = "name contains a backslash or a yen sign (0x5C in code page 932)";
            return "";
        }
        if (!name.empty()) name += '\\';
        name += piece;
    }
    if (is_folder) name += '\\';
    return name;
}

// Names that Windows takes for one: two files, or a file and a folder, whose
// names fold alike. Folders alone merge harmlessly.
void FindClashes(FolderReading* reading) {
    std::map<std::string, const FolderEntry*> seen;
    for (const FolderEntry& entry : reading->entries) {
        std::string key = FoldedName(entry.name);
        if (entry.is_folder) key.pop_back();
        auto found = seen.emplace(key, &entry);
        const FolderEntry* other = found.first->second;
        if (found.second || (entry.is_folder && other->is_folder)) continue;
        reading->findings.push_back(
            {PathToUtf8(entry.source),
             "another entry has the same name on Windows (letter case, or a file and a folder "
             "of one name): " +
                 PathToUtf8(other->source)});
    }
}

}  // namespace

std::vector<std::string> FolderReading::ShippedNames() const {
    std::vector<std::string> names;
    for (const FolderEntry& entry : entries) names.push_back(entry.name);
    return names;
}

const FolderEntry* FolderReading::Settings() const {
    if (entries.empty() || entries[0].is_folder || TopLevelRank(entries[0].name) != 0)
        return nullptr;
    return &entries[0];
}

bool IsInsideFolder(const fs::path& path, const fs::path& folder) {
    std::error_code error;
    fs::path inner = fs::weakly_canonical(fs::absolute(path, error), error);
    fs::path outer = fs::weakly_canonical(fs::absolute(folder, error), error);
    if (error) return false;
    auto a = inner.begin(), b = outer.begin();
    for (; b != outer.end() && !b->empty(); ++a, ++b) {
        if (a == inner.end() || *a != *b) return false;
    }
    return true;
}

int ReadUpdateFolder(const fs::path& folder, const std::string& shown, bool include_all,
                     FolderReading* reading) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) return Complain(shown, "not a readable folder");
    fs::recursive_directory_iterator walk(folder, error), end;
    if (error) return Complain(shown, error.message());
    auto add = [reading](const std::string& subject, const std::string& message, bool is_error) {
        reading->findings.push_back({subject, message, is_error});
    };
    for (; walk != end; walk.increment(error)) {
        if (error) return Complain(shown, error.message());
        const fs::path& path = walk->path();
        std::string relative = PathToUtf8(path.lexically_relative(folder));
        std::string subject = PathToUtf8(path);
        // A link could bring in anything on the maker's machine: never followed.
        if (walk->is_symlink(error)) {
            add(subject, "is a symbolic link: put the file itself in the folder", true);
            continue;
        }
        bool is_folder = walk->is_directory(error);
        if (!include_all && IsSystemJunk(PathToUtf8(path.filename()), is_folder)) {
            reading->left_out.push_back(relative + (is_folder ? "/" : ""));
            if (is_folder) walk.disable_recursion_pending();
            continue;
        }
        if (!is_folder && !walk->is_regular_file(error)) {
            add(subject, "neither a file nor a folder", true);
            continue;
        }
        std::string problem;
        std::string name = ArchiveName(relative, is_folder, &problem);
        if (name.empty()) {
            add(subject, problem, true);
            if (is_folder) walk.disable_recursion_pending();
            continue;
        }
        if (!TitlePictureName(folder, &name)) {
            add(subject, std::string(kTitlePictureName) + " is there too: keep one of the two",
                true);
            continue;
        }
        const char* reason = nullptr;
        if (name.size() + 1 > kNameFieldCapacity ||
            !IsSafeEntryName(name.c_str(), is_folder, 0, &reason)) {
            add(subject, std::string("unusable name: ") + (reason ? reason : "path too long"),
                true);
            if (is_folder) walk.disable_recursion_pending();
            continue;
        }
        FolderEntry entry;
        entry.source = path;
        entry.name = name;
        entry.is_folder = is_folder;
        if (!is_folder) {
            entry.size = walk->file_size(error);
            if (error || !SourceFileTime(path, &entry.filetime))
                return Complain(subject, "cannot read its size or time");
            if (entry.size > kLargestSize) {
                add(subject, "file of 2 GiB or more", true);
                continue;
            }
            if (IsUpdater(path))
                add(subject, "is an updater: the update would carry it to every player", false);
        }
        reading->entries.push_back(entry);
    }
    std::sort(reading->entries.begin(), reading->entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) {
                  int ga = Group(a), gb = Group(b);
                  if (ga != gb) return ga < gb;
                  return a.name < b.name;  // bytes: a parent is a prefix of its children
              });
    FindClashes(reading);
    if (!reading->Settings())
        add(shown, std::string("no ") + kSettingsFileName + " at the top level", true);
    for (const FolderFinding& finding : reading->findings) reading->errors += finding.error;
    return 0;
}

bool IsSystemJunk(const std::string& name, bool is_folder) {
    static const char* const kFiles[] = {"thumbs.db",   "ehthumbs.db", "ehthumbs_vista.db",
                                         "desktop.ini", ".ds_store",   "._*",
                                         ".directory",  "*.bak",       "*~"};
    static const char* const kFolders[] = {".git",
                                           ".svn",
                                           ".hg",
                                           "__macosx",
                                           "$recycle.bin",
                                           ".trashes",
                                           ".spotlight-v100",
                                           ".fseventsd",
                                           ".temporaryitems"};
    std::string lower = name;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    }
    for (const char* pattern : is_folder ? kFolders : kFiles) {
        if (is_folder ? lower == pattern : WildcardMatch(pattern, lower.c_str())) return true;
    }
    return false;
}

std::string DescribeLeftOut(const std::vector<std::string>& left_out, const fs::path& list_base) {
    // A line stays readable up to about this many names.
    const size_t kNamedInLine = 12;
    std::string count =
        std::to_string(left_out.size()) + " system file" + (left_out.size() == 1 ? "" : "s");
    std::string names;
    if (left_out.size() <= kNamedInLine || list_base.empty()) {
        for (size_t i = 0; i < left_out.size(); ++i) names += (i ? ", " : "") + left_out[i];
        return "left out " + count + " (" + names + ")";
    }
    fs::path list = list_base;
    list += ".left-out.txt";
    FILE* out = OpenPath(list, "wb");
    bool ok = out != nullptr;
    for (size_t i = 0; ok && i < left_out.size(); ++i)
        ok = fprintf(out, "%s\n", left_out[i].c_str()) > 0;
    if (out && fclose(out) != 0) ok = false;
    if (!ok) {
        for (size_t i = 0; i < left_out.size(); ++i) names += (i ? ", " : "") + left_out[i];
        return "left out " + count + " (" + names + ")";
    }
    return "left out " + count + ", listed in " + PathToUtf8(list);
}

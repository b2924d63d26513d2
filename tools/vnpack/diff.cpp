// vnpack diff: an update folder made from two versions of a game. Files that
// are new or changed (by content) are copied; files the new version no longer
// has go into the [delfiles_afterinst] section of the install.env written
// beside them, with the setup files, after a template's settings when given.
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "base/text.h"
#include "config/sections.h"
#include "config/setup_files.h"
#include "env_text.h"
#include "folder.h"
#include "names.h"
#include "payload/extract.h"
#include "picture.h"
#include "system.h"
#include "vnpack.h"

namespace {

const char* const kAfterInstallHeader = SectionHeader(kSectionDelfilesAfterinst);
const char* const kSetupNames[] = {kSettingsFileName, kTitlePictureName};

struct GameFile {
    std::string relative;  // UTF-8, "/" separators
    fs::path path;
    uint64_t size = 0;
};

// The regular files under root, sorted; system junk left out. Links are
// refused (never followed), as build refuses them.
int ListGameFiles(const fs::path& root, const std::string& shown, std::vector<GameFile>* files) {
    std::error_code error;
    if (!fs::is_directory(root, error)) return Complain(shown, "not a readable folder");
    fs::recursive_directory_iterator walk(root, error), end;
    for (; !error && walk != end; walk.increment(error)) {
        std::string name = PathToUtf8(walk->path().filename());
        if (walk->is_symlink(error))
            return Refuse(PathToUtf8(walk->path()), "is a symbolic link: vnpack follows none");
        bool is_folder = walk->is_directory(error);
        if (IsSystemJunk(name, is_folder)) {
            if (is_folder) walk.disable_recursion_pending();
            continue;
        }
        if (is_folder) continue;
        GameFile file;
        file.path = walk->path();
        file.relative = PathToUtf8(walk->path().lexically_relative(root));
        if (fs::path::preferred_separator != '/')
            std::replace(file.relative.begin(), file.relative.end(), '\\', '/');
        file.size = walk->file_size(error);
        files->push_back(file);
    }
    if (error) return Complain(shown, error.message());
    std::sort(files->begin(), files->end(),
              [](const GameFile& a, const GameFile& b) { return a.relative < b.relative; });
    return 0;
}

// True when both files hold the same bytes. *failed on a read error.
bool SameContent(const fs::path& a, const fs::path& b, bool* failed) {
    FILE* first = OpenPath(a, "rb");
    FILE* second = OpenPath(b, "rb");
    bool same = first && second;
    std::vector<char> one(65536), two(65536);
    while (same) {
        size_t got = fread(one.data(), 1, one.size(), first);
        same = fread(two.data(), 1, two.size(), second) == got &&
               memcmp(one.data(), two.data(), got) == 0;
        if (got < one.size()) break;
    }
    *failed = !first || !second || ferror(first) || ferror(second);
    if (first) fclose(first);
    if (second) fclose(second);
    return same;
}

// The line of [delfiles_afterinst] for a relative path: code page 932 with
// backslashes. Empty when the section reader would take the line for
// something else, or a wildcard would reach further.
std::string DeletionLine(const std::string& relative) {
    std::string line;
    if (!ToCp932(relative, &line)) return "";
    for (char* p = &line[0]; *p; p += CharLength(p)) {
        if (*p == '/') *p = '\\';
    }
    bool misread = line[0] == '-' || line[0] == ';' || line[0] == '[' ||
                   line.compare(0, 2, "//") == 0 || line.compare(0, 3, "EOF") == 0 ||
                   (unsigned char)line.back() <= 0x20 || (unsigned char)line[0] <= 0x20 ||
                   FindChar(line.c_str(), '*') || FindChar(line.c_str(), '?');
    return misread ? "" : line;
}

std::string Lower(std::string text) {
    if (!text.empty()) LowerCaseCp932(&text[0]);
    return text;
}

// The template's lines without its [delfiles_afterinst] section, whose
// entries go to *entries. Line breaks as the template has them.
std::string SplitTemplate(const std::string& cp932, std::vector<std::string>* entries) {
    std::string kept;
    bool inside = false;
    for (size_t start = 0; start < cp932.size();) {
        size_t end = cp932.find('\n', start);
        end = end == std::string::npos ? cp932.size() : end + 1;
        std::string line = cp932.substr(start, end - start);
        start = end;
        std::string text = line.substr(0, line.find_last_not_of(" \t\r\n") + 1);
        if (!inside &&
            Lower(text).compare(0, strlen(kAfterInstallHeader), kAfterInstallHeader) == 0) {
            inside = true;
        } else if (inside && text[0] == '-') {
            inside = false;
        } else if (inside) {
            if (!text.empty() && text[0] != ';' && text.compare(0, 2, "//") != 0)
                entries->push_back(text);
        } else {
            kept += line;
        }
    }
    return kept;
}

// The key under which Windows finds a relative path of the game (UTF-8, "/"
// separators): one key, one file.
std::string WindowsKey(const std::string& relative) {
    std::string cp932;
    if (!ToCp932(relative, &cp932)) return relative;  // build refuses such a name anyway
    for (char* p = cp932.empty() ? nullptr : &cp932[0]; p && *p; p += CharLength(p)) {
        if (*p == '/') *p = '\\';
    }
    return FoldedName(cp932);
}

bool ParsePlayerData(const std::string& utf8, std::vector<std::string>* patterns) {
    patterns->clear();
    size_t start = 0;
    while (start <= utf8.size()) {
        size_t comma = utf8.find(',', start);
        if (comma == std::string::npos) comma = utf8.size();
        std::string piece = utf8.substr(start, comma - start), cp932;
        if (!piece.empty()) {
            if (!ToCp932(piece, &cp932)) return false;
            patterns->push_back(cp932);
        }
        start = comma + 1;
    }
    return true;
}

bool CopyGameFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    fs::copy_file(from, to, error);
    if (!error) fs::last_write_time(to, fs::last_write_time(from, error), error);
    return !error;
}

// The settings to start from, in the template's own encoding and line ends,
// or a title from the folder's name.
struct Settings {
    std::string kept;                  // the template without its [delfiles_afterinst] section
    std::vector<std::string> entries;  // that section's entries, code page 932
    EnvEncoding encoding = kEnvCp932;
    const char* line_end = "\r\n";
};

int StartSettings(const Arguments& args, const fs::path& new_root, Settings* settings) {
    if (!args.Has("--env")) {
        std::string title;
        if (!ToCp932(PathToUtf8(new_root.filename()), &title) || title.empty()) title = "game";
        for (char* p = &title[0]; *p; p += CharLength(p)) {
            if (*p == ' ') *p = '|';
        }
        settings->kept = "// vnpack diff: set the keys (docs/install-env.md)\r\nTITLEBAR\t" +
                         title + "\r\n[EOF]\r\n";
        return 0;
    }
    std::string name = args.Get("--env");
    FILE* in = OpenPath(PathFromUtf8(name), "rb");
    if (!in) return Complain(name, strerror(errno));
    std::string bytes;
    char block[4096];
    for (size_t got; (got = fread(block, 1, sizeof block, in)) > 0;) bytes.append(block, got);
    bool failed = ferror(in) != 0;
    fclose(in);
    if (failed) return Complain(name, "read error");
    EnvText text;
    if (!DecodeEnvText(bytes, &text)) return Refuse(name, DescribeEnvEncoding(text));
    settings->encoding = text.encoding;
    // Split in the template's own bytes, so that what is kept stays as the
    // maker wrote it; the entries are compared in code page 932.
    std::string body = text.encoding == kEnvUtf8WithMark ? bytes.substr(3) : bytes;
    std::vector<std::string> entries;
    settings->kept = SplitTemplate(body, &entries);
    for (const std::string& entry : entries) {
        std::string cp932 = entry;
        if (text.encoding != kEnvCp932 && !ToCp932(entry, &cp932)) return Refuse(name, entry);
        settings->entries.push_back(cp932);
    }
    size_t lines = std::count(bytes.begin(), bytes.end(), '\n');
    size_t crlf = 0;
    for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2))
        ++crlf;
    if (lines > 0 && crlf * 2 < lines) settings->line_end = "\n";
    if (!settings->kept.empty() && settings->kept.back() != '\n')
        settings->kept += settings->line_end;
    if (text.encoding == kEnvUtf8WithMark) settings->kept.insert(0, "\xEF\xBB\xBF");
    return 0;
}

// A code page 932 line as the template's encoding writes it.
std::string InEncoding(const std::string& cp932, EnvEncoding encoding) {
    return encoding == kEnvCp932 ? cp932 : ToUtf8(cp932.c_str());
}

}  // namespace

int DiffCommand(const Arguments& args) {
    const std::string &old_text = args.operands[0], &new_text = args.operands[1];
    const std::string output_text = args.Get("-o");
    const fs::path old_root = PathFromUtf8(old_text), new_root = PathFromUtf8(new_text);
    const fs::path output = PathFromUtf8(output_text);
    std::vector<std::string> player_data = DefaultPlayerData();
    if (args.Has("--player-data") && !ParsePlayerData(args.Get("--player-data"), &player_data))
        return Complain(args.Get("--player-data"), "cannot be written in code page 932");
    const bool delete_player_data = args.Has("--delete-player-data");
    std::error_code error;
    if (fs::exists(output, error) &&
        !(fs::is_directory(output, error) && fs::is_empty(output, error)))
        return Complain(output_text, "exists and is not an empty folder");
    std::vector<GameFile> old_files, new_files;
    if (int result = ListGameFiles(old_root, old_text, &old_files)) return result;
    if (int result = ListGameFiles(new_root, new_text, &new_files)) return result;
    Settings settings;
    if (int result = StartSettings(args, new_root, &settings)) return result;
    fs::create_directories(output, error);
    if (!fs::is_directory(output, error)) return Complain(output_text, "cannot create the folder");

    // Matched as Windows matches names: a file whose name changed only in
    // letter case is the same file there, renamed, and must not be deleted.
    std::map<std::string, const GameFile*> old_by_key;
    for (const GameFile& file : old_files) old_by_key[WindowsKey(file.relative)] = &file;
    std::set<std::string> new_keys, new_folder_keys;
    for (const GameFile& file : new_files) {
        std::string key = WindowsKey(file.relative);
        new_keys.insert(key);
        for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1))
            new_folder_keys.insert(key.substr(0, at));
    }

    size_t added = 0, changed = 0, renamed = 0, unchanged = 0, deleted = 0;
    std::set<std::string> warned;
    uint64_t added_bytes = 0, changed_bytes = 0;
    for (const GameFile& file : new_files) {
        auto found = old_by_key.find(WindowsKey(file.relative));
        const GameFile* before = found == old_by_key.end() ? nullptr : found->second;
        bool same_name = before && before->relative == file.relative;
        bool failed = false;
        if (same_name && before->size == file.size &&
            SameContent(before->path, file.path, &failed)) {
            ++unchanged;
            continue;
        }
        if (failed) return Complain(file.relative, "cannot be read");
        if (!CopyGameFile(file.path, output / PathFromUtf8(file.relative)))
            return Complain(PathToUtf8(output / PathFromUtf8(file.relative)), "cannot be written");
        (before ? changed : added) += 1;
        (before ? changed_bytes : added_bytes) += file.size;
        renamed += before && !same_name;
    }
    // A template's line that would delete a file of the new version goes;
    // the setup files, which are meant to go, excepted.
    std::vector<std::string> entries;
    for (const std::string& entry : settings.entries) {
        const GameFile* reached = nullptr;
        for (const GameFile& file : new_files) {
            std::string name;
            if (ToCp932(file.relative, &name) && !IsSetupFile(name.c_str()) &&
                PatternReaches(entry, name)) {
                reached = &file;
                break;
            }
        }
        if (reached) {
            Complain(ToUtf8(entry.c_str()), "left out of [delfiles_afterinst]: it would delete " +
                                                reached->relative + ", which the new version has");
            continue;
        }
        entries.push_back(entry);
    }
    // The setup files land in the game's folder too: listed first, once.
    for (const char* name : kSetupNames) {
        bool listed = false;
        for (const std::string& entry : entries) listed |= SameWindowsName(entry, name);
        if (!listed) entries.push_back(name);
    }
    std::vector<std::string> kept_for_player;
    for (const GameFile& file : old_files) {
        if (new_keys.count(WindowsKey(file.relative))) continue;
        std::string line = DeletionLine(file.relative);
        if (line.empty()) {
            Complain(file.relative, "cannot be named in [delfiles_afterinst]: delete it by hand");
            continue;
        }
        if (!delete_player_data && IsPlayerData(line, player_data)) {
            kept_for_player.push_back(file.relative);
            continue;
        }
        // The updater removes a folder only at the first level below the
        // game's folder, after its last listed file: a deeper one stays.
        size_t slash = file.relative.rfind('/');
        std::string parent = slash == std::string::npos ? "" : file.relative.substr(0, slash);
        if (parent.find('/') != std::string::npos && !new_folder_keys.count(WindowsKey(parent)) &&
            warned.insert(parent).second)
            Complain(parent, "the updater empties this folder but leaves it in place");
        entries.push_back(line);
        ++deleted;
    }
    if (!kept_for_player.empty()) {
        std::string names;
        for (size_t i = 0; i < kept_for_player.size(); ++i)
            names += (i ? ", " : "") + kept_for_player[i];
        Complain(output_text,
                 "not deleted, as the player's own data (--delete-player-data "
                 "deletes them): " +
                     names);
    }
    std::string text = settings.kept + settings.line_end + kAfterInstallHeader + settings.line_end;
    for (const std::string& entry : entries)
        text += InEncoding(entry, settings.encoding) + settings.line_end;
    text += std::string("-") + settings.line_end;
    FILE* out = OpenPath(output / kSettingsFileName, "wb");
    bool ok = out && fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out && fclose(out) != 0) ok = false;
    if (!ok) return Complain(PathToUtf8(output / kSettingsFileName), "cannot be written");
    // The title picture comes with the template, when it has one beside it.
    bool picture = false;
    if (args.Has("--env")) {
        fs::path folder = PathFromUtf8(args.Get("--env")).parent_path();
        if (folder.empty()) folder = ".";
        for (const auto& item : fs::directory_iterator(folder, error)) {
            std::string name = Lower(PathToUtf8(item.path().filename()));
            if (!picture && (name == kTitlePictureName || name == kTitlePictureSource)) {
                picture = CopyGameFile(item.path(), output / name);
            }
        }
    }
    if (!picture)
        Complain(output_text, std::string("no title picture: put ") + kTitlePictureName + " (or " +
                                  kTitlePictureSource + ") there before vnpack build");
    std::string renames =
        renamed ? ", " + std::to_string(renamed) + " of them renamed in letter case" : "";
    printf(
        "%s: %zu new files (%llu bytes), %zu changed (%llu bytes%s), %zu unchanged left out; "
        "install.env deletes %zu files\n",
        output_text.c_str(), added, (unsigned long long)added_bytes, changed,
        (unsigned long long)changed_bytes, renames.c_str(), unchanged, deleted);
    return 0;
}

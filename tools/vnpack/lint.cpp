// vnpack lint: reads install.env with the updater's own two readers and shows
// what the updater will see, with warnings for what is legal but almost
// certainly a mistake. Findings carry the file's line numbers; all output is
// UTF-8.
#include "lint.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/text.h"
#include "config/sections.h"
#include "config/setup_files.h"
#include "config/settings.h"
#include "payload/extract.h"
#include "update/afterinst.h"
#include "update/profile.h"
#include "update/transfer.h"
#include "env_text.h"
#include "image/rct.h"
#include "names.h"
#include "picture.h"
#include "png.h"
#include "system.h"
#include "texts.h"

namespace {

enum Severity { kNote, kWarning, kError };

struct Finding {
    int line;
    Severity severity;
    std::string message;  // UTF-8
};

const SettingRow* FindKnownKey(const std::string& key) {
    return FindSettingRow(key.c_str());
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = (char)(c - 32);
    }
    return text;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + cost});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The nearest known key when it is near enough to be a typo.
const char* NearestKey(const std::string& key) {
    const char* best = nullptr;
    size_t best_distance = 0;
    std::string upper = UpperAscii(key);
    for (const SettingRow& known : kSettingRows) {
        size_t distance = EditDistance(upper, known.key);
        if (!best || distance < best_distance) {
            best = known.key;
            best_distance = distance;
        }
    }
    size_t allowed = std::max<size_t>(1, strlen(best) / 4);
    return best_distance <= allowed ? best : nullptr;
}

// Code page 932 to UTF-8 for display; a byte sequence without a UTF-8 form is
// shown as \xNN so that the maker sees exactly which bytes are wrong.
std::string Display(const std::string& cp932) {
    std::vector<char> utf8(cp932.size() * 3 + 1);
    if (OsCp932ToUtf8(cp932.c_str(), utf8.data(), utf8.size())) return utf8.data();
    std::string shown;
    for (size_t i = 0; i < cp932.size();) {
        size_t length = CharLength(cp932.c_str() + i);
        std::string character = cp932.substr(i, length);
        char converted[8];
        if (IsValidCp932(character.data(), character.size()) &&
            OsCp932ToUtf8(character.c_str(), converted, sizeof converted)) {
            shown += converted;
        } else {
            for (unsigned char byte : character) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02X", byte);
                shown += hex;
            }
        }
        i += length;
    }
    return shown;
}

// The file's path in the system's own encoding, the way the caller opened
// it: code page 932 on Windows, bytes that are already UTF-8 on Linux.
std::string DisplayPath(const char* path) {
    return CorePathsAreCp932() ? Display(path) : path;
}

std::string Quote(const std::string& cp932) {
    return "\"" + Display(cp932) + "\"";
}

struct SettingSeen {
    std::string value;  // with bars turned into spaces
    int line;
};

struct SectionLineSeen {
    std::string text;
    int line;
};

struct Lint {
    std::vector<Finding> findings;
    std::vector<std::string> raw_lines;  // physical lines without line breaks
    // What the section reader made of each physical line.
    std::map<int, SectionLineKind> section_kinds;
    std::vector<SectionLineSeen> lists[kSectionCount];
    int header_lines[kSectionCount] = {};
    SectionParseResult sections = {};
    // The settings as the updater keeps them: the first of each key.
    std::map<std::string, SettingSeen> settings;
    SettingParseResult settings_result = {};

    void Add(int line, Severity severity, const std::string& message) {
        findings.push_back({line, severity, message});
    }

    // True for lines that belong to a section (items, headers, terminators,
    // comments): the settings reader may take them for settings, harmlessly.
    bool IsSectionMaterial(int line) const {
        auto found = section_kinds.find(line);
        if (found == section_kinds.end()) return false;
        return found->second != kSectionIgnored && found->second != kSectionBlank;
    }
};

// The value the updater keeps for a setting of the table, or null.
const SettingSeen* FindSetting(const Lint& lint, SettingKey key) {
    auto found = lint.settings.find(kSettingRows[key].key);
    return found == lint.settings.end() ? nullptr : &found->second;
}

void OnSectionLine(const SectionLineInfo* line, void* context) {
    Lint* lint = (Lint*)context;
    // A long line arrives in pieces; its first piece decides.
    lint->section_kinds.emplace(line->file_line, line->kind);
    std::string text = line->text;
    switch (line->kind) {
        case kSectionHeaderLine: {
            int id = line->header;
            if (lint->header_lines[id] != 0) {
                lint->Add(line->file_line, kWarning,
                          std::string("section [") + SectionName(line->header) +
                              "] given again: the lines after its header on line " +
                              std::to_string(lint->header_lines[id]) + " are dropped");
            }
            lint->header_lines[id] = line->file_line;
            lint->lists[id].clear();
            break;
        }
        case kSectionItem:
            lint->lists[line->section].push_back({text, line->file_line});
            break;
        case kSectionIgnored:
            if (text[0] == '[' && text != "[EOF]" && FindChar(text.c_str(), ']')) {
                lint->Add(line->file_line, kWarning,
                          Quote(text) + " is not a section the updater knows; it is ignored");
            }
            break;
        default:
            break;
    }
}

// What an INI file cannot hold, as the updater's INI editor refuses it.
std::string ProfileProblemText(ProfileProblem problem) {
    switch (problem) {
        case kProfileSectionBracket:
            return "a \"]\" in the name (or a last byte that would pair with the header's \"]\")";
        case kProfileKeyBracket:
            return "a key beginning with \"[\", which would read as a section header";
        case kProfileKeyEquals:
            return "an \"=\" in the key";
        case kProfileLineBreak:
            return "a line break (CR or LF)";
        default:
            return "";
    }
}

void CheckSectionLines(Lint* lint) {
    // The game's folder stands in for the game folder's placeholder; no path
    // of one opens a header or breaks a line.
    const TransferPlaces places = {"C:\\Game", nullptr};
    for (const SectionLineSeen& item : lint->lists[kSectionIni]) {
        if (!FindChar(item.text.c_str(), kIniSeparator)) {
            lint->Add(item.line, kWarning,
                      std::string("[ini] line without \"") + kIniSeparator +
                          "\": the updater skips it: " + Quote(item.text));
        }
        TransferEntry entry;
        if (ParseIniLine(item.text.c_str(), &places, &entry) == kTransferAccepted) {
            ProfileProblem problem = CheckProfileEntry(entry.name, entry.data);
            if (problem != kProfileFits) {
                lint->Add(
                    item.line, kError,
                    "[ini] line with " + ProfileProblemText(problem) +
                        ": an INI file cannot hold it, the updater skips it: " + Quote(item.text));
            }
        }
        const char* cdrom = FindText(item.text.c_str(), kPlaceholderRegDrive);
        if (cdrom && !StartsWith(cdrom, kPlaceholderIniDrive)) {
            lint->Add(item.line, kWarning,
                      std::string("[ini] lines name the drive ") + kPlaceholderIniDrive + "; " +
                          kPlaceholderRegDrive + " stays as written");
        }
    }
    for (const SectionLineSeen& item : lint->lists[kSectionReg]) {
        if (!FindText(item.text.c_str(), kRegSeparator)) {
            lint->Add(item.line, kWarning,
                      "[reg] line without \"=\" between quoted name and data (not a string "
                      "value): the updater skips it: " +
                          Quote(item.text));
        }
        if (FindText(item.text.c_str(), kPlaceholderIniDrive)) {
            lint->Add(item.line, kWarning,
                      std::string("[reg] lines name the drive ") + kPlaceholderRegDrive + "; " +
                          kPlaceholderIniDrive + " becomes the drive followed by DRIVE");
        }
    }
    const SectionParseResult& result = lint->sections;
    if (result.open_section != kSectionOutside) {
        std::string message = std::string("section [") + SectionName(result.open_section) +
                              "] is not terminated by a line beginning with \"-\"";
        if (result.end_file_line != 0) {
            message += " before the EOF line on line " + std::to_string(result.end_file_line);
        }
        lint->Add(result.open_file_line, kError, message + ": the updater refuses to start");
    }
}

void OnSettingLine(const SettingLine* line, void* context) {
    Lint* lint = (Lint*)context;
    if (line->kind == kSettingSkipped) {
        // An indented key is the classic way to lose a setting.
        const char* p = line->text;
        while (*p == ' ' || *p == '\t') ++p;
        std::string token(p, strcspn(p, " \t\r\n"));
        if (p != line->text && !lint->IsSectionMaterial(line->file_line) &&
            (FindKnownKey(token) || FindKnownKey(UpperAscii(token)))) {
            lint->Add(line->file_line, kWarning,
                      "key " + Quote(token) +
                          " is indented: the updater reads keys only at the start of a line");
        }
        return;
    }
    std::string key = line->key;
    const SettingRow* known = FindKnownKey(key);
    if (!known) {
        if (lint->IsSectionMaterial(line->file_line)) return;
        if (FindKnownKey(UpperAscii(key))) {
            lint->Add(line->file_line, kWarning,
                      "key " + Quote(key) +
                          " is not written in capitals: the updater "
                          "matches keys exactly, write " +
                          UpperAscii(key));
            return;
        }
        if (line->kind == kSettingNoValue) {
            // KEY=value, as in INI files, is one token to the updater.
            size_t equals = key.find('=');
            if (equals != std::string::npos && FindKnownKey(key.substr(0, equals))) {
                lint->Add(line->file_line, kWarning,
                          Quote(key) +
                              " is read as one word: the updater wants the key, "
                              "a space or tab, then the value (no \"=\")");
            }
            return;
        }
        const char* nearest = NearestKey(key);
        std::string message = "unknown key " + Quote(key);
        message += nearest ? std::string(" (did you mean ") + nearest + "?)"
                           : std::string(": the updater never reads it");
        lint->Add(line->file_line, kWarning, message);
        return;
    }
    if (line->kind == kSettingNoValue) {
        if (line->gap > 0) {
            lint->Add(line->file_line, kWarning,
                      key + " has its value " + std::to_string(line->gap) +
                          " separator bytes away (at most " + std::to_string(kSettingMaxGap) +
                          "): the updater ignores the line");
        } else {
            lint->Add(line->file_line, kWarning, key + " has no value: the updater ignores it");
        }
        return;
    }
    auto earlier = lint->settings.find(key);
    if (earlier != lint->settings.end()) {
        lint->Add(line->file_line, kWarning,
                  key + " given again: the updater keeps the value of line " +
                      std::to_string(earlier->second.line));
        return;
    }
    lint->settings[key] = {line->value, line->file_line};
    std::string rest = line->rest;
    if (!rest.empty()) {
        bool remark = rest[0] == '/' || rest[0] == ';' || rest[0] == '#';
        lint->Add(line->file_line, remark ? kNote : kWarning,
                  "text after the value of " + key + " is ignored: " + Quote(rest) +
                      (remark ? std::string()
                              : std::string(" (if it belongs to the value, write \"|\" for "
                                            "each space)")));
    }
    if (known->capacity > 0 && strlen(line->value) > known->capacity - 1) {
        lint->Add(line->file_line, kWarning,
                  key + " is longer than " + std::to_string(known->capacity - 1) +
                      " bytes: the updater cuts it");
    }
    if (known->kind == kSettingNumber) {
        const char* v = line->value;
        if (*v == '+' || *v == '-') ++v;
        if (!(*v >= '0' && *v <= '9')) {
            lint->Add(line->file_line, kWarning, key + " is not a number: the updater reads 0");
        }
    }
}

// Keyed settings that the updater never reaches: after "[EOF]" or past its
// line limit. Found by reading once more without either stop.
struct LateContext {
    Lint* lint;
    const SettingParseResult* updater;
};

void OnLateSettingLine(const SettingLine* line, void* context) {
    LateContext* late = (LateContext*)context;
    const SettingParseResult& updater = *late->updater;
    if (line->kind != kSettingEntry || !FindKnownKey(line->key)) return;
    if (late->lint->IsSectionMaterial(line->file_line)) return;
    if (updater.stop == kSettingStopMarker && line->file_line > updater.stop_file_line) {
        late->lint->Add(line->file_line, kWarning,
                        std::string(line->key) + " comes after [EOF] on line " +
                            std::to_string(updater.stop_file_line) +
                            ": the updater does not read it");
    } else if (updater.stop == kSettingStopLimit && line->number > updater.lines) {
        late->lint->Add(line->file_line, kWarning,
                        std::string(line->key) + " comes after the first " +
                            std::to_string(kSettingLineLimit) +
                            " lines: the updater does not read it");
    }
}

void CheckRawLines(Lint* lint) {
    for (size_t i = 0; i < lint->raw_lines.size(); ++i) {
        const std::string& text = lint->raw_lines[i];
        int number = (int)i + 1;
        if (!IsValidCp932(text.data(), text.size())) {
            lint->Add(number, kWarning, "not valid code page 932 (Shift-JIS) text: " + Quote(text));
        }
        // End markers that the settings reader does not take for one.
        size_t start = text.find_first_not_of(" \t");
        if (start == std::string::npos) continue;
        std::string word = text.substr(start, 5);
        if (UpperAscii(word) == "[EOF]" && (start != 0 || word != "[EOF]")) {
            lint->Add(number, kWarning,
                      Quote(word) +
                          " is not an end marker: only [EOF] at the start of a line ends the "
                          "settings");
        }
    }
}

bool ReadWholeFile(const char* path, std::string* content) {
    FILE* file = OsOpenFile(path, "rb");
    if (!file) return false;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, got);
    bool failed = ferror(file) != 0;
    fclose(file);
    return !failed;
}

void SplitRawLines(const std::string& content, Lint* lint) {
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lint->raw_lines.push_back(line);
        start = end + 1;
    }
}

std::string EffectiveValue(const Lint& lint, const SettingRow& known, std::string* source) {
    auto found = lint.settings.find(known.key);
    if (found != lint.settings.end()) {
        char value[kSettingValueCapacity];
        CopyText(value, sizeof value, found->second.value.c_str());
        *source = "line " + std::to_string(found->second.line);
        if (known.kind == kSettingNumber) {
            return std::to_string(strtol(value, nullptr, 10));
        }
        return value;
    }
    *source = "default";
    if (!known.fallback) {
        *source = "absent";
        return "";
    }
    return known.fallback;
}

void PrintSummary(const Lint& lint, FILE* out) {
    const SettingParseResult& result = lint.settings_result;
    fprintf(out, "Settings (");
    if (result.stop == kSettingStopMarker) {
        fprintf(out, "read up to [EOF] on line %d", result.stop_file_line);
    } else if (result.stop == kSettingStopLimit) {
        fprintf(out, "read for the first %d lines", (int)kSettingLineLimit);
    } else {
        fprintf(out, "read to the end of the file");
    }
    fprintf(out, "):\n");
    std::string title;
    for (const SettingRow& known : kSettingRows) {
        if (known.kind == kSettingIgnored) continue;
        std::string source;
        std::string value = EffectiveValue(lint, known, &source);
        if (&known == &kSettingRows[kSettingTitleBar]) title = value;
        if (source == "absent") {
            fprintf(out, "  %-14s (absent)\n", known.key);
        } else {
            fprintf(out, "  %-14s %s  [%s]\n", known.key, Quote(value).c_str(), source.c_str());
        }
    }
    char window_title[256];
    snprintf(window_title, sizeof window_title, kTextUpdaterSuffix, title.c_str());
    fprintf(out, "  window title   %s\n", Quote(window_title).c_str());

    fprintf(out, "Sections:\n");
    for (int id = 0; id < kSectionCount; ++id) {
        const std::vector<SectionLineSeen>& lines = lint.lists[id];
        if (lint.header_lines[id] == 0) {
            fprintf(out, "  %s  (absent)\n", SectionHeader((SectionId)id));
            continue;
        }
        fprintf(out, "  %s  line %d, %u line%s\n", SectionHeader((SectionId)id),
                lint.header_lines[id], (unsigned)lines.size(), lines.size() == 1 ? "" : "s");
        for (const SectionLineSeen& line : lines) {
            fprintf(out, "    %5d  %s\n", line.line, Display(line.text).c_str());
        }
    }
}

// The two passes that need both readers' results.
void CheckAcrossReaders(Lint* lint) {
    if (!lint->lists[kSectionIni].empty() && !FindSetting(*lint, kSettingIniFile)) {
        lint->Add(lint->header_lines[kSectionIni], kWarning,
                  "[ini] has lines but INI_FILE is not set: the updater writes them to a file "
                  "named \"-\"");
    }
    const SettingSeen* ini_section = FindSetting(*lint, kSettingIniSection);
    if (!lint->lists[kSectionIni].empty() && ini_section && ini_section->value[0] != '-') {
        ProfileProblem problem = CheckProfileSection(ini_section->value.c_str());
        if (problem != kProfileFits) {
            lint->Add(ini_section->line, kError,
                      "INI_SECTION " + Quote(ini_section->value) + " has " +
                          ProfileProblemText(problem) +
                          ": an INI file cannot hold it, the updater writes no [ini] entry");
        }
    }
    const SettingSeen* reg_global = FindSetting(*lint, kSettingRegGlobal);
    bool registry_off = !reg_global || reg_global->value[0] == '-';
    if (!lint->lists[kSectionReg].empty() && registry_off) {
        lint->Add(lint->header_lines[kSectionReg], kNote,
                  "[reg] has lines but REG_GLOBAL is missing or begins with \"-\": the updater "
                  "writes no registry value");
    }
}

// Settings that are legal one by one but make an updater no player can use.
void CheckSettingsThatMatter(Lint* lint) {
    // Content is any line the settings reader does not skip, a comment
    // there and in the sections ("/" or ";" first) excepted.
    bool content = false;
    for (const std::string& line : lint->raw_lines) {
        unsigned char first = line.empty() ? 0 : (unsigned char)line[0];
        content |= first > 0x20 && first != '/' && first != ';';
    }
    if (!content) {
        lint->Add(0, kError,
                  "no settings and no sections (an empty or comment-only file): the updater "
                  "would run on defaults alone");
        return;
    }
    if (!FindSetting(*lint, kSettingTitleBar)) {
        char title[256];
        snprintf(title, sizeof title, kTextUpdaterSuffix, kTextDefaultTitle);
        lint->Add(0, kWarning, "TITLEBAR is not set: every window is titled " + Quote(title));
    }
    const SettingSeen* check = FindSetting(*lint, kSettingChkReg);
    if (!check) return;
    const SettingSeen* low = FindSetting(*lint, kSettingChkRegVer);
    const SettingSeen* high = FindSetting(*lint, kSettingChkRegVerHigh);
    if (!high) {
        lint->Add(check->line, kWarning,
                  "CHKREG is set but CHKREGVERHIGH is not (0): every installed version above 0 "
                  "counts as already updated");
        return;
    }
    long from = low ? strtol(low->value.c_str(), nullptr, 10) : 0;
    long to = strtol(high->value.c_str(), nullptr, 10);
    if (from > to) {
        lint->Add(high->line, kError,
                  "the version range CHKREGVER " + std::to_string(from) + " to CHKREGVERHIGH " +
                      std::to_string(to) + " is empty: no player could ever update");
    }
}

// A code page 932 name as the file system below the tool spells it.
std::string SystemName(const std::string& cp932) {
    if (CorePathsAreCp932()) return cp932;
    std::vector<char> utf8(cp932.size() * 3 + 1);
    return OsCp932ToUtf8(cp932.c_str(), utf8.data(), utf8.size()) ? utf8.data() : cp932;
}

std::string Lowered(std::string text) {
    if (!text.empty()) LowerCaseCp932(&text[0]);
    return text;
}

// The files at the top level of the folder that holds install.env, by their
// names in lower case (Windows finds them in any case).
std::map<std::string, std::string> TopLevelFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    OsFindData data;
    OsFindHandle* search = OsFindFirst((folder + "\\*").c_str(), &data);
    for (bool more = search != nullptr; more; more = OsFindNext(search, &data)) {
        if (!data.is_folder) files[Lowered(data.name)] = folder + "\\" + data.name;
    }
    if (search) OsFindClose(search);
    return files;
}

// Empty when the title picture decodes as the updater (or vnpack build's
// conversion) will decode it; otherwise why not.
std::string TitlePictureProblem(const std::string& path, bool is_png, int32_t* width,
                                int32_t* height) {
    std::string bytes;
    if (!ReadWholeFile(path.c_str(), &bytes)) return "cannot be read";
    const unsigned char* data = (const unsigned char*)bytes.data();
    if (is_png) {
        std::vector<unsigned char> pixels;
        std::string problem;
        if (!DecodePng(data, bytes.size(), &pixels, width, height, &problem)) return problem;
        return "";
    }
    RctHeader header;
    const unsigned char* stream = nullptr;
    if (bytes.size() < kRctHeaderLength || ReadRctHeader(data, &header) == kRctNotRct)
        return "not an RCT picture";
    if (LocateRctStream(data, bytes.size(), &header, &stream) != 0)
        return "damaged (bad size, or the file is cut short)";
    if ((uint64_t)header.width * (uint64_t)header.height > kLargestPicturePixels)
        return "too large";
    std::vector<unsigned char> pixels(RctPictureSize(header));
    if (DecodeRctPixels(stream, header.data_size, header.width, header.height, pixels.data(),
                        ImageStride(header.width, 0)) != 0)
        return "damaged (the pixel commands run outside the picture or the data)";
    *width = header.width;
    *height = header.height;
    return "";
}

// The files the settings name that only the update itself can bring: they
// must lie at the top level of the folder beside install.env.
void CheckFolder(const char* path, Lint* lint) {
    std::string text = path;
    const char* slash = FindLastChar(path, '\\');
    size_t cut = slash ? (size_t)(slash - path) : std::string::npos;
    size_t forward = text.rfind('/');
    if (forward != std::string::npos && (cut == std::string::npos || forward > cut)) cut = forward;
    std::string folder = cut == std::string::npos ? "." : text.substr(0, cut ? cut : 1);
    std::map<std::string, std::string> files = TopLevelFiles(folder);

    auto rct = files.find(kTitlePictureName), png = files.find(kTitlePictureSource);
    if (rct == files.end() && png == files.end()) {
        lint->Add(0, kError,
                  std::string("no title picture: put ") + kTitlePictureName + " (or " +
                      kTitlePictureSource + ", which vnpack build converts) beside " +
                      kSettingsFileName);
    } else {
        bool is_png = rct == files.end();
        int32_t width = 0, height = 0;
        std::string problem =
            TitlePictureProblem((is_png ? png : rct)->second, is_png, &width, &height);
        std::string fit = problem.empty() ? TitlePictureFit(width, height) : "";
        if (!problem.empty() || !fit.empty())
            lint->Add(0, problem.empty() ? kWarning : kError,
                      std::string(is_png ? kTitlePictureSource : kTitlePictureName) + ": " +
                          (problem.empty() ? fit : problem));
    }

    const SettingSeen* readme = FindSetting(*lint, kSettingInstReadme);
    const SettingSeen* readme_file = FindSetting(*lint, kSettingInstReadmeFl);
    if ((!readme || readme->value[0] == '-') && !readme_file) return;
    std::string name =
        readme_file ? readme_file->value : kSettingRows[kSettingInstReadmeFl].fallback;
    int line = readme_file ? readme_file->line : readme->line;
    if (!IsSetupFile(name.c_str())) {
        lint->Add(line, kWarning,
                  "the readme " + Quote(name) +
                      " is not a .txt file at the top level: the start-up window's button "
                      "cannot open it");
    } else if (!files.count(Lowered(SystemName(name)))) {
        lint->Add(
            line, kError,
            "the readme " + Quote(name) + " is not in the folder beside " + kSettingsFileName);
    }
}

// [delfiles_afterinst] lines the updater skips, and lines that would delete
// what the update has just installed, the key file every later update looks
// for, or the player's saved games.
void CheckDeletions(Lint* lint, const std::vector<std::string>* shipped) {
    const SettingSeen* key_file = FindSetting(*lint, kSettingKeyFile);
    const std::vector<std::string> player_data = DefaultPlayerData();
    for (const SectionLineSeen& item : lint->lists[kSectionDelfilesAfterinst]) {
        const std::string& entry = item.text;
        if (entry.size() >= kPathCapacity || !AfterInstallEntryStaysInside(entry.c_str())) {
            lint->Add(item.line, kWarning,
                      "[delfiles_afterinst] line the updater skips: it leaves the game's folder "
                      "(absolute, a drive, a leading \\ or a part of dots): " +
                          Quote(entry));
            continue;
        }
        if (key_file && PatternReaches(entry, key_file->value)) {
            lint->Add(item.line, kError,
                      "[delfiles_afterinst] line deletes the KEYFILE " + Quote(key_file->value) +
                          ": the next update would not find the game: " + Quote(entry));
        }
        for (const std::string& name : shipped ? *shipped : std::vector<std::string>()) {
            // The setup files land in the game's folder too, and are listed
            // here precisely so that they go again.
            if (name.back() == '\\' || IsSetupFile(name.c_str()) || !PatternReaches(entry, name))
                continue;
            lint->Add(item.line, kError,
                      "[delfiles_afterinst] line deletes " + Quote(name) +
                          ", which the update itself installs (names are compared as Windows "
                          "does, without letter case): " +
                          Quote(entry));
            break;
        }
        if (IsPlayerData(entry, player_data)) {
            lint->Add(item.line, kWarning,
                      "[delfiles_afterinst] line deletes the player's own data (saved games): " +
                          Quote(entry));
        }
    }
}

}  // namespace

int LintInstallEnv(const char* path, FILE* diagnostics, FILE* summary, const LintOptions& options,
                   LintOutcome* outcome) {
    Lint lint;
    std::string shown_path = DisplayPath(path);
    std::string content;
    EnvText text;
    if (!ReadWholeFile(path, &content)) {
        fprintf(diagnostics, "vnpack: %s: cannot be read\n", shown_path.c_str());
        return 2;
    }
    if (!DecodeEnvText(content, &text)) {
        fprintf(diagnostics, "%s:%d: error: %s\n", shown_path.c_str(), text.bad_line,
                DescribeEnvEncoding(text).c_str());
        return 1;
    }
    SplitRawLines(text.cp932, &lint);
    // The file itself in text mode, as the updater reads it; converted text
    // through a stream of its own.
    bool converted = text.encoding != kEnvCp932;
    FILE* file = converted ? TemporaryTextStream(text.cp932) : OsOpenFile(path, "rt");
    if (!file) {
        fprintf(diagnostics, "vnpack: %s: cannot be read\n", shown_path.c_str());
        return 2;
    }
    ParseSections(file, OnSectionLine, &lint, &lint.sections);
    rewind(file);
    ParseSettings(file, kUpdaterSettingRules, OnSettingLine, &lint, &lint.settings_result);
    rewind(file);
    const SettingParseOptions everything = {0, false};
    LateContext late = {&lint, &lint.settings_result};
    SettingParseResult ignored;
    ParseSettings(file, everything, OnLateSettingLine, &late, &ignored);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) {
        fprintf(diagnostics, "vnpack: %s: cannot be read\n", shown_path.c_str());
        return 2;
    }
    CheckSectionLines(&lint);
    CheckAcrossReaders(&lint);
    CheckRawLines(&lint);
    CheckSettingsThatMatter(&lint);
    CheckFolder(path, &lint);
    CheckDeletions(&lint, options.shipped);
    // Once per file, not once per line: the whole file is one or the other.
    if (converted) lint.Add(0, kNote, DescribeEnvEncoding(text));

    std::stable_sort(lint.findings.begin(), lint.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    static const char* const kSeverityNames[] = {"note", "warning", "error"};
    int errors = options.prior_errors;
    int warnings = options.prior_warnings;
    for (Finding& finding : lint.findings) {
        if (options.strict && finding.severity == kWarning) finding.severity = kError;
        if (finding.severity == kError) ++errors;
        if (finding.severity == kWarning) ++warnings;
        if (options.detail == kLintProblemsOnly && finding.severity == kNote) continue;
        std::string where = shown_path;
        if (finding.line > 0) where += ":" + std::to_string(finding.line);
        fprintf(diagnostics, "%s: %s: %s\n", where.c_str(), kSeverityNames[finding.severity],
                finding.message.c_str());
    }
    if (options.detail == kLintFull && summary) PrintSummary(lint, summary);
    if (options.detail == kLintFull) {
        fprintf(diagnostics, "%d error%s, %d warning%s\n", errors, errors == 1 ? "" : "s", warnings,
                warnings == 1 ? "" : "s");
    }
    if (outcome) {
        outcome->converted = converted;
        outcome->encoding_note = converted ? DescribeEnvEncoding(text) : "";
        outcome->cp932 = errors > 0 ? "" : text.cp932;
    }
    return errors > 0 ? 1 : 0;
}

std::string TitlePictureFit(int32_t width, int32_t height) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    const std::string square = std::to_string(kTitleSquare) + " x " + std::to_string(kTitleSquare);
    if (width > kTitleSquare || height > kTitleSquare)
        return "the picture is " + size + ": the start-up window centres it in a square of " +
               square + " pixels and crops the rest on every side (see docs/install-env.md)";
    // A quarter of the side either way is a postage stamp in an empty square.
    if (width < kTitleSquare / 4 && height < kTitleSquare / 4)
        return "the picture is only " + size +
               ": the start-up window shows it small in the "
               "middle of a square of " +
               square + " pixels";
    return "";
}

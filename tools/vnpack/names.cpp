// Name folding and player data for vnpack (see names.h).
#include "names.h"

#include "base/text.h"

std::string FoldedName(const std::string& cp932) {
    // The updater's own folding: NTFS's, duplicate codes included.
    std::string key = cp932;
    if (!key.empty()) FoldNameCp932(&key[0]);
    return key;
}

bool SameWindowsName(const std::string& cp932_a, const std::string& cp932_b) {
    return FoldedName(cp932_a) == FoldedName(cp932_b);
}

namespace {

// The parts of a name split at its real backslashes.
std::vector<std::string> Parts(const std::string& name) {
    std::vector<std::string> parts(1);
    for (const char* p = name.c_str(); *p; p += CharLength(p)) {
        if (*p == '\\' || *p == '/')
            parts.emplace_back();
        else
            parts.back().append(p, CharLength(p));
    }
    return parts;
}

}  // namespace

bool PatternReaches(const std::string& pattern, const std::string& name) {
    std::vector<std::string> wanted = Parts(FoldedName(pattern)), have = Parts(FoldedName(name));
    if (wanted.size() != have.size()) return false;
    for (size_t i = 0; i + 1 < wanted.size(); ++i) {
        if (wanted[i] != have[i]) return false;
    }
    return WildcardMatch(wanted.back().c_str(), have.back().c_str());
}

std::vector<std::string> DefaultPlayerData() {
    // セーブ in code page 932.
    return {"save/", "savedata/", "\x83\x5a\x81\x5b\x83\x75/", "*.sav"};
}

bool IsPlayerData(const std::string& name, const std::vector<std::string>& patterns) {
    std::vector<std::string> parts = Parts(FoldedName(name));
    for (const std::string& pattern : patterns) {
        std::string folded = FoldedName(pattern);
        bool folder = !folded.empty() && folded.back() == '/';
        if (folder) folded.pop_back();
        for (size_t i = folder ? 0 : parts.size() - 1; i + (folder ? 1 : 0) < parts.size(); ++i) {
            if (WildcardMatch(folded.c_str(), parts[i].c_str())) return true;
        }
    }
    return false;
}

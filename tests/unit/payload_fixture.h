// The payload tests' archives, written by the independent payload_writer.py.
#pragma once

#include "base/platform.h"
#include "payload/archive.h"
#include "payload/extract.h"
#include "scratch_folder.h"

namespace payload_test {

inline std::string Hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) out += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    return out;
}

// JSON pieces of a writer layout. Names are code page 932 bytes.
inline std::string Folder(const std::string& name) { return "{\"folder\": \"" + Hex(name) + "\"}"; }
inline std::string File(const std::string& name, const std::string& data,
                        unsigned long long time = 0, const std::string& extra = "") {
    return "{\"file\": \"" + Hex(name) + "\", \"data\": " + data +
           ", \"time\": " + std::to_string(time) + (extra.empty() ? "" : ", " + extra) + "}";
}
inline std::string Zeros(size_t n) { return "[{\"zeros\": " + std::to_string(n) + "}]"; }
inline std::string Random(size_t n, int seed = 1) {
    return "[{\"random\": " + std::to_string(n) + ", \"seed\": " + std::to_string(seed) + "}]";
}
inline std::string Bytes(const std::string& bytes) { return "[{\"hex\": \"" + Hex(bytes) + "\"}]"; }
inline std::string Raw(const std::string& bytes) { return "{\"raw\": \"" + Hex(bytes) + "\"}"; }

inline std::string Layout(const std::vector<std::string>& entries, const std::string& extra = "") {
    std::string out = "{\"entries\": [";
    for (size_t i = 0; i < entries.size(); ++i) out += (i ? ", " : "") + entries[i];
    return out + "]" + (extra.empty() ? "" : ", " + extra) + "}";
}

inline bool WritePayload(const std::string& layout, const fs::path& path) {
    fs::path layout_path = path.string() + ".json";
    WriteAll(layout_path, layout);
    std::string command = std::string(VN_TEST_PYTHON) + " " VN_SOURCE_DIR "/tests/unit/payload_writer.py " +
                          layout_path.string() + " " + path.string();
    return system(command.c_str()) == 0;
}

// Every path below root, relative, sorted; folders end in '/'.
inline std::vector<std::string> Listing(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& item : Snapshot(root)) names.push_back(item.first);
    return names;
}

inline uint64_t TimeOf(const fs::path& path) {
    uint64_t time = 0;
    OsGetFileTime(path.c_str(), &time);
    return time;
}

// Snapshot with the files' times.
inline std::map<std::string, std::string> Stamped(const fs::path& root) {
    auto tree = Snapshot(root);
    for (auto& [name, bytes] : tree)
        if (name.back() != '/') bytes += " @" + std::to_string(TimeOf(root / name));
    return tree;
}

// An archive file opened and located; closed at the end.
struct OpenedArchive {
    explicit OpenedArchive(const fs::path& path) : stream(fopen(path.c_str(), "rb")) {
        located = stream && LocateArchive(stream, &archive) == 0;
    }
    ~OpenedArchive() { if (stream) fclose(stream); }
    FILE* stream;
    PayloadArchive archive = {};
    bool located = false;
};

// One walk of the archive at archive_path into destination; -99: no archive found.
inline int Extract(const fs::path& archive_path, const fs::path& destination,
                   ExtractPass pass = kCopyPass, const ExtractEvents* events = nullptr,
                   const ExtractFaults* faults = nullptr, StagedList* staged = nullptr) {
    OpenedArchive opened(archive_path);
    if (!opened.located) return -99;
    ExtractTarget target = {destination.c_str(), pass, nullptr, nullptr, faults};
    StagedList own = {};
    ArchiveFault fault;
    return ExtractArchive(&opened.archive, &target, events, staged ? staged : &own, &fault);
}

}  // namespace payload_test

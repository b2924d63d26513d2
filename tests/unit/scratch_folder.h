// Scratch folders for the tests and fuzzers, and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

// A fresh folder under $TMPDIR (or /tmp), removed with all in it at the end.
class ScratchFolder {
   public:
    explicit ScratchFolder(const char* prefix = "vnupdate-test") {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
        if (!mkdtemp(&pattern[0])) abort();
        path_ = pattern;
    }
    ~ScratchFolder() { fs::remove_all(path_, ignored_); }
    const fs::path& path() const { return path_; }

   private:
    fs::path path_;
    std::error_code ignored_;
};

// Require stops a fuzzer's run on a broken promise; the fuzzers that write files share
// one scratch folder a run, left behind when it stops on a finding.
inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// Takes the next line of a fuzzer's input from *rest into *line as a C string, as the program
// reads its texts; without a line break left, all of *rest, and false.
inline bool TakeLine(std::string* rest, std::string* line) {
    size_t end = rest->find('\n');
    *line = rest->substr(0, end).c_str();
    rest->erase(0, end == std::string::npos ? end : end + 1);
    return end != std::string::npos;
}

inline const fs::path& FuzzScratchFolder() {
    static ScratchFolder folder("vnfuzz");
    return folder.path();
}

// A scratch folder made current for one test.
class ScratchFolderTest : public ::testing::Test {
   protected:
    void SetUp() override { fs::current_path(root_); }
    void TearDown() override { fs::current_path(saved_); }
    ScratchFolder scratch_;
    const std::string root_ = scratch_.path().string();
    const fs::path saved_ = fs::current_path();
};

inline std::string ReadAll(const fs::path& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

inline void WriteAll(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every file, folder ("name/") and link below root by relative path: a file's bytes, a link's target.
inline std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        std::string name = item.path().lexically_relative(root).string();
        if (item.is_symlink())
            tree[name] = "link to " + fs::read_symlink(item.path()).string();
        else if (item.is_directory())
            tree[name + "/"] = "";
        else
            tree[name] = ReadAll(item.path());
    }
    return tree;
}

// A temporary stream holding content, read from its start.
inline FILE* StreamWith(const std::string& content) {
    FILE* stream = tmpfile();
    fwrite(content.data(), 1, content.size(), stream);
    rewind(stream);
    return stream;
}

// What is left to read of stream, which is closed.
inline std::string ReadRest(FILE* stream) {
    if (!stream) return "(not opened)";
    std::string text;
    for (int c; (c = fgetc(stream)) != EOF;) text += (char)c;
    fclose(stream);
    return text;
}

// vnpack end to end: build, then list, test and extract with the updater's
// engine; the layout checked by the independent Python reader; bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "payload_fixture.h"

#ifdef VN_VNPACK

namespace {

using namespace payload_test;

struct ToolRun {
    int exit_code;
    std::string out;
    std::string err;
};

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

// A game update as the maker lays it out; times are whole 100 ns units.
void MakeUpdateFolder(const fs::path& root) {
    fs::create_directories(root / "empty");
    WriteAll(root / "install.env", "TITLEBAR\tgame\r\n");
    WriteAll(root / "insttscr.rct", std::string(3000, 'p'));
    WriteAll(root / "update.txt", "readme");
    WriteAll(root / "game.exe", std::string(131072, 'x'));
    WriteAll(root / "data" / "empty.dat", "");
    std::string big;
    for (uint64_t i = 0; i < 300000; ++i) big += std::to_string(i * 7919 % 100003);
    WriteAll(root / "data" / "big.arc", big);
    WriteAll(root / "data" / "sub" / "\xe8\xa1\xa8\xe3\x82\xbd.txt", "table and so");  // 表ソ.txt
    uint64_t time = 132000000000000000ull;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file()) OsSetFileTime(item.path().c_str(), time += 12345678);
    }
}

// "file NAME" and "folder NAME" per entry in archive order, as the Python
// reader sees the updater (which it also checks stream by stream).
std::vector<std::string> Entries(const fs::path& updater) {
    fs::path listing = updater.string() + ".layout";
    std::string reader = std::string(VN_TEST_PYTHON) + " " + VN_SOURCE_DIR +
                         "/tests/unit/payload_writer.py --read " + Quote(updater) + " >" +
                         Quote(listing);
    if (system(reader.c_str()) != 0) return {"(unreadable)"};
    std::vector<std::string> entries;
    std::istringstream lines(ReadAll(listing));
    for (std::string kind, hex; lines >> kind >> hex;) {
        std::string name;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            name += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
        entries.push_back(kind + " " + name);
        if (kind == "file") lines >> hex >> hex;  // size and time
    }
    return entries;
}

// A scratch folder s_ with a stub executable of 1,024 bytes.
class Vnpack : public ::testing::Test {
   protected:
    Vnpack() { WriteAll(stub_, "MZ" + std::string(1022, '\0')); }
    ToolRun Run(const std::string& args) {
        std::string command = std::string(VN_VNPACK) + " " + args + " >" + Quote(s_ / "out.txt") +
                              " 2>" + Quote(s_ / "err.txt");
        int status = system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(s_ / "out.txt"),
                ReadAll(s_ / "err.txt")};
    }
    ToolRun Build(const fs::path& source, const fs::path& output, const std::string& more = "") {
        return Run("build " + Quote(source) + " --stub " + Quote(stub_) + " -o " + Quote(output) +
                   more);
    }
    ScratchFolder scratch_;
    const fs::path s_ = scratch_.path(), stub_ = s_ / "stub.exe";
};

TEST_F(Vnpack, RoundTripKeepsBytesTimesAndOrder) {
    fs::path source = s_ / "update", built = s_ / "u.exe";
    MakeUpdateFolder(source);
    ToolRun build = Build(source, built);
    ASSERT_EQ(build.exit_code, 0) << build.err;
    // Not on a terminal, a clean build says one line and nothing else.
    EXPECT_EQ(build.out + build.err, build.err.substr(0, build.err.find('\n') + 1));
    EXPECT_EQ(ReadAll(built).substr(0, 1024), ReadAll(stub_));
    // A signature appended later needs no padding of its own.
    EXPECT_EQ(fs::file_size(built) % 8, 0u);
    // The output depends only on the input: the number of threads never
    // changes it, the compression level does.
    for (const char* more : {" --jobs 1", " --jobs 4", " --level 1"}) {
        ASSERT_EQ(Build(source, s_ / "again.exe", more).exit_code, 0) << more;
        EXPECT_EQ(ReadAll(s_ / "again.exe") == ReadAll(built), more[3] == 'j') << more;
    }

    // Setup files first, then the other top-level files, the folders parents
    // first, and the files inside folders.
    EXPECT_EQ(Entries(built),
              (std::vector<std::string>{
                  "file install.env", "file insttscr.rct", "file update.txt", "file game.exe",
                  "folder data\\", "folder data\\sub\\", "folder empty\\", "file data\\big.arc",
                  "file data\\empty.dat", "file data\\sub\\\x95\x5c\x83\x5c.txt"}));

    ToolRun list = Run("list " + Quote(built));
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_NE(list.out.find("data\\sub\\\xe8\xa1\xa8\xe3\x82\xbd.txt"), std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("archive offset 1024"), std::string::npos) << list.out;
    ToolRun test = Run("test " + Quote(built));
    EXPECT_EQ(test.exit_code, 0) << test.err;

    // あ is E3 81 82 in UTF-8: read as code page 932, its last byte would
    // swallow the backslash that follows, and files would land beside it.
    fs::path box = s_ / "box", extracted = box / "\xe3\x81\x82";
    ToolRun extract = Run("extract " + Quote(built) + " " + Quote(extracted));
    ASSERT_EQ(extract.exit_code, 0) << extract.err;
    for (const auto& item : fs::directory_iterator(box)) EXPECT_EQ(item.path(), extracted);
    EXPECT_EQ(Listing(extracted), Listing(source));
    for (const auto& item : fs::recursive_directory_iterator(source)) {
        if (!item.is_regular_file()) continue;
        fs::path copy = extracted / fs::relative(item.path(), source);
        EXPECT_EQ(ReadAll(copy), ReadAll(item.path())) << copy;
        EXPECT_EQ(TimeOf(copy), TimeOf(item.path())) << copy;
    }
}

TEST_F(Vnpack, OnlyTheOutputItselfIsLeftOutOfTheFolder) {
    WriteAll(s_ / "update_files" / "install.env", "TITLEBAR\tgame\r\n");
    WriteAll(s_ / "update_files" / "u.exe.bak", "kept");
    // A name that begins like the folder's is no reason to leave files out.
    for (const fs::path& output : {s_ / "update", s_ / "update_files" / "u.exe"}) {
        ToolRun run = Build(s_ / "update_files", output);
        ASSERT_EQ(run.exit_code, 0) << output << "\n" << run.err;
        EXPECT_EQ(Entries(output), (std::vector<std::string>{"file install.env", "file u.exe.bak"}))
            << output;
    }
}

TEST_F(Vnpack, BadInputGivesOneLineAndExitTwo) {
    MakeUpdateFolder(s_ / "good");
    WriteAll(s_ / "no_settings" / "a.txt", "a");
    MakeUpdateFolder(s_ / "backslash");
    WriteAll(s_ / "backslash" / "a\\b.txt", "x");
    MakeUpdateFolder(s_ / "emoji");
    WriteAll(s_ / "emoji" / "\xf0\x9f\x98\x80.txt", "x");
    MakeUpdateFolder(s_ / "case");
    WriteAll(s_ / "case" / "DATA" / "Big.arc", "x");
    MakeUpdateFolder(s_ / "device");
    WriteAll(s_ / "device" / "aux.txt", "x");
    WriteAll(s_ / "plain.exe", "MZ this is no updater at all");
    // A good build with one stream damaged in the middle of its data.
    ASSERT_EQ(Build(s_ / "good", s_ / "damaged.exe").exit_code, 0);
    std::string damaged = ReadAll(s_ / "damaged.exe");
    size_t at = damaged.find("big.arc");
    ASSERT_NE(at, std::string::npos);
    damaged[at + 200] ^= 0x55;
    WriteAll(s_ / "damaged.exe", damaged);

    const fs::path out = s_ / "out.exe";
    std::string build = "build --stub " + Quote(stub_) + " -o " + Quote(out) + " ";
    struct {
        std::string args;
        const char* problem;
    } cases[] = {
        {build + Quote(s_ / "missing"), "not a readable folder"},
        {build + Quote(s_ / "no_settings"), "no install.env"},
        {build + Quote(s_ / "backslash"), "backslash"},
        {build + Quote(s_ / "emoji"), "code page 932"},
        {build + Quote(s_ / "case"), "same name on Windows"},
        {build + Quote(s_ / "device"), "device name"},
        {"build " + Quote(s_ / "good") + " -o " + Quote(out) + " --stub " +
             Quote(s_ / "nostub.exe"),
         "No such file"},
        {"build " + Quote(s_ / "good") + " -o " + Quote(out) + " --stub " +
             Quote(s_ / "plain.exe") + " --level 12",
         "--level"},
        {"list " + Quote(s_ / "missing.exe"), "No such file"},
        {"list " + Quote(s_ / "plain.exe"), "not an updater"},
        {"test " + Quote(s_ / "damaged.exe"), "big.arc"},
        {"extract " + Quote(s_ / "damaged.exe") + " " + Quote(s_ / "x"), "big.arc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        for (const char* suffix : {"", ".vnpack-part", ".vnpack-tmp"}) {
            EXPECT_FALSE(fs::exists(out.string() + suffix)) << suffix;
        }
    }
}

}  // namespace

#endif

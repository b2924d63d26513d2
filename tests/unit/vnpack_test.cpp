// vnpack end to end: build, then list, test and extract with the updater's
// engine; the layout checked by the independent Python reader; bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "base/platform.h"
#include "payload_fixture.h"

#ifdef VN_VNPACK

namespace {

using namespace payload_test;

struct ToolRun {
    int exit_code;
    std::string out;
    std::string err;
};

ToolRun Vnpack(const fs::path& scratch, const std::string& args) {
    fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
    std::string command = std::string(VN_VNPACK) + " " + args + " >" + out.string() + " 2>" +
                          err.string();
    int status = system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

uint64_t TimeOf(const fs::path& path) {
    uint64_t time = 0;
    OsGetFileTime(path.c_str(), &time);
    return time;
}

// A game update as the maker lays it out; times are whole 100 ns units.
void MakeUpdateFolder(const fs::path& root) {
    fs::create_directories(root / "data" / "sub");
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

fs::path MakeStub(const fs::path& scratch) {
    fs::path stub = scratch / "stub.exe";
    WriteAll(stub, "MZ" + std::string(1022, '\0'));
    return stub;
}

TEST(Vnpack, RoundTripKeepsBytesTimesAndOrder) {
    ScratchFolder scratch;
    fs::path source = scratch.path() / "update";
    MakeUpdateFolder(source);
    fs::path stub = MakeStub(scratch.path());
    fs::path built = scratch.path() / "u.exe";
    ToolRun build = Vnpack(scratch.path(), "build " + Quote(source) + " -o " + Quote(built) +
                                           " --stub " + Quote(stub));
    ASSERT_EQ(build.exit_code, 0) << build.err;
    // Not on a terminal, a clean build says one line and nothing else.
    EXPECT_EQ(build.out + build.err, build.err.substr(0, build.err.find('\n') + 1));
    EXPECT_EQ(ReadAll(built).substr(0, 1024), ReadAll(stub));

    // Setup files first, then the other top-level files, the folders parents
    // first, and the files inside folders.
    EXPECT_EQ(Entries(built),
              (std::vector<std::string>{"file install.env", "file insttscr.rct", "file update.txt",
                                        "file game.exe", "folder data\\", "folder data\\sub\\",
                                        "folder empty\\", "file data\\big.arc",
                                        "file data\\empty.dat",
                                        "file data\\sub\\\x95\x5c\x83\x5c.txt"}));

    ToolRun list = Vnpack(scratch.path(), "list " + Quote(built));
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_NE(list.out.find("data\\sub\\\xe8\xa1\xa8\xe3\x82\xbd.txt"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("archive offset 1024"), std::string::npos) << list.out;
    ToolRun test = Vnpack(scratch.path(), "test " + Quote(built));
    EXPECT_EQ(test.exit_code, 0) << test.err;

    // あ is E3 81 82 in UTF-8: read as code page 932, its last byte would
    // swallow the backslash that follows, and files would land beside it.
    fs::path box = scratch.path() / "box";
    fs::path extracted = box / "\xe3\x81\x82";
    ToolRun extract = Vnpack(scratch.path(), "extract " + Quote(built) + " " + Quote(extracted));
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

TEST(Vnpack, OnlyTheOutputItselfIsLeftOutOfTheFolder) {
    ScratchFolder scratch;
    const fs::path s = scratch.path();
    fs::path stub = MakeStub(s);
    fs::create_directories(s / "update_files");
    WriteAll(s / "update_files" / "install.env", "TITLEBAR\tgame\r\n");
    WriteAll(s / "update_files" / "u.exe.bak", "kept");
    struct {
        fs::path output;
        std::vector<std::string> entries;
    } cases[] = {
        // A name that begins like the folder's is no reason to leave files out.
        {s / "update", {"file install.env", "file u.exe.bak"}},
        {s / "update_files" / "u.exe", {"file install.env", "file u.exe.bak"}},
    };
    for (const auto& c : cases) {
        ToolRun run = Vnpack(s, "build " + Quote(s / "update_files") + " --stub " + Quote(stub) +
                                    " -o " + Quote(c.output));
        ASSERT_EQ(run.exit_code, 0) << c.output << "\n" << run.err;
        EXPECT_EQ(Entries(c.output), c.entries) << c.output;
    }
}

TEST(Vnpack, OutputDependsOnlyOnTheInput) {
    ScratchFolder scratch;
    fs::path source = scratch.path() / "update";
    MakeUpdateFolder(source);
    fs::path stub = MakeStub(scratch.path());
    std::string common = "build " + Quote(source) + " --stub " + Quote(stub) + " -o ";
    ASSERT_EQ(Vnpack(scratch.path(), common + Quote(scratch.path() / "a.exe") + " --jobs 1").exit_code, 0);
    ASSERT_EQ(Vnpack(scratch.path(), common + Quote(scratch.path() / "b.exe") + " --jobs 4").exit_code, 0);
    EXPECT_EQ(ReadAll(scratch.path() / "a.exe"), ReadAll(scratch.path() / "b.exe"));
    ASSERT_EQ(Vnpack(scratch.path(), common + Quote(scratch.path() / "c.exe") + " --level 1").exit_code, 0);
    EXPECT_NE(ReadAll(scratch.path() / "a.exe"), ReadAll(scratch.path() / "c.exe"));
}

TEST(Vnpack, BadInputGivesOneLineAndExitTwo) {
    ScratchFolder scratch;
    const fs::path s = scratch.path();
    fs::path stub = MakeStub(s);
    MakeUpdateFolder(s / "good");
    fs::create_directories(s / "no_settings");
    WriteAll(s / "no_settings" / "a.txt", "a");
    MakeUpdateFolder(s / "backslash");
    WriteAll(s / "backslash" / "a\\b.txt", "x");
    MakeUpdateFolder(s / "emoji");
    WriteAll(s / "emoji" / "\xf0\x9f\x98\x80.txt", "x");
    WriteAll(s / "plain.exe", "MZ this is no updater at all");
    // A good build with one stream damaged in the middle of its data.
    ASSERT_EQ(Vnpack(s, "build " + Quote(s / "good") + " --stub " + Quote(stub) + " -o " +
                            Quote(s / "damaged.exe"))
                  .exit_code,
              0);
    std::string damaged = ReadAll(s / "damaged.exe");
    size_t at = damaged.find("big.arc");
    ASSERT_NE(at, std::string::npos);
    damaged[at + 200] ^= 0x55;
    WriteAll(s / "damaged.exe", damaged);

    std::string build = "build --stub " + Quote(stub) + " -o " + Quote(s / "out.exe") + " ";
    struct {
        std::string args;
        const char* problem;
    } cases[] = {
        {build + Quote(s / "missing"), "not a readable folder"},
        {build + Quote(s / "no_settings"), "no install.env"},
        {build + Quote(s / "backslash"), "backslash"},
        {build + Quote(s / "emoji"), "code page 932"},
        {"build " + Quote(s / "good") + " -o " + Quote(s / "out.exe") + " --stub " +
             Quote(s / "nostub.exe"),
         "No such file"},
        {"build " + Quote(s / "good") + " -o " + Quote(s / "out.exe") + " --stub " +
             Quote(s / "plain.exe") + " --level 12",
         "--level"},
        {"list " + Quote(s / "missing.exe"), "No such file"},
        {"list " + Quote(s / "plain.exe"), "not an updater"},
        {"test " + Quote(s / "damaged.exe"), "big.arc"},
        {"extract " + Quote(s / "damaged.exe") + " " + Quote(s / "x"), "big.arc"},
    };
    for (const auto& c : cases) {
        ToolRun run = Vnpack(s, c.args);
        EXPECT_EQ(run.exit_code, 2) << c.args;
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << c.args << "\n" << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.args << "\n" << run.err;
        EXPECT_FALSE(fs::exists(s / "out.exe")) << c.args;
        EXPECT_FALSE(fs::exists(s / "out.exe.vnpack-part")) << c.args;
        EXPECT_FALSE(fs::exists(s / "out.exe.vnpack-tmp")) << c.args;
    }
}

}  // namespace

#endif

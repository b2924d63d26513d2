// vnpack end to end: build, then list, test and extract with the updater's
// engine; the layout checked by the independent Python reader; bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <map>

#include "../../tools/vnpack/rct_encode.h"
#include "config/sections.h"
#include "config/setup_files.h"
#include "payload_fixture.h"
#include "update/afterinst.h"

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

// The least an update folder needs: install.env and a title picture.
void MakeSetupFiles(const fs::path& root, const std::string& settings = "TITLEBAR\tgame\r\n") {
    std::vector<unsigned char> pixels(3 * 80 * 25);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (unsigned char)(i * i / 7);
    std::vector<unsigned char> rct = EncodeRctFile(pixels.data(), 80, 25, nullptr);
    WriteAll(root / kTitlePictureName, std::string(rct.begin(), rct.end()));
    WriteAll(root / "install.env", settings);
}

// A game update as the maker lays it out; times are whole 100 ns units.
void MakeUpdateFolder(const fs::path& root) {
    fs::create_directories(root / "empty");
    MakeSetupFiles(root);
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
    EXPECT_EQ(build.err, "");
    EXPECT_EQ(std::count(build.out.begin(), build.out.end(), '\n'), 1) << build.out;
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
    EXPECT_EQ(extract.out.find("extracted 7 files"), 0u) << extract.out;
    for (const auto& item : fs::directory_iterator(box)) EXPECT_EQ(item.path(), extracted);
    EXPECT_EQ(Listing(extracted), Listing(source));
    for (const auto& item : fs::recursive_directory_iterator(source)) {
        if (!item.is_regular_file()) continue;
        fs::path copy = extracted / fs::relative(item.path(), source);
        EXPECT_EQ(ReadAll(copy), ReadAll(item.path())) << copy;
        EXPECT_EQ(TimeOf(copy), TimeOf(item.path())) << copy;
    }
}

// Left out unless --include-all: system junk, each named.
TEST_F(Vnpack, WhatIsLeftOutOfTheFolder) {
    const fs::path folder = s_ / "update_files";
    MakeSetupFiles(folder);
    WriteAll(folder / "u.exe.old", "kept");
    const char* const junk[] = {"Thumbs.db",    "desktop.ini", ".DS_Store",     "a.bak",
                                "b.txt~",       ".git/config", "sub/THUMBS.DB", "._title.png",
                                "__MACOSX/._a", "ehthumbs.db"};
    for (const char* name : junk) WriteAll(folder / name, "x");
    WriteAll(folder / "sub/keep.txt", "x");
    const std::vector<std::string> packed = {"file install.env", "file insttscr.rct",
                                             "file u.exe.old", "folder sub\\",
                                             "file sub\\keep.txt"};
    ToolRun run = Build(folder, s_ / "update");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Entries(s_ / "update"), packed);
    EXPECT_NE(run.err.find("left out 10 system files ("), std::string::npos) << run.err;
    for (const char* name : {"sub/THUMBS.DB", "__MACOSX/", ".git/", "ehthumbs.db", "._title.png"})
        EXPECT_NE(run.err.find(name), std::string::npos) << name;
    ToolRun all = Build(folder, s_ / "all.exe", " --include-all");
    ASSERT_EQ(all.exit_code, 0) << all.err;
    EXPECT_EQ(Entries(s_ / "all.exe").size(), packed.size() + 12);  // .git\ and __MACOSX\ too
}

// A UTF-8 install.env goes into the archive as code page 932, said in one line.
TEST_F(Vnpack, Utf8SettingsAreConverted) {
    MakeSetupFiles(s_ / "u", "\xef\xbb\xbfTITLEBAR \xe3\x82\xb5\r\nINSTTO \xe3\x82\xb5\r\n");
    ToolRun build = Build(s_ / "u", s_ / "u.exe");
    ASSERT_EQ(build.exit_code, 0) << build.err;
    EXPECT_EQ(std::count(build.err.begin(), build.err.end(), '\n'), 1) << build.err;
    EXPECT_NE(build.err.find("saved as UTF-8 with a byte-order mark"), std::string::npos);
    ASSERT_EQ(Run("extract " + Quote(s_ / "u.exe") + " " + Quote(s_ / "x")).exit_code, 0);
    EXPECT_EQ(ReadAll(s_ / "x" / "install.env"), "TITLEBAR \x83\x54\r\nINSTTO \x83\x54\r\n");
}

// Each refusal is one line on stderr with its exit code: 1 for a finding or
// damage, 2 for a usage mistake or what cannot be read or written.
TEST_F(Vnpack, BadInputGivesOneLineAndItsExitCode) {
    MakeUpdateFolder(s_ / "good");
    // An update folder each, with a file whose name the build refuses: ¥
    // (C2 A5) is 0x5C in code page 932, and Ⅰ (E2 85 A0) is ⅰ on Windows.
    for (const char* refused : {"backslash/a\\b.txt",
                                "yen/data\xc2\xa5"
                                "evil.dat",
                                "emoji/\xf0\x9f\x98\x80.txt", "case/DATA/Big.arc",
                                "numeral/\xe2\x85\xa0.dat", "device/CONOUT$.log"}) {
        MakeUpdateFolder(s_ / *fs::path(refused).begin());
        WriteAll(s_ / refused, "x");
    }
    WriteAll(s_ / "numeral" / "\xe2\x85\xb0.dat", "x");
    WriteAll(s_ / "no_settings" / "a.txt", "a");
    MakeUpdateFolder(s_ / "link");
    fs::create_symlink("/etc/passwd", s_ / "link" / "data" / "passwd");
    MakeSetupFiles(s_ / "strict", "TITLEBAR a b\n");
    MakeSetupFiles(s_ / "emoji_env", "TITLEBAR a\nINSTTO \xf0\x9f\x98\x80\n");
    fs::create_directories(s_ / "full");
    WriteAll(s_ / "full" / "old.txt", "x");
    // The real updater program: bare, cut short, and with a payload cut short.
    const fs::path program = VN_SOURCE_DIR "/dist/vnupdate.exe";
    const std::string bare = ReadAll(program);
    ASSERT_GT(bare.size(), 4096u);
    WriteAll(s_ / "half.exe", bare.substr(0, bare.size() - 1000));
    ASSERT_EQ(Run("build " + Quote(s_ / "good") + " -o " + Quote(s_ / "real.exe") + " --stub " +
                  Quote(program))
                  .exit_code,
              0);
    std::string real = ReadAll(s_ / "real.exe");
    WriteAll(s_ / "cut.exe", real.substr(0, real.size() - 5000));
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
        std::string args, problem;
        int status;
    } cases[] = {
        {build + Quote(s_ / "missing"), "not a readable folder", 2},
        {build + Quote(s_ / "no_settings"), "no install.env", 1},
        {build + Quote(s_ / "backslash"), "backslash", 1},
        {build + Quote(s_ / "yen"), "evil.dat: name contains a backslash", 1},
        {build + Quote(s_ / "emoji"), "code page 932", 1},
        {build + Quote(s_ / "case"), "same name on Windows", 1},
        {build + Quote(s_ / "numeral"), "same name on Windows", 1},
        {build + Quote(s_ / "device"), "device name", 1},
        {build + Quote(s_ / "link"), "passwd: is a symbolic link", 1},
        {build + Quote(s_ / "strict") + " --strict", "configuration has errors", 1},
        {build + Quote(s_ / "emoji_env"), "configuration has errors", 1},
        {"build " + Quote(s_ / "good") + " -o " + Quote(s_ / "nosuchdir" / "out.exe"),
         "the output folder", 2},
        {"build " + Quote(s_ / "good") + " -o " + Quote(s_ / "good" / "data" / "u.exe"),
         "lies inside the folder it packs", 2},
        {"build " + Quote(s_ / "good") + " -o " + Quote(out) + " --stub " +
             Quote(s_ / "nostub.exe"),
         "No such file", 2},
        {"build " + Quote(s_ / "good") + " -o " + Quote(out) + " --stub " +
             Quote(s_ / "plain.exe") + " --level 12",
         "--level", 2},
        {"build " + Quote(s_ / "good") + " --bogus", "unknown option --bogus", 2},
        {"build -o " + Quote(out), "needs DIR", 2},
        {"frobnicate", "unknown command \"frobnicate\"", 2},
        {"lint " + Quote(s_ / "nosuch.env"), "vnpack: " + s_.string() + "/nosuch.env: cannot", 2},
        {"list " + Quote(s_ / "missing.exe"), "No such file", 2},
        {"list " + Quote(s_ / "plain.exe"), "not an updater (not a Windows program)", 1},
        {"list " + Quote(program), "a bare updater program without a payload", 1},
        {"list " + Quote(s_ / "half.exe"), "truncated: 1000 bytes of the program are missing", 1},
        {"test " + Quote(s_ / "cut.exe"), "truncated or damaged", 1},
        {"test " + Quote(s_ / "damaged.exe"), "big.arc", 1},
        {"extract " + Quote(s_ / "damaged.exe") + " " + Quote(s_ / "x"), "big.arc", 1},
        {"extract " + Quote(s_ / "real.exe") + " " + Quote(s_ / "full"), "is not empty", 2},
        {"diff " + Quote(s_ / "good") + " " + Quote(s_ / "good") + " -o " + Quote(s_ / "full"),
         "exists and is not an empty folder", 2},
        {"diff " + Quote(s_ / "good") + " " + Quote(s_ / "link") + " -o " + Quote(s_ / "d"),
         "passwd: is a symbolic link", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.exit_code, c.status);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
        // One line of its own, after the findings in install.env if any.
        std::istringstream lines(run.err);
        int own = 0;
        for (std::string line; std::getline(lines, line);)
            own += line.find(": error: ") == std::string::npos;
        EXPECT_EQ(own, 1) << run.err;
        for (const char* suffix : {"", ".vnpack-part", ".vnpack-tmp"}) {
            EXPECT_FALSE(fs::exists(out.string() + suffix)) << suffix;
        }
    }
}

// Another writer's payload, which does not end on a multiple of 8, signed by
// osslsigncode: zero bytes pad it up to the certificate table. The updater's
// reader and vnpack find it all the same, and still refuse it cut short.
TEST_F(Vnpack, SignedAfterAnotherWriter) {
    const std::string program = ReadAll(VN_SOURCE_DIR "/dist/vnupdate.exe");
    const std::string key = " -key " + Quote(s_ / "k.pem"), certificate = Quote(s_ / "c.pem");
    ASSERT_EQ(system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Test -out " +
                      certificate + " -keyout" + key.substr(5) + " 2>/dev/null")
                         .c_str()),
              0);
    for (int cut : {0, 500}) {
        SCOPED_TRACE(cut);
        const fs::path plain = s_ / "plain.exe", signed_file = s_ / "signed.exe";
        ASSERT_TRUE(WritePayload(
            Layout({File("install.env", Random(3001))},
                   "\"stub\": \"" + Hex(program) + "\", \"cut\": " + std::to_string(cut)),
            plain));
        ASSERT_NE(fs::file_size(plain) % 8, 0u);
        fs::remove(signed_file);
        ASSERT_EQ(system(("osslsigncode sign -certs " + certificate + key + " -in " + Quote(plain) +
                          " -out " + Quote(signed_file) + " >/dev/null")
                             .c_str()),
                  0);
        OpenedArchive opened(signed_file);
        ArchiveFault fault = {};
        EXPECT_EQ(opened.located && CheckArchive(&opened.archive, 3, &fault) == 0, cut == 0);
        for (const char* command : {"list ", "test "}) {
            ToolRun run = Run(command + Quote(signed_file));
            EXPECT_EQ(run.exit_code, cut == 0 ? 0 : 1) << command << run.err;
        }
    }
}

// An update made by diff, applied to the old version as the updater applies
// it (the engine's copy, here extract --force into the folder that is not
// empty, then the deletions after installation), gives the new version: a
// changed file, a renamed one, a deleted folder, double-byte names, a nested
// new folder.
TEST_F(Vnpack, DiffRoundTrip) {
    const fs::path old_game = s_ / "v1", new_game = s_ / "v2", update = s_ / "update";
    typedef std::map<std::string, std::string> Files;
    const Files old_files = {{"game.exe", "v1"},        {"same.dat", "same"},
                             {"old_name.txt", "moved"}, {"gone/a.dat", "a"},
                             {"gone/b.dat", "b"},       {"\xe5\x8f\xa4\xe3\x81\x84.txt", "old"},
                             {"data/keep.dat", "k"},    {"data/drop.dat", "d"}};
    const Files new_files = {{"game.exe", "v2"},
                             {"same.dat", "same"},
                             {"new_name.txt", "moved"},
                             {"\xe6\x96\xb0/\xe8\xa1\xa8.txt", "new"},
                             {"data/keep.dat", "k"}};
    for (const auto& [name, bytes] : old_files) WriteAll(old_game / name, bytes);
    for (const auto& [name, bytes] : new_files) WriteAll(new_game / name, bytes);
    MakeSetupFiles(s_ / "template",
                   "TITLEBAR\tgame\r\n[EOF]\r\n[delfiles_afterinst]\r\n*.log\r\n-\r\n");
    ToolRun diff = Run("diff " + Quote(old_game) + " " + Quote(new_game) + " -o " + Quote(update) +
                       " --env " + Quote(s_ / "template" / "install.env"));
    ASSERT_EQ(diff.exit_code, 0) << diff.err;
    EXPECT_EQ(diff.err, "");
    EXPECT_NE(diff.out.find("2 new files (8 bytes), 1 changed (2 bytes), 2 unchanged left out; "
                            "install.env deletes 5 files"),
              std::string::npos)
        << diff.out;
    EXPECT_NE(ReadAll(update / "install.env").find("[delfiles_afterinst]\r\n*.log\r\ninstall.env"),
              std::string::npos);
    ASSERT_EQ(Build(update, s_ / "u.exe").exit_code, 0);
    ASSERT_EQ(Run("extract " + Quote(s_ / "u.exe") + " " + Quote(old_game) + " --force").exit_code,
              0);
    FILE* settings = fopen((update / "install.env").c_str(), "rt");
    SectionParseResult result;
    ASSERT_EQ(ReadSectionLists(settings, &result), 0);
    fclose(settings);
    // Linux names are UTF-8; the list holds code page 932.
    for (const SectionLine* line = GetSectionList(kSectionDelfilesAfterinst); line;
         line = line->next) {
        char entry[1024];
        ASSERT_TRUE(OsCp932ToUtf8(line->text, entry, sizeof entry));
        DeleteAfterInstallEntry(old_game.c_str(), entry);
    }
    ReleaseSectionLists();
    EXPECT_EQ(Listing(old_game), Listing(new_game));
    for (const auto& item : fs::recursive_directory_iterator(new_game)) {
        if (item.is_regular_file()) {
            EXPECT_EQ(ReadAll(old_game / fs::relative(item.path(), new_game)),
                      ReadAll(item.path()));
        }
    }
}

// What diff must never list for deletion: a file whose name changed only in
// letter case (one file on Windows, so its deletion would take the new one),
// a file of the new version that a template's wildcard reaches, the player's
// saved games. The template's encoding and line ends are kept.
TEST_F(Vnpack, DiffDeletesNothingTheGameStillNeeds) {
    typedef std::map<std::string, std::string> Files;
    const struct {
        const char* what;
        Files old_files, new_files;
        std::string settings;  // the template
        std::string written;   // install.env as diff writes it
        std::vector<std::string> copied, said;
    } cases[] = {
        {"case-only renames and player data, Shift-JIS with CR LF",
         {{"data/Case/File.TXT", "f"},
          {"data/Keep.txt", "k"},
          {"\xef\xbc\xa1.txt", "a"},
          {"x.log", "l"},
          {"save/save00.dat", "s"},
          {"b.SAV", "s"},
          {"gone.txt", "g"}},
         {{"data/case/file.txt", "f"},
          {"data/keep.txt", "k2"},
          {"\xef\xbd\x81.txt", "a"},
          {"x.log", "l"}},
         "TITLEBAR\t\x83\x51\x81\x5b\x83\x80\r\n[EOF]\r\n[delfiles_afterinst]\r\n*.LOG\r\n-\r\n",
         "TITLEBAR\t\x83\x51\x81\x5b\x83\x80\r\n[EOF]\r\n\r\n[delfiles_afterinst]\r\n"
         "install.env\r\ninsttscr.rct\r\ngone.txt\r\n-\r\n",
         {"data/case/file.txt", "data/keep.txt", "\xef\xbd\x81.txt"},
         {"*.LOG: left out of [delfiles_afterinst]: it would delete x.log",
          "player's own data (--delete-player-data deletes them): b.SAV, save/save00.dat",
          "3 changed (4 bytes, 3 of them renamed in letter case)"}},
        {"UTF-8 with LF",
         {{"old.txt", "o"}},
         {},
         "TITLEBAR\t\xe3\x82\xb2\xe3\x83\xbc\xe3\x83\xa0\n[EOF]\n[delfiles_afterinst]\n"
         "\xe5\x8f\xa4.dat\n-\n",
         "TITLEBAR\t\xe3\x82\xb2\xe3\x83\xbc\xe3\x83\xa0\n[EOF]\n\n[delfiles_afterinst]\n"
         "\xe5\x8f\xa4.dat\ninstall.env\ninsttscr.rct\nold.txt\n-\n",
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path old_game = s_ / "v1", new_game = s_ / "v2", update = s_ / "update";
        for (const fs::path& folder : {old_game, new_game, update}) fs::remove_all(folder);
        fs::create_directories(new_game);
        for (const auto& [name, bytes] : c.old_files) WriteAll(old_game / name, bytes);
        for (const auto& [name, bytes] : c.new_files) WriteAll(new_game / name, bytes);
        MakeSetupFiles(s_ / "template", c.settings);
        ToolRun diff = Run("diff " + Quote(old_game) + " " + Quote(new_game) + " -o " +
                           Quote(update) + " --env " + Quote(s_ / "template" / "install.env"));
        ASSERT_EQ(diff.exit_code, 0) << diff.err;
        EXPECT_EQ(ReadAll(update / "install.env"), c.written);
        for (const std::string& name : c.copied) EXPECT_TRUE(fs::exists(update / name)) << name;
        for (const std::string& text : c.said)
            EXPECT_NE((diff.err + diff.out).find(text), std::string::npos) << diff.err << diff.out;
    }
}

// lint DIR reads the folder as build does and names every finding in one
// run; build refuses the same folder with the same exit code.
TEST_F(Vnpack, LintFolderNamesEveryFinding) {
    const fs::path folder = s_ / "update";
    MakeSetupFiles(folder,
                   "TITLEBAR\tgame\r\nKEYFILE\tgame.exe\r\n[EOF]\r\n[delfiles_afterinst]\r\n"
                   "..\\save\\*.*\r\nC:\\Windows\\win.ini\r\nDATA\\*.dat\r\nGAME.EXE\r\n"
                   "save\\*.*\r\ninstall.env\r\n-\r\n");
    const char* const bad[] = {"aux.txt",    "a?b.txt",    "trailing.",
                               "data/x.dat", "data/X.DAT", "game.exe"};
    for (const char* name : bad) WriteAll(folder / name, "x");
    WriteAll(folder / (std::string(200, 'd') + "/" + std::string(100, 'f')), "x");
    fs::create_symlink("/etc/passwd", folder / "passwd");
    const char* const findings[] = {
        "aux.txt: error: unusable name: device name",
        "a?b.txt: error: unusable name",
        "trailing.: error: unusable name",
        "ffff: error: unusable name: path too long",
        "passwd: error: is a symbolic link",
        "x.dat: error: another entry has the same name on Windows",
        ":5: warning: [delfiles_afterinst] line the updater skips: it leaves the game's folder",
        ":6: warning: [delfiles_afterinst] line the updater skips",
        ":7: error: [delfiles_afterinst] line deletes \"data\\X.DAT\", which the update itself",
        ":8: error: [delfiles_afterinst] line deletes the KEYFILE \"game.exe\"",
        ":9: warning: [delfiles_afterinst] line deletes the player's own data",
        "9 errors, 3 warnings"};
    ToolRun lint = Run("lint " + Quote(folder));
    EXPECT_EQ(lint.exit_code, 1);
    for (const char* text : findings) EXPECT_NE(lint.err.find(text), std::string::npos) << lint.err;
    EXPECT_EQ(lint.err.find(":10:"), std::string::npos) << lint.err;  // a setup file goes
    ToolRun build = Build(folder, s_ / "u.exe");
    EXPECT_EQ(build.exit_code, 1);
    EXPECT_NE(build.err.find("unusable name: path too long"), std::string::npos) << build.err;
    fs::remove_all(folder);
    WriteAll(folder / "a.txt", "x");
    EXPECT_EQ(Run("lint " + Quote(folder)).exit_code, Build(folder, s_ / "u.exe").exit_code);
}

// Help and version go to stdout with exit 0; every option shows its meaning
// and its default.
TEST_F(Vnpack, HelpAndVersion) {
    const std::pair<std::string, std::string> cases[] = {
        {"--help", "  extract  UPDATE.exe DIR"},
        {"build --help", "  --level 0-9      zlib compression level (default: 9)"},
        {"extract x y --help", "  --force "},
        {"lint -h", "  --strict "},
        {"--version", "vnpack "},
    };
    for (const auto& c : cases) {
        ToolRun run = Run(c.first);
        EXPECT_EQ(run.exit_code, 0) << c.first;
        EXPECT_EQ(run.err, "") << c.first;
        EXPECT_NE(run.out.find(c.second), std::string::npos) << run.out;
    }
    ToolRun none = Run("");
    EXPECT_EQ(none.exit_code, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("usage: vnpack"), std::string::npos);
}

}  // namespace

#endif

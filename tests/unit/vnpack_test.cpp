// vnpack end to end; the archive layout is read back by the independent Python reader.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <map>

#include "config/sections.h"
#include "config/setup_files.h"
#include "payload_fixture.h"
#include "png.h"
#include "rct_encode.h"
#include "update/afterinst.h"

#ifdef VN_VNPACK

namespace {

using namespace payload_test;
typedef std::map<std::string, std::string> Files;

struct ToolRun { int exit_code; std::string out, err; };

void WriteFiles(const fs::path& root, const Files& files) {
    fs::create_directories(root);
    for (const auto& [name, bytes] : files) WriteAll(root / name, bytes);
}

// The least an update folder needs: install.env and a title picture.
void MakeSetupFiles(const fs::path& root, const std::string& settings = "TITLEBAR\tgame\r\n") {
    std::vector<unsigned char> pixels(3 * 80 * 25, 9), rct = EncodeRctFile(pixels.data(), 80, 25, nullptr);
    WriteFiles(root,
               {{kTitlePictureName, std::string(rct.begin(), rct.end())}, {"install.env", settings}});
}

// A game update as the maker lays it out; times are whole 100 ns units.
void MakeUpdateFolder(const fs::path& root) {
    fs::create_directories(root / "empty");
    MakeSetupFiles(root);
    std::string big;
    for (uint64_t i = 0; i < 300000; ++i) big += std::to_string(i * 7919 % 100003);
    WriteFiles(root, {{"update.txt", "readme"}, {"game.exe", std::string(131072, 'x')},
                      {"data/empty.dat", ""}, {"data/big.arc", big},
                      {"data/sub/\xe8\xa1\xa8\xe3\x82\xbd.txt", "table and so"}});
    uint64_t time = 132000000000000000ull;
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (item.is_regular_file()) OsSetFileTime(item.path().c_str(), time += 12345678);
}

// "file NAME" or "folder NAME" per entry in archive order; the reader checks every stream.
std::vector<std::string> Entries(const fs::path& updater) {
    std::string reader = std::string(VN_TEST_PYTHON) + " " + VN_SOURCE_DIR +
                         "/tests/unit/payload_writer.py --read " + updater.string() + " >layout";
    if (system(reader.c_str()) != 0) return {"(unreadable)"};
    std::vector<std::string> entries;
    std::istringstream lines(ReadAll("layout"));
    for (std::string line; std::getline(lines, line);) entries.push_back(line);
    return entries;
}

std::vector<unsigned char> PngPixels(const std::string& path) {
    std::string png = ReadAll(path), problem;
    std::vector<unsigned char> pixels;
    int32_t width = 0, height = 0;
    EXPECT_TRUE(DecodePng((const unsigned char*)png.data(), png.size(), &pixels, &width, &height, &problem))
        << problem;
    return pixels;
}

// The scratch folder made current, with a stub executable of 1,024 bytes.
class Vnpack : public ScratchFolderTest {
   protected:
    Vnpack() { WriteAll(root_ + "/stub.exe", "MZ" + std::string(1022, '\0')); }
    static ToolRun Run(const std::string& args) {
        int status = system((std::string(VN_VNPACK) + " " + args + " >out.txt 2>err.txt").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll("out.txt"), ReadAll("err.txt")};
    }
    static ToolRun Build(const std::string& source, const std::string& output, const std::string& more = "") {
        return Run("build " + source + " --stub stub.exe -o " + output + more);
    }
};

TEST_F(Vnpack, RoundTripKeepsBytesTimesAndOrder) {
    MakeUpdateFolder("update");
    ToolRun build = Build("update", "u.exe");
    ASSERT_EQ(build.exit_code, 0) << build.err;
    // Not on a terminal, a clean build says one line.
    EXPECT_EQ(build.err, "");
    EXPECT_EQ(std::count(build.out.begin(), build.out.end(), '\n'), 1) << build.out;
    EXPECT_EQ(ReadAll("u.exe").substr(0, 1024), ReadAll("stub.exe"));
    // A signature appended later needs no padding of its own.
    EXPECT_EQ(fs::file_size("u.exe") % 8, 0u);
    // The thread count never changes the output; the compression level does.
    for (const char* more : {" --jobs 1", " --jobs 4", " --level 1"}) {
        ASSERT_EQ(Build("update", "again.exe", more).exit_code, 0) << more;
        EXPECT_EQ(ReadAll("again.exe") == ReadAll("u.exe"), more[3] == 'j') << more;
    }
    // Setup files, other top-level files, folders parents first, files inside folders.
    EXPECT_EQ(Entries("u.exe"), (std::vector<std::string>{
        "file install.env", "file insttscr.rct", "file update.txt", "file game.exe", "folder data\\",
        "folder data\\sub\\", "folder empty\\", "file data\\big.arc", "file data\\empty.dat",
        "file data\\sub\\\x95\x5c\x83\x5c.txt"}));
    ToolRun list = Run("list u.exe");
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_NE(list.out.find("data\\sub\\\xe8\xa1\xa8\xe3\x82\xbd.txt"), std::string::npos);
    EXPECT_NE(list.out.find("archive offset 1024"), std::string::npos) << list.out;
    EXPECT_EQ(Run("test u.exe").exit_code, 0);
    // あ (E3 81 82) read as code page 932 would swallow the backslash after it.
    const fs::path extracted = "box/\xe3\x81\x82";
    ToolRun extract = Run("extract u.exe " + extracted.string());
    ASSERT_EQ(extract.exit_code, 0) << extract.err;
    EXPECT_EQ(extract.out.find("extracted 7 files"), 0u) << extract.out;
    for (const auto& item : fs::directory_iterator("box")) EXPECT_EQ(item.path(), extracted);
    EXPECT_TRUE(Stamped(extracted) == Stamped("update")) << ::testing::PrintToString(Listing(extracted));
}

// System junk is left out (each named) unless --include-all; a UTF-8 install.env
// is packed as code page 932.
TEST_F(Vnpack, WhatIsLeftOutOfTheFolderAndWhatIsConverted) {
    MakeSetupFiles("u", "\xef\xbb\xbfTITLEBAR \xe3\x82\xb5\r\nINSTTO \xe3\x82\xb5\r\n");
    WriteAll("u/u.exe.old", "kept");
    for (const char* name : {"Thumbs.db", "desktop.ini", ".DS_Store", "a.bak", "b.txt~", ".git/config",
                             "sub/THUMBS.DB", "._title.png", "__MACOSX/._a", "ehthumbs.db", "sub/keep.txt"})
        WriteAll(fs::path("u") / name, "x");
    const std::vector<std::string> packed = {"file install.env", "file insttscr.rct", "file u.exe.old",
                                             "folder sub\\", "file sub\\keep.txt"};
    ToolRun run = Build("u", "u.exe");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Entries("u.exe"), packed);
    for (const char* text : {"left out 10 system files (", "sub/THUMBS.DB", "__MACOSX/", ".git/",
                             "ehthumbs.db", "._title.png", "install.env: saved as UTF-8 with a byte-order mark"})
        EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    ASSERT_EQ(Run("extract u.exe x").exit_code, 0);
    EXPECT_EQ(ReadAll("x/install.env"), "TITLEBAR \x83\x54\r\nINSTTO \x83\x54\r\n");
    ASSERT_EQ(Build("u", "all.exe", " --include-all").exit_code, 0);
    EXPECT_EQ(Entries("all.exe").size(), packed.size() + 12);  // .git\ and __MACOSX\ too
}

// vnpack rct, build with an INSTTSCR.PNG, and the demo's insttscr.rct all come
// back pixel for pixel through vnpack png.
TEST_F(Vnpack, PicturesRoundTripExactly) {
    const std::string art = std::string(VN_SOURCE_DIR) + "/examples/art/insttscr.png";
    const std::string demo = std::string(VN_SOURCE_DIR) + "/examples/demo-update/insttscr.rct";
    std::vector<unsigned char> original = PngPixels(art);
    ASSERT_EQ(original.size(), 3u * 256 * 256);
    ASSERT_EQ(Run("rct " + art + " made.rct").exit_code, 0);
    EXPECT_LT(ReadAll("made.rct").size() * 2, original.size());
    WriteAll("u/install.env", "TITLEBAR\tgame\r\n");
    fs::copy_file(art, "u/INSTTSCR.PNG");
    ASSERT_EQ(Build("u", "u.exe").exit_code, 0);
    ASSERT_EQ(Run("extract u.exe out").exit_code, 0);
    EXPECT_FALSE(fs::exists("out/INSTTSCR.PNG"));
    for (const std::string& rct : {std::string("made.rct"), demo, std::string("out/insttscr.rct")}) {
        ASSERT_EQ(Run("png " + rct + " back.png").exit_code, 0) << rct;
        EXPECT_EQ(PngPixels("back.png"), original) << rct;
    }
}

// One line on stderr each: exit 1 for a finding or damage, 2 for a usage mistake or I/O.
TEST_F(Vnpack, BadInputGivesOneLineAndItsExitCode) {
    MakeUpdateFolder("good");
    // ¥ (C2 A5) is 0x5C in code page 932; Ⅰ (E2 85 A0) is ⅰ on Windows.
    for (const char* refused : {"backslash/a\\b.txt", "yen/data\xc2\xa5" "evil.dat",
                                "emoji/\xf0\x9f\x98\x80.txt", "numeral/\xe2\x85\xa0.dat",
                                "both/INSTTSCR.PNG"}) {
        MakeUpdateFolder(*fs::path(refused).begin());
        WriteAll(refused, "x");
    }
    WriteFiles(".", {{"numeral/\xe2\x85\xb0.dat", "x"}, {"no_settings/a.txt", "a"}, {"full/old.txt", "x"},
                     {"text.png", "not a picture"}, {"plain.exe", "MZ this is no updater at all"},
                     {"bad.rct", std::string("\x98\x5a\x92\x9aTC00\x02\0\0\0\x01\0\0\0\x03\0\0\0ABC", 23)}});
    MakeUpdateFolder("link");
    fs::create_symlink("/etc/passwd", "link/data/passwd");
    MakeSetupFiles("strict", "TITLEBAR a b\n");
    MakeSetupFiles("emoji_env", "TITLEBAR a\nINSTTO \xf0\x9f\x98\x80\n");
    const std::string program = VN_SOURCE_DIR "/dist/vnupdate.exe", bare = ReadAll(program);
    ASSERT_GT(bare.size(), 4096u);
    WriteAll("half.exe", bare.substr(0, bare.size() - 1000));
    ASSERT_EQ(Run("build good -o real.exe --stub " + program).exit_code, 0);
    std::string real = ReadAll("real.exe");
    WriteAll("cut.exe", real.substr(0, real.size() - 5000));
    ASSERT_EQ(Build("good", "damaged.exe").exit_code, 0);
    std::string damaged = ReadAll("damaged.exe");
    ASSERT_NE(damaged.find("big.arc"), std::string::npos);
    damaged[damaged.find("big.arc") + 200] ^= 0x55;
    WriteAll("damaged.exe", damaged);

    const std::string build = "build --stub stub.exe -o out.exe ";
    const struct { std::string args, problem; int status; } cases[] = {
        {build + "missing", "not a readable folder", 2},
        {build + "no_settings", "no install.env", 1},
        {build + "backslash", "backslash", 1},
        {build + "yen", "evil.dat: name contains a backslash", 1},
        {build + "emoji", "code page 932", 1},
        {build + "numeral", "same name on Windows", 1},
        {build + "link", "passwd: is a symbolic link", 1},
        {build + "both", "insttscr.rct is there too", 1},
        {build + "strict --strict", "configuration has errors", 1},
        {build + "emoji_env", "configuration has errors", 1},
        {"build good -o nosuchdir/out.exe", "the output folder", 2},
        {"build good -o good/data/u.exe", "lies inside the folder it packs", 2},
        {"build good -o out.exe --stub nostub.exe", "No such file", 2},
        {"build good -o out.exe --stub plain.exe --level 12", "--level", 2},
        {"build good --bogus", "unknown option --bogus", 2},
        {"build -o out.exe", "needs DIR", 2},
        {"frobnicate", "unknown command \"frobnicate\"", 2},
        {"list missing.exe", "No such file", 2},
        {"lint nosuch.env", "vnpack: nosuch.env: cannot", 2},
        {"list plain.exe", "not an updater (not a Windows program)", 1},
        {"list " + program, "a bare updater program without a payload", 1},
        {"list half.exe", "truncated: 1000 bytes of the program are missing", 1},
        {"test cut.exe", "truncated or damaged", 1},
        {"test damaged.exe", "big.arc", 1},
        {"extract damaged.exe x", "big.arc", 1},
        {"extract real.exe full", "is not empty", 2},
        {"diff good good -o full", "exists and is not an empty folder", 2},
        {"diff good link -o d", "passwd: is a symbolic link", 1},
        {"rct text.png out.exe", "vnpack: text.png: not a PNG picture", 1},
        {"rct missing.png out.exe", "vnpack: missing.png: No such file or directory", 2},
        {"png bad.rct out.exe", "bad.rct: damaged RCT picture (the pixel commands run outside", 1},
        {"png text.png out.exe", "vnpack: text.png: not an RCT picture", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.exit_code, c.status);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
        // One line of its own after any install.env findings.
        std::istringstream lines(run.err);
        int own = 0;
        for (std::string line; std::getline(lines, line);) own += line.find(": error: ") == std::string::npos;
        EXPECT_EQ(own, 1) << run.err;
        for (const char* suffix : {"", ".vnpack-part", ".vnpack-tmp"})
            EXPECT_FALSE(fs::exists(std::string("out.exe") + suffix)) << suffix;
    }
}

// An update made by diff and applied to the old version as the updater does (copy, then
// the deletions after installation) gives the new version. diff never deletes a file
// renamed in letter case only (one file on Windows), a new file a template wildcard
// reaches, or saved games; the template's encoding and line ends are kept.
TEST_F(Vnpack, DiffUpdatesAndDeletesNothingTheGameStillNeeds) {
    // settings: the template; written: install.env as diff writes it; applied: checked
    // against the new version
    const struct { const char* what; Files old_files, new_files; std::string settings, written;
                   std::vector<std::string> copied, said; bool applied = false; } cases[] = {
        {"changed, renamed, deleted folder, double-byte names, nested new folder",
         {{"game.exe", "version 1"}, {"same.dat", "same"}, {"old_name.txt", "moved"}, {"gone/a.dat", "a"},
          {"gone/b.dat", "b"}, {"\xe5\x8f\xa4\xe3\x81\x84.txt", "old"}, {"data/keep.dat", "k"},
          {"data/drop.dat", "d"}},
         {{"game.exe", "v2"}, {"same.dat", "same"}, {"new_name.txt", "moved"},
          {"\xe6\x96\xb0/\xe8\xa1\xa8.txt", "new"}, {"data/keep.dat", "k"}},
         "TITLEBAR\tgame\r\n[EOF]\r\n[delfiles_afterinst]\r\n*.log\r\n-\r\n",
         "TITLEBAR\tgame\r\n[EOF]\r\n\r\n[delfiles_afterinst]\r\n*.log\r\ninstall.env\r\ninsttscr.rct\r\n"
         "data\\drop.dat\r\ngone\\a.dat\r\ngone\\b.dat\r\nold_name.txt\r\n\x8c\xc3\x82\xa2.txt\r\n-\r\n",
         {"game.exe", "new_name.txt", "\xe6\x96\xb0/\xe8\xa1\xa8.txt"},
         {"2 new files (8 bytes), 1 changed (2 bytes), 2 unchanged left out; install.env deletes 5 files"},
         true},
        {"case-only renames and player data, Shift-JIS with CR LF",
         {{"data/Case/File.TXT", "f"}, {"data/Keep.txt", "k"}, {"\xef\xbc\xa1.txt", "a"}, {"x.log", "l"},
          {"save/save00.dat", "s"}, {"b.SAV", "s"}, {"gone.txt", "g"}},
         {{"data/case/file.txt", "f"}, {"data/keep.txt", "k2"}, {"\xef\xbd\x81.txt", "a"}, {"x.log", "l"}},
         "TITLEBAR\t\x83\x51\x81\x5b\x83\x80\r\n[EOF]\r\n[delfiles_afterinst]\r\n*.LOG\r\n-\r\n",
         "TITLEBAR\t\x83\x51\x81\x5b\x83\x80\r\n[EOF]\r\n\r\n[delfiles_afterinst]\r\n"
         "install.env\r\ninsttscr.rct\r\ngone.txt\r\n-\r\n",
         {"data/case/file.txt", "data/keep.txt", "\xef\xbd\x81.txt"},
         {"*.LOG: left out of [delfiles_afterinst]: it would delete x.log",
          "player's own data (--delete-player-data deletes them): b.SAV, save/save00.dat",
          "3 changed (4 bytes, 3 of them renamed in letter case)"}},
        {"UTF-8 with LF", {{"old.txt", "o"}}, {},
         "TITLEBAR\t\xe3\x82\xb2\xe3\x83\xbc\xe3\x83\xa0\n[EOF]\n[delfiles_afterinst]\n\xe5\x8f\xa4.dat\n-\n",
         "TITLEBAR\t\xe3\x82\xb2\xe3\x83\xbc\xe3\x83\xa0\n[EOF]\n\n[delfiles_afterinst]\n"
         "\xe5\x8f\xa4.dat\ninstall.env\ninsttscr.rct\nold.txt\n-\n", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* folder : {"v1", "v2", "update"}) fs::remove_all(folder);
        WriteFiles("v1", c.old_files);
        WriteFiles("v2", c.new_files);
        MakeSetupFiles("template", c.settings);
        ToolRun diff = Run("diff v1 v2 -o update --env template/install.env");
        ASSERT_EQ(diff.exit_code, 0) << diff.err;
        EXPECT_EQ(ReadAll("update/install.env"), c.written);
        for (const std::string& name : c.copied) EXPECT_TRUE(fs::exists("update/" + name)) << name;
        for (const std::string& text : c.said)
            EXPECT_NE((diff.err + diff.out).find(text), std::string::npos) << diff.err << diff.out;
        if (!c.applied) continue;
        EXPECT_EQ(diff.err, "");
        ASSERT_EQ(Build("update", "u.exe").exit_code, 0);
        ASSERT_EQ(Run("extract u.exe v1 --force").exit_code, 0);
        SectionId open;
        ASSERT_EQ(LoadSectionLists("update/install.env", &open), kSectionsLoaded);
        for (const SectionLine* line = GetSectionList(kSectionDelfilesAfterinst); line; line = line->next) {
            char entry[1024];
            ASSERT_TRUE(OsCp932ToUtf8(line->text, entry, sizeof entry));
            DeleteAfterInstallEntry((root_ + "/v1").c_str(), entry);
        }
        ReleaseSectionLists();
        EXPECT_EQ(Snapshot("v1"), Snapshot("v2"));
    }
}

// lint DIR names every finding in one run; build refuses the same folder alike.
TEST_F(Vnpack, LintFolderNamesEveryFinding) {
    MakeSetupFiles("u", "TITLEBAR\tgame\r\nKEYFILE\tgame.exe\r\n[EOF]\r\n[delfiles_afterinst]\r\n"
                        "..\\save\\*.*\r\nC:\\Windows\\win.ini\r\nDATA\\*.dat\r\nGAME.EXE\r\n"
                        "save\\*.*\r\ninstall.env\r\n-\r\n");
    for (const char* name : {"aux.txt", "a?b.txt", "trailing.", "data/x.dat", "data/X.DAT", "game.exe"})
        WriteAll(fs::path("u") / name, "x");
    WriteAll("u/" + std::string(200, 'd') + "/" + std::string(100, 'f'), "x");
    fs::create_symlink("/etc/passwd", "u/passwd");
    ToolRun lint = Run("lint u");
    EXPECT_EQ(lint.exit_code, 1);
    for (const char* text :
         {"aux.txt: error: unusable name: device name", "a?b.txt: error: unusable name",
          "trailing.: error: unusable name", "ffff: error: unusable name: path too long",
          "passwd: error: is a symbolic link", "x.dat: error: another entry has the same name on Windows",
          ":5: warning: [delfiles_afterinst] line the updater skips: it leaves the game's folder",
          ":6: warning: [delfiles_afterinst] line the updater skips",
          ":7: error: [delfiles_afterinst] line deletes \"data\\X.DAT\", which the update itself",
          ":8: error: [delfiles_afterinst] line deletes the KEYFILE \"game.exe\"",
          ":9: warning: [delfiles_afterinst] line deletes the player's own data",
          "9 errors, 3 warnings"})
        EXPECT_NE(lint.err.find(text), std::string::npos) << text << "\n" << lint.err;
    EXPECT_EQ(lint.err.find(":10:"), std::string::npos) << lint.err;  // a setup file goes
    ToolRun build = Build("u", "u.exe");
    EXPECT_EQ(build.exit_code, 1);
    EXPECT_NE(build.err.find("unusable name: path too long"), std::string::npos) << build.err;
    fs::remove_all("u");
    WriteAll("u/a.txt", "x");
    EXPECT_EQ(Run("lint u").exit_code, Build("u", "u.exe").exit_code);
}

}  // namespace

#endif

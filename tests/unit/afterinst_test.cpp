// Deletion after installation on a real folder.
#include "update/afterinst.h"

#include "base/platform.h"
#include "scratch_folder.h"

namespace {

// A game folder beside root_/victim.txt, which no entry may reach, with links outside.
class AfterInstallTest : public ScratchFolderTest {
   protected:
    void Build() {
        fs::remove_all(game_);
        fs::create_directories(game_ + "/empty");
        fs::create_directories(game_ + "/\x83");
        for (const char* file : {"install.env", "insttscr.rct", "a.bak", "b.bak", "save/1.sav",
                                 "part/x.dat", "part/y.txt", "data/old/z.dat", "\x83\x5c.txt",
                                 "C:x", "../victim.txt", "../elsewhere/e.dat"})
            WriteAll(game_ + "/" + file, "x");
        fs::create_directory_symlink(root_ + "/elsewhere", game_ + "/linked");
        fs::create_directory_symlink(root_ + "/elsewhere", game_ + "/data/linked");
    }
    bool Exists(const std::string& name) { return fs::exists(game_ + "/" + name); }
    const std::string game_ = root_ + "/game";
};

TEST_F(AfterInstallTest, Entries) {
    typedef std::vector<std::string> Names;
    const struct { std::string entry; AfterInstallResult result; Names gone; Names kept; } cases[] = {
        {"install.env", kAfterInstallDone, {"install.env"}, {"insttscr.rct"}},
        {"*.bak", kAfterInstallDone, {"a.bak", "b.bak"}, {"install.env"}},
        {"save\\*.*", kAfterInstallDone, {"save"}, {}},
        {"part\\*.dat", kAfterInstallFolderKept, {"part/x.dat"}, {"part/y.txt"}},
        {"data\\old\\*.*", kAfterInstallFolderKept, {"data/old/z.dat"}, {"data/old"}},
        {"save", kAfterInstallDone, {}, {"save/1.sav"}},
        {"empty\\", kAfterInstallDone, {"empty"}, {}},
        {"missing\\*.*", kAfterInstallFolderKept, {}, {}},
        // ソ (0x83 0x5C) is no separator: the empty folder "\x83" must stay.
        {"\x83\x5c.txt", kAfterInstallDone, {"\x83\x5c.txt"}, {"\x83"}},
        // Everything below is refused before anything is touched.
        {"..\\victim.txt", kAfterInstallRefused, {}, {"../victim.txt"}},
        {"save/../../*.txt", kAfterInstallRefused, {}, {"../victim.txt"}},
        {".. \\victim.txt", kAfterInstallRefused, {}, {"../victim.txt"}},
        {"save\\.\\1.sav", kAfterInstallRefused, {}, {"save/1.sav"}},
        {root_ + "/victim.txt", kAfterInstallRefused, {}, {"../victim.txt"}},
        {"C:x", kAfterInstallRefused, {}, {"C:x"}},
        {std::string(300, '*') + ".bak", kAfterInstallRefused, {}, {"a.bak"}},
        {"linked\\*.*", kAfterInstallRefused, {}, {"linked/e.dat"}},
        {"data\\linked\\e.dat", kAfterInstallRefused, {}, {"linked/e.dat"}},
    };
    for (const auto& c : cases) {
        Build();
        EXPECT_EQ(DeleteAfterInstallEntry(game_.c_str(), c.entry.c_str()), c.result) << c.entry;
        EXPECT_EQ(fs::current_path(), root_) << c.entry;
        for (const std::string& name : c.gone) EXPECT_FALSE(Exists(name)) << c.entry << " " << name;
        for (const std::string& name : c.kept) EXPECT_TRUE(Exists(name)) << c.entry << " " << name;
    }
}

// An entry's folder swapped for a link to one outside while its files are deleted: the
// deletion goes on in the folder it holds.
TEST_F(AfterInstallTest, AFolderSwappedForALinkMidwayLeadsNothingOutside) {
    Build();
    OsFolderHold* game = OsHoldFolder(game_.c_str());
    OsFolderHold* save = OsHoldChildFolder(game, "save", false, nullptr);
    ASSERT_TRUE(save);
    fs::rename(game_ + "/save", game_ + "/moved");
    fs::create_directory_symlink(root_ + "/elsewhere", game_ + "/save");
    auto remove = [](OsFolderHold* folder, const char* name, void*) { OsDeleteFileIn(folder, name); };
    EXPECT_EQ(OsForEachFileIn(save, "*.*", remove, nullptr), 0);
    OsReleaseFolder(save);
    OsReleaseFolder(game);
    EXPECT_TRUE(fs::exists(root_ + "/elsewhere/e.dat"));
    EXPECT_FALSE(Exists("moved/1.sav"));
}

}  // namespace

// The work folder's lifecycle, the fresh-folder rule and deletion by pattern,
// on a real temporary directory.
#include "base/workfolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/platform.h"
#include "scratch_folder.h"

namespace {

// The numbers the random source gives, in turn (the last one repeats).
std::vector<uint32_t> g_draws;
size_t g_drawn = 0;
uint32_t Draw() {
    return g_draws[std::min(g_drawn++, g_draws.size() - 1)];
}

std::string CurrentFolder() {
    return fs::current_path().string();
}

// Holds folder as a running updater holds its work folder; false when another
// open holds it already.
bool Hold(const std::string& folder, std::vector<int>* held) {
    held->push_back(open(folder.c_str(), O_RDONLY | O_DIRECTORY));
    return flock(held->back(), LOCK_EX | LOCK_NB) == 0;
}

// Each test gets its scratch folder as TMPDIR, and a folder inside it as
// starting directory.
class WorkFolderTest : public ScratchFolderTest {
   protected:
    void SetUp() override {
        fs::create_directory(start_);
        fs::current_path(start_);
        setenv("TMPDIR", root_.c_str(), 1);
    }
    void TearDown() override {
        if (old_tmp_.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", old_tmp_.c_str(), 1);
        ScratchFolderTest::TearDown();
    }
    const std::string start_ = root_ + "/start";
    const std::string old_tmp_ = getenv("TMPDIR") ? getenv("TMPDIR") : "";
};

TEST_F(WorkFolderTest, CreatedEnteredAndRemoved) {
    struct {
        std::vector<uint32_t> draws;
        const char* name;
        const char* planted;  // a folder of that name that another run holds
        bool deep_start;      // a start folder too long to be recorded
    } cases[] = {
        {{123456}, "TempGPInstallFolder_000123456", nullptr, false},
        {{4294967295u}, "TempGPInstallFolder_294967295", nullptr, false},  // below 10^9
        {{500, 501}, "TempGPInstallFolder_000000501", "TempGPInstallFolder_000000500", false},
        // The removal must still leave the work folder, or the system refuses
        // to remove it: it goes to the temporary folder instead.
        {{77}, "TempGPInstallFolder_000000077", nullptr, true},
    };
    std::vector<int> held;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string start = start_;
        while (c.deep_start && start.size() < 300) start += "/deep-folder-name";
        fs::create_directories(start);
        fs::current_path(start);
        g_draws = c.draws;
        g_drawn = 0;
        if (c.planted) WriteAll(root_ + "/" + c.planted + "/install.env", "x");
        if (c.planted) Hold(root_ + "/" + c.planted, &held);
        ASSERT_EQ(CreateWorkFolder(Draw), kWorkFolderReady);
        const std::string work = root_ + "/" + c.name;
        EXPECT_EQ(CurrentFolder(), work);
        EXPECT_EQ(fs::status(work).permissions(), fs::perms::owner_all);
        EXPECT_FALSE(Hold(work, &held)) << "the work folder is not held";
        // Only what the run recorded goes; a file someone else put there
        // stays, and with it the folder.
        WriteAll("install.env", "x");
        NoteWorkFile((work + "/install.env").c_str());
        RemoveWorkFolder();
        EXPECT_FALSE(fs::exists(work));
        EXPECT_TRUE(!c.planted || fs::exists(root_ + "/" + c.planted + "/install.env"));
        EXPECT_EQ(CurrentFolder(), c.deep_start ? root_ : start);
        EXPECT_STREQ(WorkFolderPath(), "");
    }
    for (int descriptor : held) close(descriptor);
    g_draws = {9};
    g_drawn = 0;
    ASSERT_EQ(CreateWorkFolder(Draw), kWorkFolderReady);
    WriteAll("install.env", "x");
    WriteAll("stray.txt", "x");
    NoteWorkFile((root_ + "/TempGPInstallFolder_000000009/install.env").c_str());
    RemoveWorkFolder();
    EXPECT_FALSE(fs::exists(root_ + "/TempGPInstallFolder_000000009/install.env"));
    EXPECT_TRUE(fs::exists(root_ + "/TempGPInstallFolder_000000009/stray.txt"));
}

// The work folders of killed runs go at the next start: those alone, not
// while held, and nothing that a link inside points to.
TEST_F(WorkFolderTest, RemovesAbandonedWorkFolders) {
    WriteAll(root_ + "/outside/target.dat", "x");
    const struct {
        const char* name;
        const char* kind;  // files: a file and a link to outside; link: a link to outside
        bool removed;
    } cases[] = {
        {"TempGPInstallFolder_000000001", "files", true},
        {"TempGPInstallFolder_000000002", "held", false},
        {"TempGPInstallFolder_000000003", "subfolder", false},
        {"TempGPInstallFolder_00000004", "files", false},
        {"TempGPInstallFolder_00000000x", "files", false},
        {"TempGPInstallFolder_000000005", "link", false},
        {"TempGPInstallFolder_000000006", "file", false},
    };
    std::vector<int> held;
    for (const auto& c : cases) {
        const std::string path = root_ + "/" + c.name, kind = c.kind;
        if (kind == "link") fs::create_directory_symlink(root_ + "/outside", path);
        if (kind == "file") WriteAll(path, "x");
        if (kind == "link" || kind == "file") continue;
        WriteAll(path + "/install.env", "x");
        fs::create_symlink(root_ + "/outside/target.dat", path + "/link");
        if (kind == "subfolder") fs::create_directory(path + "/sub");
        if (kind == "held") Hold(path, &held);
    }
    g_draws = {7};
    ASSERT_EQ(CreateWorkFolder(Draw), kWorkFolderReady);
    for (const auto& c : cases) {
        EXPECT_EQ(fs::exists(fs::symlink_status(root_ + "/" + c.name)), !c.removed) << c.name;
    }
    EXPECT_TRUE(fs::exists(root_ + "/outside/target.dat"));
    EXPECT_TRUE(fs::exists(root_ + "/TempGPInstallFolder_000000003/sub"));
    RemoveWorkFolder();
    for (int descriptor : held) close(descriptor);
}

TEST_F(WorkFolderTest, GivesUpAfterBoundAndTouchesNothing) {
    g_draws = {1000};
    g_drawn = 0;
    WriteAll(root_ + "/TempGPInstallFolder_000001000/keep.dat", "x");
    EXPECT_EQ(CreateWorkFolder(Draw), kWorkFolderFailed);
    EXPECT_EQ(g_drawn, 64u);
    EXPECT_EQ(CurrentFolder(), start_);
    RemoveWorkFolder();
    EXPECT_TRUE(fs::exists(root_ + "/TempGPInstallFolder_000001000/keep.dat"));
}

// Deletion never strays outside the named folder, never takes a folder and
// leaves the current folder as it was.
TEST_F(WorkFolderTest, DeleteMatchingFilesByPattern) {
    const std::string game = root_ + "/game/";
    for (const char* name : {"a.sav", "b.sav", "c.txt", "x.dat", "sub/x.dat", "sub/y",
                             "sub/deeper/z.dat", "\x95\x5c.sav"}) {
        WriteAll(game + name, "x");
    }
    fs::create_directory(game + "sub/inner.dir");
    WriteAll("keep.sav", "x");  // the user's own, in the current folder
    struct {
        const char* pattern;
        std::vector<const char*> deleted, kept;
    } cases[] = {
        {"*.none", {}, {"a.sav", "c.txt", "sub/x.dat"}},
        {"*.sav", {"a.sav", "b.sav", "\x95\x5c.sav"}, {"c.txt", "sub/x.dat"}},
        // A folder part written with a slash names the subfolder, as the
        // system's search reads it: x.dat one level up stays.
        {"sub/*.dat", {"sub/x.dat"}, {"x.dat", "sub/y", "sub/deeper/z.dat"}},
        {"sub\\*.*", {"sub/y"}, {"sub/deeper/z.dat", "c.txt", "x.dat"}},
        {"missing\\*.*", {}, {"c.txt", "sub/deeper/z.dat"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        DeleteMatchingFiles(game.c_str(), c.pattern);
        EXPECT_EQ(CurrentFolder(), start_);
        for (const char* name : c.deleted) EXPECT_FALSE(fs::exists(game + name)) << name;
        for (const char* name : c.kept) EXPECT_TRUE(fs::exists(game + name)) << name;
        EXPECT_TRUE(fs::exists(start_ + "/keep.sav"));
    }
    EXPECT_TRUE(fs::exists(game + "sub/deeper"));
    EXPECT_TRUE(fs::exists(game + "sub/inner.dir"));
    // A folder that cannot be entered: nothing is deleted anywhere.
    DeleteMatchingFiles((root_ + "/gone").c_str(), "*.*");
    EXPECT_TRUE(fs::exists(start_ + "/keep.sav"));
    EXPECT_EQ(CurrentFolder(), start_);
}

}  // namespace

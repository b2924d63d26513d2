// The work folder's lifecycle, the fresh-folder rule and deletion by pattern,
// on a real temporary directory.
#include "base/workfolder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "base/platform.h"
#include "scratch_folder.h"

namespace {

uint32_t g_clock_value;
uint32_t FixedClock() { return g_clock_value; }

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

std::string CurrentFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

// Each test gets its own temporary folder as TMPDIR, and a folder inside it
// as starting directory.
class WorkFolderTest : public ScratchFolderTest {
   protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        start_ = root_ + "/start";
        mkdir(start_.c_str(), 0777);
        ASSERT_EQ(chdir(start_.c_str()), 0);
        const char* old_tmp = getenv("TMPDIR");
        had_tmp_ = old_tmp != nullptr;
        old_tmp_ = had_tmp_ ? old_tmp : "";
        setenv("TMPDIR", root_.c_str(), 1);
        OsSetClockForTesting(FixedClock);
    }
    void TearDown() override {
        OsSetClockForTesting(nullptr);
        if (had_tmp_) setenv("TMPDIR", old_tmp_.c_str(), 1);
        else unsetenv("TMPDIR");
        ScratchFolderTest::TearDown();
    }
    std::string start_, old_tmp_;
    bool had_tmp_ = false;
};

TEST_F(WorkFolderTest, CreatedEnteredAndRemoved) {
    g_clock_value = 123456;
    ASSERT_EQ(CreateWorkFolder(), kWorkFolderReady);
    std::string expected = root_ + "/TempGPInstallFolder_000123456";
    EXPECT_EQ(CurrentFolder(), expected);
    Touch("install.env");
    Touch("readme.txt");
    RemoveWorkFolder();
    EXPECT_FALSE(Exists(expected));
    EXPECT_EQ(CurrentFolder(), start_);
    EXPECT_STREQ(WorkFolderPath(), "");
}

TEST_F(WorkFolderTest, ClockFromTwoToThe31IsPrintedNegative) {
    g_clock_value = 0xFFFFFFFFu;
    ASSERT_EQ(CreateWorkFolder(), kWorkFolderReady);
    EXPECT_EQ(CurrentFolder(), root_ + "/TempGPInstallFolder_-00000001");
    RemoveWorkFolder();
}

TEST_F(WorkFolderTest, ExistingFolderIsNeverReused) {
    g_clock_value = 500;
    std::string planted = root_ + "/TempGPInstallFolder_000000500";
    mkdir(planted.c_str(), 0777);
    Touch(planted + "/install.env");

    ASSERT_EQ(CreateWorkFolder(), kWorkFolderReady);
    EXPECT_EQ(CurrentFolder(), root_ + "/TempGPInstallFolder_000000501");
    RemoveWorkFolder();
    EXPECT_TRUE(Exists(planted + "/install.env")) << "a folder we did not make was emptied";
    EXPECT_FALSE(Exists(root_ + "/TempGPInstallFolder_000000501"));
}

TEST_F(WorkFolderTest, GivesUpAfterBoundAndTouchesNothing) {
    g_clock_value = 1000;
    for (int i = 0; i < 64; ++i) {
        std::string planted = root_ + "/TempGPInstallFolder_" + std::to_string(1000001000 + i).substr(1);
        mkdir(planted.c_str(), 0777);
        Touch(planted + "/keep.dat");
    }
    EXPECT_EQ(CreateWorkFolder(), kWorkFolderFailed);
    EXPECT_EQ(CurrentFolder(), start_);
    RemoveWorkFolder();
    EXPECT_TRUE(Exists(root_ + "/TempGPInstallFolder_000001000/keep.dat"));
    EXPECT_TRUE(Exists(root_ + "/TempGPInstallFolder_000001063/keep.dat"));
}

TEST_F(WorkFolderTest, SubfolderKeepsWorkFolderAlive) {
    g_clock_value = 42;
    ASSERT_EQ(CreateWorkFolder(), kWorkFolderReady);
    std::string work = CurrentFolder();
    mkdir("DirectX", 0777);
    Touch("DirectX/dxsetup.exe");
    Touch("insttscr.rct");
    RemoveWorkFolder();
    EXPECT_FALSE(Exists(work + "/insttscr.rct"));
    EXPECT_TRUE(Exists(work + "/DirectX/dxsetup.exe"));
}

TEST_F(WorkFolderTest, DeleteMatchingFilesByPattern) {
    std::string folder = root_ + "/game";
    mkdir(folder.c_str(), 0777);
    mkdir((folder + "/sub").c_str(), 0777);
    mkdir((folder + "/sub/deeper").c_str(), 0777);
    mkdir((folder + "/sub/inner.dir").c_str(), 0777);
    for (const char* name : {"a.sav", "b.sav", "c.txt", "sub/x.dat", "sub/y", "sub/deeper/z.dat",
                             "\x95\x5c.sav"}) {
        Touch(folder + "/" + name);
    }

    struct {
        const char* pattern;
        const char* deleted[3];
        const char* kept[3];
    } cases[] = {
        {"*.none", {}, {"a.sav", "c.txt", "sub/x.dat"}},
        {"*.sav", {"a.sav", "b.sav", "\x95\x5c.sav"}, {"c.txt", "sub/x.dat"}},
        {"sub\\*.*", {"sub/x.dat", "sub/y"}, {"sub/deeper/z.dat", "c.txt"}},
        {"missing\\*.*", {}, {"c.txt", "sub/deeper/z.dat"}},
    };
    for (const auto& c : cases) {
        DeleteMatchingFiles(folder.c_str(), c.pattern);
        EXPECT_EQ(CurrentFolder(), start_) << c.pattern;
        for (const char* name : c.deleted) {
            if (!name) continue;
            EXPECT_FALSE(Exists(folder + "/" + name)) << c.pattern << " " << name;
        }
        for (const char* name : c.kept) {
            if (!name) continue;
            EXPECT_TRUE(Exists(folder + "/" + name)) << c.pattern << " " << name;
        }
    }
    EXPECT_TRUE(Exists(folder + "/sub/deeper"));
    EXPECT_TRUE(Exists(folder + "/sub/inner.dir"));
}

// Faults that would delete files the program never meant to touch, or leave
// the work folder behind.
TEST_F(WorkFolderTest, DeletionNeverStraysOutsideTheNamedFolder) {
    // The current folder holds files of the user's own.
    Touch("keep.sav");
    Touch("keep.txt");
    std::string game = root_ + "/game";
    mkdir(game.c_str(), 0777);
    mkdir((game + "/save").c_str(), 0777);
    Touch(game + "/x.sav");
    Touch(game + "/save/x.sav");

    // A folder that cannot be entered: nothing is deleted anywhere.
    DeleteMatchingFiles((root_ + "/gone").c_str(), "*.*");
    EXPECT_TRUE(Exists(start_ + "/keep.sav"));
    EXPECT_TRUE(Exists(start_ + "/keep.txt"));
    EXPECT_EQ(CurrentFolder(), start_);

    // A folder part written with a slash names the subfolder, as the
    // system's search reads it: the same name one level up stays.
    DeleteMatchingFiles(game.c_str(), "save/*.sav");
    EXPECT_FALSE(Exists(game + "/save/x.sav"));
    EXPECT_TRUE(Exists(game + "/x.sav"));
}

TEST_F(WorkFolderTest, RemovedEvenWhenTheStartFolderWasNotRecorded) {
    // A start folder too long for a path buffer cannot be saved; the removal
    // must still leave the work folder, or the system refuses to remove it.
    std::string deep = start_;
    while (deep.size() < 300) {
        deep += "/deep-folder-name";
        mkdir(deep.c_str(), 0777);
    }
    ASSERT_EQ(chdir(deep.c_str()), 0);
    g_clock_value = 77;
    ASSERT_EQ(CreateWorkFolder(), kWorkFolderReady);
    std::string work = CurrentFolder();
    Touch("install.env");
    RemoveWorkFolder();
    EXPECT_FALSE(Exists(work));
    EXPECT_EQ(CurrentFolder(), root_);
}

TEST_F(WorkFolderTest, FinderReturnsPatternFolderPart) {
    mkdir("data", 0777);
    mkdir("data/nested", 0777);
    Touch("data/one.sav");
    ASSERT_EQ(FileFinderBegin("data\\*.*"), 0);
    const char* path = FileFinderNext();
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, "data\\one.sav");
    EXPECT_EQ(FileFinderNext(), nullptr);
    EXPECT_EQ(FileFinderNext(), nullptr);  // a finished search stays finished
    EXPECT_EQ(FileFinderBegin("data\\*.txt"), 1);
    EXPECT_EQ(FileFinderNext(), nullptr);
}

}  // namespace

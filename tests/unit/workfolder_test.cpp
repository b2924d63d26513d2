// The work folder's lifecycle and the fresh-folder rule, on a real temporary folder.
#include "base/workfolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "scratch_folder.h"

namespace {

// The numbers the random source gives, in turn (the last one repeats).
std::vector<uint32_t> g_draws;
size_t g_drawn = 0;
uint32_t Draw() { return g_draws[std::min(g_drawn++, g_draws.size() - 1)]; }

// The scratch folder as TMPDIR, a folder inside it current. Hold takes a folder as a
// running updater holds its work folder: false when another holds it already.
class WorkFolderTest : public ScratchFolderTest {
   protected:
    void SetUp() override {
        fs::create_directory(start_);
        fs::current_path(start_);
        setenv("TMPDIR", root_.c_str(), 1);
        g_drawn = 0;
    }
    void TearDown() override {
        for (int descriptor : held_) close(descriptor);
        old_tmp_.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", old_tmp_.c_str(), 1);
        ScratchFolderTest::TearDown();
    }
    bool Hold(const std::string& folder) {
        held_.push_back(open(folder.c_str(), O_RDONLY | O_DIRECTORY));
        return flock(held_.back(), LOCK_EX | LOCK_NB) == 0;
    }
    const std::string start_ = root_ + "/start", work_ = root_ + "/TempGPInstallFolder_";
    const std::string old_tmp_ = getenv("TMPDIR") ? getenv("TMPDIR") : "";
    std::vector<int> held_;
};

TEST_F(WorkFolderTest, CreatedEnteredAndRemoved) {
    // planted: a folder of that number another run holds; deep_start: too long to record
    const struct { std::vector<uint32_t> draws; const char* number; const char* planted; bool deep_start; }
        cases[] = {
        {{123456}, "000123456", nullptr, false},
        {{4294967295u}, "294967295", nullptr, false},  // below 10^9
        {{500, 501}, "000000501", "000000500", false},
        // The removal must still leave the work folder: it goes to the temporary folder.
        {{77}, "000000077", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        std::string start = start_;
        while (c.deep_start && start.size() < 300) start += "/deep-folder-name";
        fs::create_directories(start);
        fs::current_path(start);
        g_draws = c.draws;
        g_drawn = 0;
        if (c.planted) WriteAll(work_ + c.planted + "/install.env", "x");
        if (c.planted) Hold(work_ + c.planted);
        // Killed runs' work folders (nine digits, not held) go at the start.
        for (const char* number : {"000000001", "00000000x"}) WriteAll(work_ + number + "/install.env", "x");
        ASSERT_EQ(CreateWorkFolder(Draw), kWorkFolderReady);
        EXPECT_FALSE(fs::exists(work_ + "000000001"));
        EXPECT_TRUE(fs::exists(work_ + "00000000x/install.env"));
        const std::string work = work_ + c.number;
        EXPECT_EQ(fs::current_path(), work);
        EXPECT_EQ(fs::status(work).permissions(), fs::perms::owner_all);
        EXPECT_FALSE(Hold(work)) << "the work folder is not held";
        // Only what the run recorded goes; someone else's file stays, and the folder too.
        WriteAll("install.env", "x");
        NoteWorkFile((work + "/install.env").c_str());
        if (c.planted) WriteAll("stray.txt", "x");
        RemoveWorkFolder();
        EXPECT_FALSE(fs::exists(work + "/install.env"));
        EXPECT_EQ(fs::exists(work + "/stray.txt"), c.planted != nullptr);
        EXPECT_EQ(fs::exists(work), c.planted != nullptr);
        EXPECT_TRUE(!c.planted || fs::exists(work_ + c.planted + "/install.env"));
        EXPECT_EQ(fs::current_path(), c.deep_start ? root_ : start);
        EXPECT_STREQ(WorkFolderPath(), "");
    }
}

TEST_F(WorkFolderTest, GivesUpAfterBoundAndTouchesNothing) {
    g_draws = {1000};
    WriteAll(work_ + "000001000/keep.dat", "x");
    EXPECT_EQ(CreateWorkFolder(Draw), kWorkFolderFailed);
    EXPECT_EQ(g_drawn, 64u);
    EXPECT_EQ(fs::current_path(), start_);
    RemoveWorkFolder();
    EXPECT_TRUE(fs::exists(work_ + "000001000/keep.dat"));
}

// Deletes files only, in the folder the pattern's own folder part names, and
// nothing at all when the folder cannot be entered (not the current one's).
TEST_F(WorkFolderTest, DeleteMatchingFilesByPattern) {
    const std::string game = root_ + "/game/";
    for (const char* name :
         {"a.sav", "\x95\x5c.sav", "c.txt", "x.dat", "sub/x.dat", "sub/y", "sub/deeper/z.dat"})
        WriteAll(game + name, "x");
    WriteAll("keep.sav", "x");  // the player's own, in the current folder
    const struct { const char *folder, *pattern; std::vector<const char*> deleted, kept; } cases[] = {
        {"game", "*.sav", {"a.sav", "\x95\x5c.sav"}, {"c.txt", "sub/x.dat"}},
        {"game", "sub/*.dat", {"sub/x.dat"}, {"x.dat", "sub/y", "sub/deeper/z.dat"}},
        {"game", "sub\\*.*", {"sub/y"}, {"sub/deeper/z.dat", "c.txt", "sub/deeper"}},
        {"gone", "*.*", {}, {"c.txt", "x.dat"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        DeleteMatchingFiles((root_ + "/" + c.folder).c_str(), c.pattern);
        EXPECT_EQ(fs::current_path(), start_);
        for (const char* name : c.deleted) EXPECT_FALSE(fs::exists(game + name)) << name;
        for (const char* name : c.kept) EXPECT_TRUE(fs::exists(game + name)) << name;
        EXPECT_TRUE(fs::exists(start_ + "/keep.sav"));
    }
}

}  // namespace

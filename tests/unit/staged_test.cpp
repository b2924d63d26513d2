// The copy pass replaces all of the game's files or none: any failure, while
// staging or while moving files into place, leaves the folder as it was.
#include "payload/journal.h"
#include "payload_fixture.h"

namespace {

using namespace payload_test;

const uint64_t kOldTime = 130000000000000000ull;
const uint64_t kNewTime = 132500000000000000ull;

// Two old files the update replaces, one in a folder, and a folder it does not name;
// with others' files at sibling names, too.
fs::path MakeGame(const fs::path& scratch, bool others = false) {
    fs::path game = scratch / "game";
    for (const char* name :
         {"kept/kept.txt", "a.dat", "d/b.dat", "~vn00007.tmp", "~vb00010.tmp", "d/~vb00011.tmp"}) {
        if (!others && strchr(name, '~')) continue;
        WriteAll(game / name, std::string("old ") + name);
        OsSetFileTime((game / name).c_str(), kOldTime);
    }
    return game;
}

// Replaces both old files (the commit moves each aside and the new one over it:
// 4 moves) and adds a nested folder and three files.
std::vector<std::string> Update(const std::string& last_extra = "", const std::string& more = "") {
    std::vector<std::string> entries = {
        File("a.dat", Random(200000, 1), kNewTime), Folder("d\\"),
        File("d\\b.dat", Bytes("new b"), kNewTime + 1), Folder("n\\"), Folder("n\\m\\"),
        File("n\\m\\c.dat", Zeros(10), kNewTime + 2),
        File("z.dat", Bytes("z"), kNewTime + 3), File("y.dat", Random(300000, 2), kNewTime + 4, last_extra)};
    if (!more.empty()) entries.push_back(more);
    return entries;
}

// The copy window's pump, taking a quit message (code 7) at its pump-th call; 0: never.
bool PumpUntil(void* pumps, int* quit_code) {
    if (--*(int*)pumps != 0) return true;
    *quit_code = 7;
    return false;
}

TEST(Staged, FailureOrQuitLeavesTheFolderAsItWas) {
    // extra: for the last file; more: an entry after it; read_only: d/b.dat; linked: a folder of
    // the game that is a link to one outside; space: bytes the disk takes before it is full (-1:
    // plenty); pumps: the pump that takes a quit message; refused_move: the commit move the system
    // refuses (0: none)
    const struct { const char* title; std::string extra = "", more = ""; bool read_only = false;
                   const char* linked = nullptr; int64_t space = -1; int pumps = 0, refused_move = 0;
    } cases[] = {
        {"bad Adler-32 in the last file", "\"bad_adler\": true"},
        {"last stream cut short", "\"compressed_size\": 900"},
        {"invalid deflate data", "\"uncompressed_size\": 10, \"stream_hex\": \"789cffffffff0000\""},
        {"more than stated", "\"uncompressed_size\": 999"},
        {"a file where the game has a folder", "", File("kept", Bytes("x"))},
        {"missing parent folder", "", File("nowhere\\a", Bytes("x"))},
        // A folder entry that cannot become a folder must not pass unnoticed.
        {"folder without its parent", "", Folder("nowhere\\sub\\")},
        {"folder where a file is", "", Folder("kept\\kept.txt\\")},
        {"escaping name", "", File("d\\..\\..\\a.dat", Bytes("x"))},
        // Moved aside, a read-only file's backup could never be deleted.
        {"a read-only game file", "", "", true},
        {"a folder of the game is a link", "", "", false, "d"},
        {"a folder after one found free of links is a link", "", "", false, "n"},
        {"disk full while staging the last file", "", "", false, nullptr, 400000},
        {"a quit while the third file is written", "", "", false, nullptr, -1, 4},
        {"first commit move refused", "", "", false, nullptr, -1, 0, 1},
        {"last of the four commit moves refused", "", "", false, nullptr, -1, 0, 4},
    };
    for (const auto& c : cases) {
        ScratchFolder scratch;
        const fs::path game = MakeGame(scratch.path()), elsewhere = scratch.path() / "elsewhere";
        fs::create_directory(elsewhere);
        if (c.read_only)
            fs::permissions(game / "d" / "b.dat", fs::perms::owner_write, fs::perm_options::remove);
        if (c.linked && fs::exists(game / c.linked)) {
            fs::remove(elsewhere);
            fs::rename(game / c.linked, elsewhere);
        }
        if (c.linked) fs::create_directory_symlink(elsewhere, game / c.linked);
        auto elsewhere_before = Stamped(elsewhere), before = Stamped(game);
        ASSERT_TRUE(WritePayload(Layout(Update(c.extra, c.more)), scratch.path() / "u.exe")) << c.title;
        ExtractFaults faults = {0, c.refused_move, c.space, 0};
        int pumps = c.pumps;
        ExtractEvents events = {&pumps, nullptr, nullptr, PumpUntil, nullptr};
        StagedList staged = {};
        EXPECT_EQ(Extract(scratch.path() / "u.exe", game, kCopyPass, &events, &faults, &staged),
                  c.pumps ? kExtractQuit : kExtractFailed) << c.title;
        EXPECT_EQ(staged.quit_code, c.pumps ? 7 : 0) << c.title;
        EXPECT_EQ(Stamped(game), before) << c.title;
        EXPECT_EQ(Stamped(elsewhere), elsewhere_before) << c.title;
    }
}

// A kill at any step of a walk (each journal record, commit move and backup deleted) is repaired by the
// next run into the old version or the new one, byte for byte; others' files at sibling names are kept.
TEST(Staged, KillAtEveryStepIsRepairedToTheOldOrTheNewVersion) {
    ScratchFolder scratch;
    ASSERT_TRUE(WritePayload(Layout(Update()), scratch.path() / "u.exe"));
    ExtractFaults faults = {7, 0, -1, 0};
    fs::path reference = MakeGame(scratch.path() / "whole", true);
    auto old_version = Stamped(reference);
    StagedList staged = {};
    ASSERT_EQ(Extract(scratch.path() / "u.exe", reference, kCopyPass, nullptr, &faults, &staged), 0);
    const int steps = staged.journal.steps;
    auto new_version = Stamped(reference);
    ASSERT_GT(steps, 10);
    for (int step = 1; step <= steps; ++step) {
        fs::path game = MakeGame(scratch.path() / std::to_string(step), true);
        faults.kill_step = step;
        EXPECT_DEATH(Extract(scratch.path() / "u.exe", game, kCopyPass, nullptr, &faults), "")
            << "step " << step;
        faults.kill_step = 0;
        ASSERT_EQ(RepairInterruptedUpdate(game.c_str()), 0) << "step " << step;
        auto repaired = Stamped(game);
        EXPECT_TRUE(repaired == old_version || repaired == new_version)
            << "step " << step << ::testing::PrintToString(Listing(game));
        EXPECT_EQ(Extract(scratch.path() / "u.exe", game, kCopyPass, nullptr, &faults), 0) << "step " << step;
        EXPECT_TRUE(Stamped(game) == new_version) << "step " << step;
    }
}

// Real updates replace thousands of files in one folder, each staged and backed up at once.
TEST(Staged, FiveThousandFilesReplacedInOneFolder) {
    ScratchFolder scratch;
    fs::path game = scratch.path() / "game";
    std::vector<std::string> entries = {Folder("data\\")};
    for (int i = 0; i < 5000; ++i) {
        std::string name = "f" + std::to_string(i) + ".dat";
        WriteAll(game / "data" / name, "old");
        entries.push_back(File("data\\" + name, Bytes("new " + name), kNewTime));
    }
    ASSERT_TRUE(WritePayload(Layout(entries), scratch.path() / "u.exe"));
    ASSERT_EQ(Extract(scratch.path() / "u.exe", game), 0);
    EXPECT_EQ(Listing(game).size(), 5001u) << "a staged file or backup was left";
    EXPECT_EQ(ReadAll(game / "data" / "f4999.dat"), "new f4999.dat");
}

// A game folder swapped for a link to one outside while the copy runs: the walk goes
// on in the folder it holds.
TEST(Staged, AFolderSwappedForALinkDuringTheCopyLeadsNothingOutside) {
    ScratchFolder scratch;
    static fs::path game, outside;
    game = scratch.path() / "game";
    outside = scratch.path() / "outside";
    std::vector<std::string> entries = {Folder("data\\"), File("data\\a.bin", Random(1000, 3))};
    for (int i = 0; i < 4; ++i) {
        std::string name = "f" + std::to_string(i) + ".bin";
        WriteAll(outside / name, "outside");
        WriteAll(game / "data" / name, "old");
        entries.push_back(File("data\\" + name, Bytes("new")));
    }
    ASSERT_TRUE(WritePayload(Layout(entries), scratch.path() / "u.exe"));
    const auto outside_before = Snapshot(outside);
    ExtractEvents events = {nullptr, [](void*, const char* path, int32_t) {
                                if (!strstr(path, "f0.bin")) return;
                                fs::rename(game / "data", game / "moved");
                                fs::create_directory_symlink(outside, game / "data");
                            },
                            nullptr, nullptr, nullptr};
    EXPECT_EQ(Extract(scratch.path() / "u.exe", game, kCopyPass, &events), 0);
    EXPECT_EQ(Snapshot(outside), outside_before);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ReadAll(game / "moved" / ("f" + std::to_string(i) + ".bin")), "new") << i;
}

}  // namespace

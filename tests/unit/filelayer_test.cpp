// The managed file open.
#include "filelayer/filelayer.h"

#include "base/text.h"
#include "scratch_folder.h"

namespace {

TEST(FfNameHash, MatchesCrc32OfLowerCasedBareName) {
    EXPECT_EQ(FfNameHash("abc"), 0x352441C2u);
    // Full-width Ａ (0x82 0x60) lowers to ａ (0x82 0x81); 表's 0x5C is no separator.
    const char* const same[][2] = {
        {"Title.RCT", "title.rct"}, {"data\\title.rct", "title.rct"}, {"C:title.rct", "title.rct"},
        {"C:\\Games\\Title\\TITLE.RCT", "title.rct"}, {"d/e/title.rct", "title.rct"},
        {"\x82\x60.txt", "\x82\x81.txt"}, {"\x95\x5c_a.txt", "\x95\x5c_A.TXT"}};
    for (const auto& c : same) EXPECT_EQ(FfNameHash(c[0]), FfNameHash(c[1])) << c[0];
    EXPECT_NE(FfNameHash("abc.txt"), FfNameHash("abd.txt"));
    EXPECT_NE(FfNameHash("\x95\x5c_a.txt"), FfNameHash("_a.txt"));
}

TEST(FfIsSoundName, ExtensionInAnyAsciiCase) {
    for (const char* name : {"voice.wav", "VOICE.WAV", "bgm.Ogg", "a\\b.ogg"})
        EXPECT_TRUE(FfIsSoundName(name)) << name;
    for (const char* name : {"clip.wave", "wav", "x.ogg.txt", "dir.wav\\file", ""})
        EXPECT_FALSE(FfIsSoundName(name)) << name;
}

// A folder table knowing a.txt, a.wav, shared.txt and twice.txt (twice), and the
// archive pack.bin holding packed.txt at offset 5.
class FileLayer : public ScratchFolderTest {
   protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        FfResetLookup();
        WriteAll("pack.bin", "xxxx\nPACKED");
    }
    void TearDown() override {
        FfResetLookup();
        FfSetRetryHandler(nullptr);
        ScratchFolderTest::TearDown();
    }
    static std::string Resolve(const char* name) {
        char out[kPathCapacity];
        return Ffresolve(name, out);
    }
    const uint32_t packed_ = FfNameHash("packed.txt");
    FfFolderEntry folders_[5] = {{FfNameHash("a.txt"), "tables"}, {FfNameHash("a.wav"), "tables"},
                                 {FfNameHash("twice.txt"), "empty"}, {FfNameHash("twice.txt"), "tables"},
                                 {FfNameHash("shared.txt"), "tables"}};
    // Sorted by hash, with a neighbour on each side of the member.
    FfIndexEntry index_[3] = {{packed_ - 1, 0, 0}, {packed_, 5, 6}, {packed_ + 1, 0, 0}};
    FfSearchEntry table_ = {nullptr, 0, nullptr, folders_, 5, kFfFolderTable, nullptr};
    FfSearchEntry archive_ = {"pack.bin", 3, index_, nullptr, 0, kFfArchive, nullptr};
};

TEST_F(FileLayer, LookupOrder) {
    for (const char* path : {"a.txt", "a.wav", "only.wav", "sub/b.txt", "sub/c.wav"}) WriteAll(path, "cwd");
    for (const char* path : {"tables/a.txt", "tables/a.wav", "tables/twice.txt", "tables/shared.txt"})
        WriteAll(path, "table");
    for (const char* path : {"base/a.txt", "base/only.wav"}) WriteAll(path, "base");
    // base null: none; content null: not found; resolved: what Ffresolve gives
    const struct { const char* name; const char* base; int direct; bool with_list; const char* content;
                   const char* resolved; } cases[] = {
        // Other files: the folder first, then the list.
        {"a.txt", nullptr, 1, true, "cwd", "a.txt"},
        {"a.txt", nullptr, 0, true, "table", "tables\\a.txt"},
        // Sound files: the list first, then the folder.
        {"a.wav", nullptr, 1, true, "table", "tables\\a.wav"},
        {"only.wav", nullptr, 1, false, "cwd", "only.wav"},
        {"only.wav", nullptr, 0, false, nullptr, ""},
        // A backslash keeps the name out of the list; sound names then fail.
        {"sub\\b.txt", nullptr, 1, true, "cwd", "sub\\b.txt"},
        {"sub\\c.wav", nullptr, 1, true, nullptr, ""},
        {"tables\\shared.txt", nullptr, 0, true, nullptr, ""},
        // With a base folder the name itself is never tried.
        {"a.txt", "base\\", 1, true, "base", "base\\a.txt"},
        {"a.wav", "base\\", 1, false, nullptr, ""},
        {"only.wav", "base\\", 1, false, "base", "base\\only.wav"},
        // A failed open goes on with the next record; resolving takes the first unopened.
        {"twice.txt", "base\\", 1, true, "table", "empty\\twice.txt"},
        {"PACKED.TXT", nullptr, 0, true, "PACKED", "pack.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " base=" + (c.base ? c.base : "-") + " direct=" +
                     std::to_string(c.direct) + " list=" + std::to_string(c.with_list));
        FfResetLookup();
        ASSERT_EQ(c.base ? FfSetBaseFolder(c.base) : 0, 0);
        Ffsetdirect(c.direct);
        if (c.with_list) {
            FfAddSearchEntry(&table_);
            FfAddSearchEntry(&archive_);
        }
        EXPECT_EQ(Resolve(c.name), c.resolved);
        EXPECT_EQ(Ffexist(c.name), c.content ? 1 : 0);
        EXPECT_EQ(ReadRest(Ffopen(c.name, "rb")), c.content ? c.content : "(not opened)");
    }
}

// Kind 0 is searched through its index only when it has no folder table;
// unknown kinds are skipped, and so is an archive that is missing.
TEST_F(FileLayer, SearchEntryKinds) {
    WriteAll("tables/packed.txt", "table");
    FfFolderEntry unrelated[1] = {{0, "tables"}}, packed[1] = {{packed_, "tables"}};
    FfSearchEntry indexed = {"pack.bin", 3, index_, nullptr, 0, kFfFolderTable, nullptr};
    FfSearchEntry table_only = {"pack.bin", 3, index_, unrelated, 1, kFfFolderTable, nullptr};
    FfSearchEntry odd = {"pack.bin", 3, index_, nullptr, 0, 7, nullptr};
    FfSearchEntry missing = {"nothere.bin", 3, index_, nullptr, 0, kFfArchive, nullptr};
    FfSearchEntry table = {nullptr, 0, nullptr, packed, 1, kFfFolderTable, nullptr};
    const struct { std::vector<FfSearchEntry*> list; const char* content; } cases[] = {
        {{&indexed}, "PACKED"}, {{&table_only, &odd}, "(not opened)"}, {{&missing, &table}, "table"}};
    for (const auto& c : cases) {
        FfResetLookup();
        for (FfSearchEntry* entry : c.list) FfAddSearchEntry(entry);
        EXPECT_EQ(ReadRest(Ffopen("packed.txt", "rb")), c.content);
    }
}

// A folder is no file, whatever fopen allows; a path past the buffer is not found,
// given whole or joined from base folder and name.
TEST_F(FileLayer, FoldersAndPathsPastTheBufferAreNotFound) {
    fs::create_directory("install.env");
    Ffsetdirect(1);
    EXPECT_EQ(Ffexist("install.env"), 0);
    EXPECT_EQ(Ffexist((root_ + "/install.env").c_str()), 0);
    EXPECT_EQ(Ffopen("install.env", "rt"), nullptr);

    const std::string folder(200, 'd'), file(55, 'f');
    WriteAll(folder + "/" + file + ".txt", "long");            // 200 + 1 + 59 = 260 bytes
    WriteAll(folder + "/" + file.substr(1) + ".txt", "fits");  // 259 bytes
    EXPECT_EQ(Ffexist((folder + "\\" + file + ".txt").c_str()), 0);
    EXPECT_EQ(Ffexist((folder + "\\" + file.substr(1) + ".txt").c_str()), 1);
    ASSERT_EQ(FfSetBaseFolder((folder + "\\").c_str()), 0);
    EXPECT_EQ(Ffexist((file.substr(1) + ".txt").c_str()), 1);
    EXPECT_EQ(Ffexist((file + ".txt").c_str()), 0);
    EXPECT_EQ(FfSetBaseFolder(std::string(kPathCapacity, 'b').c_str()), -1);
}

int g_asked;

// Supplies the file after the second question; declines after the fourth.
bool SupplyFileAndRetry(const char* name) {
    EXPECT_STREQ(name, g_asked < 2 ? "late.env" : "never.env");
    if (++g_asked == 2) WriteAll("late.env", "here");
    return g_asked < 4;
}

TEST_F(FileLayer, RetryFindsAFileSuppliedMeanwhileAndADeclineGivesNothing) {
    Ffsetdirect(1);
    FfSetRetryHandler(SupplyFileAndRetry);
    g_asked = 0;
    EXPECT_EQ(ReadRest(Ffopen("late.env", "rt")), "here");
    EXPECT_EQ(g_asked, 2);
    EXPECT_EQ(Ffopen("never.env", "rt"), nullptr);
    EXPECT_EQ(g_asked, 4);
}

}  // namespace

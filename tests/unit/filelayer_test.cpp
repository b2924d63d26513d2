// The managed file open: the name hash, the sound-name rule, the order in
// which base folder, the name itself and the search list are tried, the path
// limit and the Retry/Cancel loop.
#include "filelayer/filelayer.h"

#include <gtest/gtest.h>

#include "scratch_folder.h"
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace {

TEST(FfNameHash, MatchesCrc32OfLowerCasedBareName) {
    EXPECT_EQ(FfNameHash("abc"), 0x352441C2u);
    struct Same {
        const char* a;
        const char* b;
    };
    const Same same[] = {
        {"ABC", "abc"},
        {"Title.RCT", "title.rct"},
        {"data\\title.rct", "title.rct"},
        {"C:\\Games\\Title\\TITLE.RCT", "title.rct"},
        {"d/e/title.rct", "title.rct"},
        {"C:title.rct", "title.rct"},
        // Full-width Ａ (0x82 0x60) lowers to ａ (0x82 0x81).
        {"\x82\x60.txt", "\x82\x81.txt"},
        // 表 ends in 0x5C: not a folder separator, so it stays in the name.
        {"\x95\x5c"
         "a.txt",
         "\x95\x5c"
         "A.TXT"},
    };
    for (const Same& c : same) EXPECT_EQ(FfNameHash(c.a), FfNameHash(c.b)) << c.a;
    EXPECT_NE(FfNameHash("abc.txt"), FfNameHash("abd.txt"));
    EXPECT_NE(FfNameHash("\x95\x5c"
                         "a.txt"),
              FfNameHash("a.txt"));
}

TEST(FfIsSoundName, ExtensionInAnyAsciiCase) {
    struct Case {
        const char* name;
        bool sound;
    };
    const Case cases[] = {
        {"voice.wav", true},  {"VOICE.WAV", true},      {"bgm.Ogg", true},
        {"a\\b.ogg", true},   {"clip.wave", false},     {"wav", false},
        {"x.ogg.txt", false}, {"dir.wav\\file", false}, {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(FfIsSoundName(c.name), c.sound) << c.name;
}

// A scratch folder made current for the test, with helpers to place files
// whose content names where they lie.
class FileLayer : public ScratchFolderTest {
   protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        FfResetLookup();
        FfSetRetryHandler(nullptr);
    }
    void TearDown() override {
        FfResetLookup();
        FfSetRetryHandler(nullptr);
        ScratchFolderTest::TearDown();
    }
    // Path relative to the scratch folder, with '/' between parts.
    static void Put(const std::string& path, const std::string& content) {
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            mkdir(path.substr(0, slash).c_str(), 0777);
        }
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        fwrite(content.data(), 1, content.size(), file);
        fclose(file);
    }
    static std::string ReadRest(FILE* file) {
        if (!file) return "(not opened)";
        std::string text;
        char buffer[64];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
        fclose(file);
        return text;
    }
    static std::string Resolve(const char* name) {
        char out[kPathCapacity];
        return Ffresolve(name, out);
    }
};

// Folder tables and an archive: the table of "tables/" knows a.txt, a.wav,
// shared.txt and two records for twice.txt; the archive pack.bin holds
// packed.txt at offset 5.
struct Layout {
    FfFolderEntry folders[5];
    FfIndexEntry index[3];
    FfSearchEntry table;
    FfSearchEntry archive;
};

void MakeLayout(Layout* layout) {
    layout->folders[0] = {FfNameHash("a.txt"), "tables"};
    layout->folders[1] = {FfNameHash("a.wav"), "tables"};
    layout->folders[2] = {FfNameHash("twice.txt"), "empty"};
    layout->folders[3] = {FfNameHash("twice.txt"), "tables"};
    layout->folders[4] = {FfNameHash("shared.txt"), "tables"};
    // Sorted by hash, with a neighbour on each side of the member.
    uint32_t member = FfNameHash("packed.txt");
    layout->index[0] = {member - 1, 0, 0};
    layout->index[1] = {member, 5, 6};
    layout->index[2] = {member + 1, 0, 0};
    layout->table = {nullptr, 0, nullptr, layout->folders, 5, kFfFolderTable, nullptr};
    layout->archive = {"pack.bin", 3, layout->index, nullptr, 0, kFfArchive, nullptr};
}

TEST_F(FileLayer, LookupOrder) {
    Put("a.txt", "cwd");
    Put("tables/a.txt", "table");
    Put("a.wav", "cwd");
    Put("tables/a.wav", "table");
    Put("only.wav", "cwd");
    Put("tables/twice.txt", "table");
    Put("sub/b.txt", "cwd");
    Put("sub/c.wav", "cwd");
    Put("tables/shared.txt", "table");
    Put("base/a.txt", "base");
    Put("base/only.wav", "base");
    Put("pack.bin", "xxxx\nPACKED");
    Layout layout;
    MakeLayout(&layout);

    struct Case {
        const char* name;
        const char* base;  // null: no base folder
        int direct;
        bool with_list;
        const char* content;   // null: not found
        const char* resolved;  // path Ffresolve gives
    };
    const Case cases[] = {
        // Other files: the folder first, then the list.
        {"a.txt", nullptr, 1, true, "cwd", "a.txt"},
        {"a.txt", nullptr, 0, true, "table", "tables\\a.txt"},
        {"a.txt", nullptr, 0, false, nullptr, ""},
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
        {"twice.txt", "base\\", 1, true, "table", "empty\\twice.txt"},
        {"a.wav", "base\\", 1, false, nullptr, ""},
        {"only.wav", "base\\", 1, false, "base", "base\\only.wav"},
        // A failed open of one folder record goes on with the next record;
        // resolving takes the first matching record without a trial open.
        {"twice.txt", nullptr, 1, true, "table", "empty\\twice.txt"},
        // Archive members: the stream stands at the member's offset.
        {"packed.txt", nullptr, 1, true, "PACKED", "pack.bin"},
        {"PACKED.TXT", nullptr, 0, true, "PACKED", "pack.bin"},
    };
    for (const Case& c : cases) {
        FfResetLookup();
        if (c.base) {
            ASSERT_EQ(FfSetBaseFolder(c.base), 0);
        }
        Ffsetdirect(c.direct);
        if (c.with_list) {
            FfAddSearchEntry(&layout.table);
            FfAddSearchEntry(&layout.archive);
        }
        SCOPED_TRACE(std::string(c.name) + " base=" + (c.base ? c.base : "-") + " direct=" +
                     std::to_string(c.direct) + " list=" + std::to_string(c.with_list));
        EXPECT_EQ(Resolve(c.name), c.resolved);
        EXPECT_EQ(Ffexist(c.name), c.content ? 1 : 0);
        if (c.content) {
            EXPECT_EQ(ReadRest(Ffopen(c.name, "rb")), c.content);
        }
    }
}

TEST_F(FileLayer, SearchEntryKinds) {
    Put("pack.bin", "xxxx\nPACKED");
    Put("tables/packed.txt", "table");
    Layout layout;
    MakeLayout(&layout);
    // Kind 0 without a folder table is searched through its index.
    FfSearchEntry indexed = {"pack.bin", 3, layout.index, nullptr, 0, kFfFolderTable, nullptr};
    FfAddSearchEntry(&indexed);
    EXPECT_EQ(Resolve("packed.txt"), "pack.bin");

    // Kind 0 with a folder table never consults its index, and unknown kinds
    // are skipped.
    FfResetLookup();
    FfFolderEntry none[1] = {{0, "tables"}};
    FfSearchEntry table_only = {"pack.bin", 3, layout.index, none, 1, kFfFolderTable, nullptr};
    FfSearchEntry odd = {"pack.bin", 3, layout.index, nullptr, 0, 7, nullptr};
    FfAddSearchEntry(&table_only);
    FfAddSearchEntry(&odd);
    EXPECT_EQ(Resolve("packed.txt"), "");

    // A missing archive is skipped silently and the next entry answers.
    FfResetLookup();
    FfSearchEntry missing = {"nothere.bin", 3, layout.index, nullptr, 0, kFfArchive, nullptr};
    FfAddSearchEntry(&missing);
    FfAddSearchEntry(&layout.table);
    FfFolderEntry packed[1] = {{FfNameHash("packed.txt"), "tables"}};
    layout.table.folders = packed;
    layout.table.folder_count = 1;
    EXPECT_EQ(ReadRest(Ffopen("packed.txt", "rb")), "table");
}

// A folder is not a file that can be read, whatever the system's fopen
// allows: a folder named install.env must count as missing, and the box that
// follows ends the process when it is not answered with Retry.
TEST_F(FileLayer, FolderOfTheSameNameIsNotFound) {
    mkdir("install.env", 0777);
    Ffsetdirect(1);
    EXPECT_EQ(Ffexist("install.env"), 0);
    EXPECT_EQ(Ffexist((root_ + "/install.env").c_str()), 0);
    EXPECT_EQ(Ffopen("install.env", "rt"), nullptr);
}

TEST_F(FileLayer, CandidatesPastThePathBufferAreNotFound) {
    std::string folder(200, 'd');
    std::string file(55, 'f');
    Put(folder + "/" + file + ".txt", "long");            // 200 + 1 + 59 = 260 bytes
    Put(folder + "/" + file.substr(1) + ".txt", "fits");  // 259 bytes
    Ffsetdirect(1);
    std::string too_long = folder + "\\" + file + ".txt";
    std::string fits = folder + "\\" + file.substr(1) + ".txt";
    EXPECT_EQ(Ffexist(too_long.c_str()), 0);
    EXPECT_EQ(Ffexist(fits.c_str()), 1);

    // Base folder and name that together pass the limit.
    ASSERT_EQ(FfSetBaseFolder((folder + "\\").c_str()), 0);
    EXPECT_EQ(Ffexist((file.substr(1) + ".txt").c_str()), 1);
    EXPECT_EQ(Ffexist((file + ".txt").c_str()), 0);
    EXPECT_EQ(FfSetBaseFolder(std::string(kPathCapacity, 'b').c_str()), -1);
}

std::string g_asked_for;
int g_asked;

// Supplies the file after the second question; declines after the fourth.
bool SupplyFileAndRetry(const char* name) {
    g_asked_for = name;
    if (++g_asked == 2) {
        FILE* file = fopen("late.env", "wb");
        fputs("here", file);
        fclose(file);
    }
    return g_asked < 4;
}

TEST_F(FileLayer, RetryFindsAFileSuppliedMeanwhileAndADeclineGivesNothing) {
    Ffsetdirect(1);
    FfSetRetryHandler(SupplyFileAndRetry);
    g_asked = 0;
    EXPECT_EQ(ReadRest(Ffopen("late.env", "rt")), "here");
    EXPECT_EQ(g_asked, 2);
    EXPECT_EQ(g_asked_for, "late.env");
    g_asked = 2;
    EXPECT_EQ(Ffopen("never.env", "rt"), nullptr);
    EXPECT_EQ(g_asked, 4);
}

}  // namespace

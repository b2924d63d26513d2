// Profile entries edited in place, byte for byte, as the system's profile
// calls would place them.
#include "update/profile.h"

#include <gtest/gtest.h>

#include "scratch_folder.h"

namespace {

TEST(Profile, EntriesLandWhereTheSystemPutsThem) {
    const struct {
        const char* title;
        const char* before;  // null: no file yet
        const char* section;
        const char* key;
        const char* after;
    } cases[] = {
        {"new file", nullptr, "Setup", "Path", "[Setup]\r\nPath=C:\\\x90\xaf\r\n"},
        {"key replaced, case and blanks aside", "[a]\r\nx=1\r\n[setup]\r\n  PATH = old\r\ny=2\r\n",
         "Setup", "Path", "[a]\r\nx=1\r\n[setup]\r\nPath=C:\\\x90\xaf\r\ny=2\r\n"},
        {"added after the section's last line", "[Setup]\r\nx=1\r\n\r\n[b]\r\n", "Setup", "Path",
         "[Setup]\r\nx=1\r\nPath=C:\\\x90\xaf\r\n\r\n[b]\r\n"},
        {"section added, last line unbroken", "[b]\nz=9", "Setup", "Path",
         "[b]\nz=9\r\n[Setup]\r\nPath=C:\\\x90\xaf\r\n"},
        // ]: 0x81 0x5D is a double-byte character, not the header's end.
        {"double-byte ] in a section name", "[\x81\x5d]\r\nPath=1\r\n", "\x81\x5d", "Path",
         "[\x81\x5d]\r\nPath=C:\\\x90\xaf\r\n"},
        {"a key of another section is not taken", "[b]\r\nPath=1\r\n", "Setup", "Path",
         "[b]\r\nPath=1\r\n[Setup]\r\nPath=C:\\\x90\xaf\r\n"},
        // Names given with blanks ("|" in install.env, an indented [ini]
        // line) find their lines, so a second update adds no second entry.
        {"blanks around the names given", "[Setup]\r\nPath=1\r\n", "Setup ", "\tPath",
         "[Setup]\r\n\tPath=C:\\\x90\xaf\r\n"},
    };
    for (const auto& c : cases) {
        ScratchFolder scratch;
        fs::path path = scratch.path() / "game.ini";
        if (c.before) WriteAll(path, c.before);
        // 0x90 0xAF: 星, which no single-byte code page would keep.
        EXPECT_EQ(WriteProfileEntry(path.c_str(), c.section, c.key, "C:\\\x90\xaf"), 0) << c.title;
        EXPECT_EQ(ReadAll(path), c.after) << c.title;
        EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()),
                  1)
            << c.title << ": a sibling was left";
    }
}

TEST(Profile, AFileTooLargeOrAFolderIsLeftAlone) {
    ScratchFolder scratch;
    fs::path large = scratch.path() / "large.ini";
    WriteAll(large, std::string(kProfileFileLimit + 1, 'x'));
    EXPECT_EQ(WriteProfileEntry(large.c_str(), "s", "k", "v"), -1);
    EXPECT_EQ(fs::file_size(large), (uintmax_t)kProfileFileLimit + 1);
    fs::create_directory(scratch.path() / "folder.ini");
    EXPECT_EQ(WriteProfileEntry((scratch.path() / "folder.ini").c_str(), "s", "k", "v"), -1);
    EXPECT_TRUE(fs::is_directory(scratch.path() / "folder.ini"));
}

}  // namespace

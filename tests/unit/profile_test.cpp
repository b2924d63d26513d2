// Profile entries edited in place, byte for byte where the system's calls put them.
#include "update/profile.h"

#include "scratch_folder.h"

TEST(Profile, EntriesLandWhereTheSystemPutsThem) {
    // 0x90 0xAF: 星, which no single-byte code page would keep.
    static const char kValue[] = "C:\\\x90\xaf";
    // before null: no file yet; entries it cannot hold are profile_fuzz's
    const struct { const char* title; const char* before; const char* section; const char* key;
                   const char* after; } cases[] = {
        {"new file", nullptr, "Setup", "Path", "[Setup]\r\nPath=C:\\\x90\xaf\r\n"},
        {"key replaced, case and blanks aside", "[a]\r\nx=1\r\n[setup]\r\n  PATH = old\r\ny=2\r\n", "Setup",
         "Path", "[a]\r\nx=1\r\n[setup]\r\nPath=C:\\\x90\xaf\r\ny=2\r\n"},
        {"added after the section's last line", "[Setup]\r\nx=1\r\n\r\n[b]\r\n", "Setup", "Path",
         "[Setup]\r\nx=1\r\nPath=C:\\\x90\xaf\r\n\r\n[b]\r\n"},
        {"section added, last line unbroken, the file's line end", "[b]\nz=9", "Setup", "Path",
         "[b]\nz=9\n[Setup]\nPath=C:\\\x90\xaf\n"},
        // Old Mac line ends: a lone CR ends a line.
        {"CR line ends", "[Setup]\rx=1\r[b]\rPath=2\r", "Setup", "Path",
         "[Setup]\rx=1\rPath=C:\\\x90\xaf\r[b]\rPath=2\r"},
        {"byte-order mark kept", "\xef\xbb\xbf[Setup]\r\nPath=1\r\n", "Setup", "Path",
         "\xef\xbb\xbf[Setup]\r\nPath=C:\\\x90\xaf\r\n"},
        {"byte-order mark alone", "\xef\xbb\xbf", "Setup", "Path",
         "\xef\xbb\xbf[Setup]\r\nPath=C:\\\x90\xaf\r\n"},
        // ]: 0x81 0x5D is a double-byte character, not the header's end.
        {"double-byte ] in a section name", "[\x81\x5d]\r\nPath=1\r\n", "\x81\x5d", "Path",
         "[\x81\x5d]\r\nPath=C:\\\x90\xaf\r\n"},
        {"a key of another section is not taken", "[b]\r\nPath=1\r\n", "Setup", "Path",
         "[b]\r\nPath=1\r\n[Setup]\r\nPath=C:\\\x90\xaf\r\n"},
        // Names given with blanks ("|", an indented [ini] line) find their lines.
        {"blanks around the names given", "[Setup]\r\nPath=1\r\n", "Setup ", "\tPath",
         "[Setup]\r\n\tPath=C:\\\x90\xaf\r\n"},
    };
    for (const auto& c : cases) {
        ScratchFolder scratch;
        fs::path path = scratch.path() / "game.ini";
        if (c.before) WriteAll(path, c.before);
        SCOPED_TRACE(c.title);
        EXPECT_EQ(WriteProfileEntry(path.c_str(), c.section, c.key, kValue), 0);
        EXPECT_EQ(ReadAll(path), c.after);
    }
}

// A name taken at the sibling's place is passed over; an INI that is a link, a folder
// or too large for a profile is left alone.
TEST(Profile, WhatIsNotItsOwnIsLeftAlone) {
    // taken, at the sibling's name or the INI's: "a.ini" a link to it, "" a folder,
    // null too large, else a file's bytes
    const struct { const char* title; const char* taken; bool at_sibling; int result; } cases[] = {
        {"a file at the sibling's name", "mine", true, 0},
        {"a link at the sibling's name", "a.ini", true, 0},
        {"the INI a link", "a.ini", false, -1},
        {"the INI too large", nullptr, false, -1},
        {"the INI a folder", "", false, -1},
    };
    for (const auto& c : cases) {
        ScratchFolder scratch;
        const fs::path ini = scratch.path() / "game.ini", sibling = scratch.path() / "game.ini~vn";
        WriteAll(scratch.path() / "a.ini", "[s]\r\nk=0\r\n");
        if (c.at_sibling) WriteAll(ini, "[s]\r\nk=1\r\n");
        const fs::path& taken = c.at_sibling ? sibling : ini;
        if (!c.taken) {
            WriteAll(taken, std::string(kProfileFileLimit + 1, '\n'));
        } else if (!*c.taken) {
            fs::create_directory(taken);
        } else if (strcmp(c.taken, "a.ini") == 0) {
            fs::create_symlink("a.ini", taken);
        } else {
            WriteAll(taken, c.taken);
        }
        auto expected = Snapshot(scratch.path());
        EXPECT_EQ(WriteProfileEntry(ini.c_str(), "s", "k", "2"), c.result) << c.title;
        if (c.result == 0) expected["game.ini"] = "[s]\r\nk=2\r\n";
        EXPECT_EQ(Snapshot(scratch.path()), expected) << c.title;
    }
}

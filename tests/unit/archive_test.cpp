// The archive locator, the name rules and the header walk, against archives
// written by the independent Python writer.
#include "payload/archive.h"

#include <gtest/gtest.h>
#include <string.h>

#include "payload_fixture.h"

namespace {

using namespace payload_test;

struct NameCase {
    const char* name;
    bool is_folder;
    size_t destination_length;
    bool safe;
};

TEST(Archive, NameRules) {
    const NameCase cases[] = {
        {"a.txt", false, 10, true},
        {"dir\\", true, 10, true},
        {"dir\\sub\\", true, 10, true},
        {"dir\\a.txt", false, 10, true},
        {".hidden", false, 10, true},
        {"a..b", false, 10, true},
        // 表 (0x95 0x5C) and ソ (0x83 0x5C): the second byte is no separator.
        {"\x95\x5c.txt", false, 10, true},
        {"\x95\x5c", true, 10, false},  // a folder name that only seems to end in '\'
        {"\x95\x5c\\", true, 10, true},
        {"\x83\x5c"
         "a\\b.dat",
         false, 10, true},
        {"\\a.txt", false, 10, false},
        {"\\\\server\\share\\a", false, 10, false},
        {"C:a.txt", false, 10, false},
        {"C:\\Windows\\a.dll", false, 10, false},
        {"a.txt:stream", false, 10, false},
        {"dir/a.txt", false, 10, false},
        {"/etc/passwd", false, 10, false},
        {"..\\a.txt", false, 10, false},
        {"dir\\..\\..\\a.txt", false, 10, false},
        {"dir\\..", false, 10, false},
        {"..\\", true, 10, false},
        {"...\\a.txt", false, 10, false},
        {". .\\a.txt", false, 10, false},
        {"dir\\.\\a.txt", false, 10, false},
        {"dir\\\\a.txt", false, 10, false},
        {"dir", true, 10, false},
        {"a.txt\\", false, 10, false},
        {"a\x01.txt", false, 10, false},
        {"a\x7f.txt", false, 10, false},
        {"\x95", false, 10, false},       // a lead byte without its second byte
        {"a\xff.txt", false, 10, false},  // no such byte in code page 932
        // Lengths: destination + '\' + name must fit 259 bytes, and a file's
        // folder part must leave room for the 12-byte temporary sibling.
        {"abcdefghijkl", false, 246, true},
        {"abcdefghijkl", false, 247, false},
        {"abcdefghijk", false, 246, true},
        {"abcdefghijk", false, 247, false},
        {"dir\\a", false, 242, true},
        {"dir\\a", false, 243, false},
        {"abcdefghijk\\", true, 246, true},
        {"abcdefghijk\\", true, 247, false},
    };
    for (const NameCase& c : cases) {
        const char* reason = nullptr;
        EXPECT_EQ(IsSafeEntryName(c.name, c.is_folder, c.destination_length, &reason), c.safe)
            << Hex(c.name) << " folder=" << c.is_folder << " at " << c.destination_length;
        EXPECT_EQ(reason == nullptr, c.safe) << Hex(c.name);
    }
}

struct WalkCase {
    const char* title;
    std::string layout;
    bool ok;
    const char* reason;  // part of the fault's reason
};

TEST(Archive, HeaderWalk) {
    const std::string name256(255, 'n');
    const WalkCase cases[] = {
        {"no entries", Layout({}), true, ""},
        {"folder then file", Layout({Folder("d\\"), File("d\\x.bin", Zeros(10))}), true, ""},
        {"file without folder entry", Layout({File("d\\x.bin", Zeros(10))}), true, ""},
        {"empty file", Layout({File("e.txt", Zeros(0))}), true, ""},
        {"255-byte name", Layout({File(name256, Zeros(1))}), true, ""},
        {"end marker without padding", Layout({File("a", Zeros(1))}, "\"end\": \"bare\""), false,
         "end marker"},
        {"no end marker", Layout({File("a", Zeros(1))}, "\"end\": \"none\""), false, "end marker"},
        {"bytes after the end marker", Layout({Raw(std::string(5, '\0'))}, "\"end\": \"none\""),
         false, "end marker"},
        {"data cut short", Layout({File("a", Random(1000))}, "\"cut\": 500"), false,
         "past the end"},
        {"header cut short", Layout({File("abcdefgh", Zeros(1))}, "\"end\": \"none\", \"cut\": 30"),
         false, ""},
        {"name field without terminator",
         Layout({File("a", Zeros(1), 0, "\"name_field_hex\": \"6162\"")}), false, "name field"},
        {"name field of 257 bytes",
         Layout({Raw(std::string("\x01\x01", 2) + std::string(257, 'a'))}), false, "name field"},
        {"compressed size of 2 GiB",
         Layout({File("a", Zeros(1), 0, "\"compressed_size\": 2147483648")}), false, "2 GiB"},
        {"uncompressed size of 2 GiB",
         Layout({File("a", Zeros(1), 0, "\"uncompressed_size\": 4294967294")}), false, "2 GiB"},
        {"compressed size past the end",
         Layout({File("a", Zeros(1), 0, "\"compressed_size\": 100000")}), false, "past the end"},
        {"unsafe name after good entries",
         Layout({File("good.txt", Zeros(5)), Folder("d\\"), File("d\\..\\..\\evil.dll", Zeros(5))}),
         false, "'.' or '..'"},
        {"absolute name", Layout({File("\\evil.dll", Zeros(5))}), false, "absolute"},
    };
    ScratchFolder scratch;
    int index = 0;
    for (const WalkCase& c : cases) {
        fs::path path = scratch.path() / ("walk" + std::to_string(index++) + ".exe");
        ASSERT_TRUE(WritePayload(c.layout, path)) << c.title;
        OpenedArchive opened(path);
        ASSERT_TRUE(opened.located) << c.title;
        ArchiveFault fault = {};
        int result = CheckArchive(&opened.archive, 3, &fault);
        EXPECT_EQ(result == 0, c.ok) << c.title << ": " << (fault.reason ? fault.reason : "");
        if (!c.ok && result != 0) {
            ASSERT_NE(fault.reason, nullptr) << c.title;
            EXPECT_NE(strstr(fault.reason, c.reason), nullptr) << c.title << ": " << fault.reason;
        }
        if (c.ok) {
            EXPECT_EQ(ftell(opened.stream), opened.archive.offset) << c.title;
        }
    }
}

TEST(Archive, LocatorChecksTheTrailer) {
    ScratchFolder scratch;
    struct {
        const char* title;
        std::string extra;
        bool located;
    } cases[] = {
        {"correct", "", true},
        {"offset past the end", "\"trailer\": 100000", false},
        {"offset inside the trailer", "\"trailer\": 514", false},
    };
    for (auto& c : cases) {
        fs::path path = scratch.path() / "locate.exe";
        ASSERT_TRUE(WritePayload(Layout({}, c.extra), path));
        OpenedArchive opened(path);
        EXPECT_EQ(opened.located, c.located) << c.title;
        if (c.located) {
            // An archive with no entries is its end marker and padding.
            EXPECT_EQ(opened.archive.size, 4);
            EXPECT_EQ(opened.archive.offset, 512);
        }
    }
    fs::path tiny = scratch.path() / "tiny.exe";
    WriteAll(tiny, std::string("\0\0\0\0\0\0", 6));
    EXPECT_FALSE(OpenedArchive(tiny).located);
}

TEST(Archive, CursorStepsThroughEveryEntryWithItsTime) {
    ScratchFolder scratch;
    fs::path path = scratch.path() / "visit.exe";
    ASSERT_TRUE(WritePayload(Layout({File("a.txt", Zeros(3), 132000000000000000ull), Folder("d\\"),
                                     File("d\\b", Random(200000), 7)}),
                             path));
    OpenedArchive opened(path);
    ASSERT_TRUE(opened.located);
    ArchiveCursor cursor;
    ArchiveBegin(&opened.archive, &cursor);
    PayloadEntryHeader entry;
    std::vector<std::string> seen;
    int step;
    while ((step = ArchiveNextEntry(&cursor, &entry, nullptr)) == 1) {
        seen.push_back(std::string(entry.name) + "@" + std::to_string(entry.filetime));
        // A file's stream is where the cursor leaves it: its zlib header first.
        if (!entry.is_folder) {
            EXPECT_EQ(fgetc(opened.stream), 0x78) << entry.name;
        }
    }
    EXPECT_EQ(step, 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"a.txt@132000000000000000", "d\\@0", "d\\b@7"}));
}

}  // namespace

// The archive locator, the name rules and the header walk, against archives
// written by the independent Python writer.
#include "payload/archive.h"

#include <gtest/gtest.h>
#include <string.h>

#include "payload_fixture.h"

namespace {

using namespace payload_test;

void ExpectSafe(const char* name, bool is_folder, size_t destination_length, bool safe) {
    const char* reason = nullptr;
    EXPECT_EQ(IsSafeEntryName(name, is_folder, destination_length, &reason), safe)
        << Hex(name) << " folder=" << is_folder << " at " << destination_length;
    EXPECT_EQ(reason == nullptr, safe) << Hex(name);  // every refusal says why
}

TEST(Archive, NameRules) {
    // 表 (0x95 0x5C) and ソ (0x83 0x5C): the second byte is no separator, so a
    // folder name "表" only seems to end in '\'.
    for (const char* name :
         {"a.txt", "dir\\a.txt", ".hidden", "a..b", "\x95\x5c.txt", "\x83\x5cx\\b.dat"}) {
        ExpectSafe(name, false, 10, true);
    }
    for (const char* name : {"dir\\", "dir\\sub\\", "\x95\x5c\\"}) ExpectSafe(name, true, 10, true);
    // Names Windows cannot hold, or would silently make into another name:
    // devices in any component, case and extension, the reserved characters
    // ('|' as a character of its own: ポ, 0x83 0x7C, is one character and fine),
    // a trailing dot or space.
    for (const char* name : {"CONSOLE.txt", "COM10.dat", "lptx", "aux_\\x", "conin", "CONOUT$1",
                             "\x83\x7c.txt", "a.b c"}) {
        ExpectSafe(name, false, 10, true);
    }
    for (const char* name :
         {"CON",         "con.txt",     "Nul.tar.gz", "dir\\aux\\x", "COM1",     "lpt9.log",
          "com0",        "LPT0.txt",    "conin$",     "CONOUT$.log", "AUX .txt", "a<b",
          "a>b",         "a\"b",        "a|b",        "a?b",         "a*b",      "\x83\x7c|",
          "readme.txt.", "readme.txt ", "dir.\\a",    "dir \\a",     "nul.\\x"}) {
        ExpectSafe(name, false, 10, false);
    }
    ExpectSafe("con\\", true, 10, false);
    for (const char* name : {"\x95\x5c", "..\\", "dir"}) ExpectSafe(name, true, 10, false);
    // 0x95 alone is a lead byte without its second byte; 0xFF is no byte of
    // code page 932; 0x85 0x40 has the form of a character but is none.
    for (const char* name : {"\\a.txt",
                             "\\\\server\\share\\a",
                             "C:a.txt",
                             "C:\\Windows\\a.dll",
                             "a.txt:stream",
                             "dir/a.txt",
                             "/etc/passwd",
                             "..\\a.txt",
                             "dir\\..\\..\\a.txt",
                             "dir\\..",
                             "...\\a.txt",
                             ". .\\a.txt",
                             "dir\\.\\a.txt",
                             "dir\\\\a.txt",
                             "a.txt\\",
                             "a\x01.txt",
                             "a\x7f.txt",
                             "\x95",
                             "a\xff.txt",
                             "\x85\x40.txt"}) {
        ExpectSafe(name, false, 10, false);
    }

    // Destination + '\' + name must fit 259 bytes, and a file's folder part
    // must leave room for the 12-byte temporary sibling.
    const struct {
        const char* name;
        bool is_folder;
        size_t longest_destination;
    } lengths[] = {
        {"abcdefghijkl", false, 246},
        {"abcdefghijk", false, 246},
        {"dir\\a", false, 242},
        {"abcdefghijk\\", true, 246},
    };
    for (const auto& c : lengths) {
        ExpectSafe(c.name, c.is_folder, c.longest_destination, true);
        ExpectSafe(c.name, c.is_folder, c.longest_destination + 1, false);
    }
}

TEST(Archive, HeaderWalk) {
    const std::string name256(255, 'n');
    const struct {
        const char* title;
        std::string layout;
        const char* refusal;  // part of the fault's reason; null: accepted
    } cases[] = {
        {"no entries", Layout({}), nullptr},
        {"folder then file", Layout({Folder("d\\"), File("d\\x.bin", Zeros(10))}), nullptr},
        {"file without folder entry", Layout({File("d\\x.bin", Zeros(10))}), nullptr},
        {"empty file", Layout({File("e.txt", Zeros(0))}), nullptr},
        {"255-byte name", Layout({File(name256, Zeros(1))}), nullptr},
        {"no padding", Layout({File("a", Zeros(1))}, "\"end\": \"bare\""), "end marker"},
        {"no end marker", Layout({File("a", Zeros(1))}, "\"end\": \"none\""), "end marker"},
        {"bytes after the end", Layout({Raw(std::string(5, '\0') + "\x01")}, "\"end\": \"none\""),
         "end marker"},
        {"padded to 8", Layout({File("a", Zeros(1))}, "\"end\": \"padded\""), nullptr},
        {"padded, then a byte short",
         Layout({File("a", Zeros(1))}, "\"end\": \"padded\", \"cut\": 1"), "end marker"},
        {"more than 7 bytes of padding", Layout({Raw(std::string(12, '\0'))}, "\"end\": \"none\""),
         "end marker"},
        {"data cut short", Layout({File("a", Random(1000))}, "\"cut\": 500"), "past the end"},
        {"header cut", Layout({File("abcdefgh", Zeros(1))}, "\"end\": \"none\", \"cut\": 30"), ""},
        {"name field without terminator",
         Layout({File("a", Zeros(1), 0, "\"name_field_hex\": \"6162\"")}), "name field"},
        {"name field of 257 bytes",
         Layout({Raw(std::string("\x01\x01", 2) + std::string(257, 'a'))}), "name field"},
        {"compressed size of 2 GiB",
         Layout({File("a", Zeros(1), 0, "\"compressed_size\": 2147483648")}), "2 GiB"},
        {"uncompressed size of 2 GiB",
         Layout({File("a", Zeros(1), 0, "\"uncompressed_size\": 4294967294")}), "2 GiB"},
        {"compressed size past the end",
         Layout({File("a", Zeros(1), 0, "\"compressed_size\": 100000")}), "past the end"},
        {"unsafe name after good entries",
         Layout({File("good.txt", Zeros(5)), Folder("d\\"), File("d\\..\\..\\evil.dll", Zeros(5))}),
         "'.' or '..'"},
        {"absolute name", Layout({File("\\evil.dll", Zeros(5))}), "absolute"},
        // One file on Windows: letter case (Ａ and ａ are 0x82 0x60 and
        // 0x82 0x81), one character under two codes of the NEC and IBM
        // extensions, a file named like a folder, the same name twice.
        {"names differing in case",
         Layout({File("Readme.TXT", Zeros(1)), File("readme.txt", Zeros(1))}), "same name"},
        {"full-width letters differing in case",
         Layout({File("\x82\x60.txt", Zeros(1)), File("\x82\x81.txt", Zeros(1))}), "same name"},
        {"I under NEC and IBM codes",
         Layout({File("\x87\x54.dat", Zeros(1)), File("\xfa\x4a.dat", Zeros(1))}), "same name"},
        {"small i (NEC-selected IBM) and capital I (NEC)",
         Layout({File("\xee\xef", Zeros(1)), File("\x87\x54", Zeros(1))}), "same name"},
        {"not-sign folder and a file in its twin (0x81CA, 0xFA54)",
         Layout({Folder("\x81\xca\\"), File("\xfa\x54", Zeros(1))}), "same name"},
        {"a kanji under NEC-selected and IBM codes",
         Layout({File("\xed\x40", Zeros(1)), File("\xfa\x5c", Zeros(1))}), "same name"},
        {"I and II are two names", Layout({File("\x87\x54", Zeros(1)), File("\xfa\x4b", Zeros(1))}),
         nullptr},
        {"file and folder of one name", Layout({File("data", Zeros(1)), Folder("DATA\\")}),
         "same name"},
        {"file and the folder of another",
         Layout({File("data", Zeros(1)), File("Data\\x", Zeros(1))}), "same name"},
        {"one name twice", Layout({File("a", Zeros(1)), File("a", Zeros(1))}), "same name"},
        {"a folder and what it holds",
         Layout(
             {Folder("d\\"), Folder("D\\e\\"), File("d\\E\\f", Zeros(1)), File("d\\g", Zeros(1))}),
         nullptr},
        // ソ ends in 0x5C but is no folder of "ソ\x".
        {"double-byte 0x5C is no separator",
         Layout({File("\x83\x5c", Zeros(1)), File("\x83\x5c\x83\x5c", Zeros(1))}), nullptr},
    };
    ScratchFolder scratch;
    int index = 0;
    for (const auto& c : cases) {
        fs::path path = scratch.path() / ("walk" + std::to_string(index++) + ".exe");
        ASSERT_TRUE(WritePayload(c.layout, path)) << c.title;
        OpenedArchive opened(path);
        ASSERT_TRUE(opened.located) << c.title;
        ArchiveFault fault = {};
        int result = CheckArchive(&opened.archive, 3, &fault);
        EXPECT_EQ(result == 0, !c.refusal) << c.title << ": " << (fault.reason ? fault.reason : "");
        if (c.refusal && result != 0) {
            ASSERT_NE(fault.reason, nullptr) << c.title;
            EXPECT_NE(strstr(fault.reason, c.refusal), nullptr) << c.title << ": " << fault.reason;
        }
        if (!c.refusal) {
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

// A signed updater: the certificate table follows the trailer, after the
// zero bytes that start it on a multiple of 8, and the image's security
// directory says where it starts.
TEST(Archive, SignedUpdaterKeepsItsTrailerBeforeTheCertificates) {
    ScratchFolder scratch;
    fs::path path = scratch.path() / "signed.exe";
    const std::string table(24, 'c');
    // A PE32+ header at 0x40: 16 directories, the fifth (security) 0x40 +
    // 24 + 112 + 32 bytes in.
    auto sign = [&](const std::string& unsigned_file, uint32_t magic, size_t padding,
                    uint32_t size) {
        std::string file = unsigned_file + std::string(padding, '\0') + table;
        auto put = [&file](size_t at, uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i) file[at + i] = (char)(value >> (8 * i));
        };
        put(0x3C, 0x40, 4);
        file.replace(0x40, 4, std::string("PE\0\0", 4));
        put(0x40 + 24, magic, 2);
        size_t directories = magic == 0x20B ? 0x40 + 24 + 108 : 0x40 + 24 + 92;
        put(directories, 16, 4);
        put(directories + 4 + 32, (uint32_t)(unsigned_file.size() + padding), 4);
        put(directories + 4 + 36, size, 4);
        WriteAll(path, file);
        return OpenedArchive(path);
    };
    // The writer's archive does not end on a multiple of 8; cut by one byte,
    // its end marker lacks a zero byte.
    for (int cut : {0, 1}) {
        ASSERT_TRUE(WritePayload(
            Layout({File("a.txt", Zeros(9))}, "\"cut\": " + std::to_string(cut)), path));
        const std::string unsigned_file = ReadAll(path);
        const size_t at = unsigned_file.size(), padding = 7 - (at + 7) % 8;
        ASSERT_NE(padding, 0u);
        for (uint32_t magic : {0x10B, 0x20B}) {
            for (size_t pad : {(size_t)0, padding}) {
                SCOPED_TRACE(std::to_string(cut) + " " + std::to_string(magic) + " " +
                             std::to_string(pad));
                OpenedArchive signed_file = sign(unsigned_file, magic, pad, (uint32_t)table.size());
                ASSERT_TRUE(signed_file.located);
                EXPECT_EQ(signed_file.archive.offset, 512);
                EXPECT_EQ(signed_file.archive.file_length, (int32_t)at);
                ArchiveFault fault = {};
                EXPECT_EQ(CheckArchive(&signed_file.archive, 3, &fault) == 0, cut == 0);
            }
        }
        // A table that does not end the file is no certificate table of
        // ours: the trailer is then looked for at the end, and not found.
        EXPECT_FALSE(sign(unsigned_file, 0x20B, padding, (uint32_t)table.size() - 1).located);
    }
}

}  // namespace

// Archives written by the independent Python writer; a trailer pointing past the file is archive_fuzz's.
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
    const struct { bool is_folder, safe; std::vector<const char*> names; } cases[] = {
        // 表 (0x95 0x5C) and ソ (0x83 0x5C): the second byte is no separator, so a folder name "表" only seems
        // to end in '\'. Names that only look like devices, and ポ (0x83 0x7C), whose second byte is no '|'.
        {false, true, {"a.txt", "dir\\a.txt", ".hidden", "a..b", "\x95\x5c.txt", "\x83\x5cx\\b.dat",
                       "CONSOLE.txt", "COM10.dat", "lptx", "aux_\\x", "conin", "CONOUT$1",
                       "\x83\x7c.txt", "a.b c"}},
        {true, true, {"dir\\", "dir\\sub\\", "\x95\x5c\\"}},
        // Names Windows cannot hold, or would silently make into another name: devices in any component,
        // case and extension, the reserved characters, a trailing dot or space.
        {false, false, {"CON", "con.txt", "Nul.tar.gz", "dir\\aux\\x", "COM1", "lpt9.log", "com0",
                        "LPT0.txt", "conin$", "CONOUT$.log", "AUX .txt", "a<b", "a>b", "a\"b",
                        "a|b", "a?b", "a*b", "\x83\x7c|", "readme.txt.", "readme.txt ", "dir.\\a",
                        "dir \\a", "nul.\\x"}},
        {true, false, {"con\\", "\x95\x5c", "..\\", "dir"}},
        // 0x95 alone is a lead byte without its second byte; 0xFF is no byte
        // of code page 932; 0x85 0x40 has the form of a character but is none.
        {false, false, {"\\a.txt", "\\\\server\\share\\a", "C:a.txt", "C:\\Windows\\a.dll",
                        "a.txt:stream", "dir/a.txt", "/etc/passwd", "..\\a.txt",
                        "dir\\..\\..\\a.txt", "dir\\..", "...\\a.txt", ". .\\a.txt",
                        "dir\\.\\a.txt", "dir\\\\a.txt", "a.txt\\", "a\x01.txt", "a\x7f.txt",
                        "\x95", "a\xff.txt", "\x85\x40.txt"}},
    };
    for (const auto& c : cases)
        for (const char* name : c.names) ExpectSafe(name, c.is_folder, 10, c.safe);
    // Destination + '\' + name must fit 259 bytes, and a file's folder part
    // must leave room for the 12-byte temporary sibling.
    const struct { const char* name; bool is_folder; size_t longest_destination; } lengths[] = {
        {"abcdefghijkl", false, 246},
        {"abcdefghijk", false, 246},
        {"dir\\a", false, 242},
        {"abcdefghijk\\", true, 246}};
    for (const auto& c : lengths) {
        ExpectSafe(c.name, c.is_folder, c.longest_destination, true);
        ExpectSafe(c.name, c.is_folder, c.longest_destination + 1, false);
    }
}

TEST(Archive, HeaderWalk) {
    auto one = [](const std::string& name) { return File(name, Zeros(1)); };
    auto two = [&](const std::string& a, const std::string& b) { return Layout({one(a), one(b)}); };
    auto sized = [&](const char* field) { return Layout({File("a", Zeros(1), 0, field)}); };
    const char* const none = "\"end\": \"none\"";
    // part of the fault's reason; null: accepted
    const struct { const char* title; std::string layout; const char* refusal; } cases[] = {
        {"no entries", Layout({}), nullptr},
        {"folder then file", Layout({Folder("d\\"), File("d\\x.bin", Zeros(10))}), nullptr},
        {"file without folder entry", Layout({File("d\\x.bin", Zeros(10))}), nullptr},
        {"empty file", Layout({File("e.txt", Zeros(0))}), nullptr},
        {"255-byte name", Layout({one(std::string(255, 'n'))}), nullptr},
        {"no padding", Layout({one("a")}, "\"end\": \"bare\""), "end marker"},
        {"no end marker", Layout({one("a")}, none), "end marker"},
        {"bytes after the end", Layout({Raw(std::string(5, '\0') + "\x01")}, none), "end marker"},
        {"padded to 8", Layout({one("a")}, "\"end\": \"padded\""), nullptr},
        {"padded, then a byte short", Layout({one("a")}, "\"end\": \"padded\", \"cut\": 1"), "end marker"},
        {"more than 7 bytes of padding", Layout({Raw(std::string(12, '\0'))}, none), "end marker"},
        {"data cut short", Layout({File("a", Random(1000))}, "\"cut\": 500"), "past the end"},
        {"header cut", Layout({one("abcdefgh")}, "\"end\": \"none\", \"cut\": 30"), ""},
        {"name field without terminator", sized("\"name_field_hex\": \"6162\""), "name field"},
        {"name field of 257 bytes", Layout({Raw(std::string("\x01\x01", 2) + std::string(257, 'a'))}),
         "name field"},
        {"compressed size of 2 GiB", sized("\"compressed_size\": 2147483648"), "2 GiB"},
        {"uncompressed size of 2 GiB", sized("\"uncompressed_size\": 4294967294"), "2 GiB"},
        {"compressed size past the end", sized("\"compressed_size\": 100000"), "past the end"},
        {"unsafe name after good entries",
         Layout({File("good.txt", Zeros(5)), Folder("d\\"), File("d\\..\\..\\evil.dll", Zeros(5))}),
         "'.' or '..'"},
        {"absolute name", Layout({File("\\evil.dll", Zeros(5))}), "absolute"},
        // One file on Windows: letter case (Ａ and ａ are 0x82 0x60 and 0x82 0x81), one character under two
        // codes of the NEC and IBM extensions, a file named like a folder, the same name twice.
        {"names differing in case", two("Readme.TXT", "readme.txt"), "same name"},
        {"full-width letters differing in case", two("\x82\x60.txt", "\x82\x81.txt"), "same name"},
        {"I under NEC and IBM codes", two("\x87\x54.dat", "\xfa\x4a.dat"), "same name"},
        {"small i (NEC-selected IBM) and capital I (NEC)", two("\xee\xef", "\x87\x54"), "same name"},
        {"not-sign folder and a file in its twin (0x81CA, 0xFA54)",
         Layout({Folder("\x81\xca\\"), one("\xfa\x54")}), "same name"},
        {"a kanji under NEC-selected and IBM codes", two("\xed\x40", "\xfa\x5c"), "same name"},
        {"I and II are two names", two("\x87\x54", "\xfa\x4b"), nullptr},
        {"file and folder of one name", Layout({one("data"), Folder("DATA\\")}), "same name"},
        {"file and the folder of another", two("data", "Data\\x"), "same name"},
        {"one name twice", two("a", "a"), "same name"},
        {"a folder and what it holds",
         Layout({Folder("d\\"), Folder("D\\e\\"), one("d\\E\\f"), one("d\\g")}), nullptr},
        // ソ ends in 0x5C but is no folder of "ソ\x".
        {"double-byte 0x5C is no separator", two("\x83\x5c", "\x83\x5c\x83\x5c"), nullptr},
    };
    ScratchFolder scratch;
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        fs::path path = scratch.path() / ("walk" + std::to_string(index++) + ".exe");
        ASSERT_TRUE(WritePayload(c.layout, path));
        OpenedArchive opened(path);
        ASSERT_TRUE(opened.located);
        ArchiveFault fault = {};
        int result = CheckArchive(&opened.archive, 3, &fault);
        EXPECT_EQ(result == 0, !c.refusal) << (fault.reason ? fault.reason : "");
        if (c.refusal && result != 0) {
            ASSERT_NE(fault.reason, nullptr);
            EXPECT_NE(strstr(fault.reason, c.refusal), nullptr) << fault.reason;
        }
        EXPECT_TRUE(c.refusal || ftell(opened.stream) == opened.archive.offset);
    }
}

// A signed updater: the certificate table follows the trailer, after the zero bytes that start it on a
// multiple of 8, and the image's security directory (in a PE32 or PE32+ header) says where it starts.
TEST(Archive, SignedUpdaterKeepsItsTrailerBeforeTheCertificates) {
    ScratchFolder scratch;
    const fs::path path = scratch.path() / "signed.exe";
    // The writer's archive does not end on a multiple of 8; cut by one byte,
    // its end marker lacks a zero byte.
    for (int cut : {0, 1}) {
        const std::string unsigned_layout = "\"cut\": " + std::to_string(cut);
        ASSERT_TRUE(WritePayload(Layout({File("a.txt", Zeros(9))}, unsigned_layout), path));
        const size_t at = fs::file_size(path), padding = 7 - (at + 7) % 8;
        ASSERT_NE(padding, 0u);
        auto sign = [&](uint32_t magic, size_t pad, size_t stated) {
            EXPECT_TRUE(WritePayload(Layout({File("a.txt", Zeros(9))}, unsigned_layout +
                                            ", \"sign\": {\"magic\": " + std::to_string(magic) +
                                            ", \"padding\": " + std::to_string(pad) + ", \"table\": \"" +
                                            Hex(std::string(24, 'c')) + "\", \"stated\": " +
                                            std::to_string(stated) + "}"), path));
            return OpenedArchive(path);
        };
        for (uint32_t magic : {0x10B, 0x20B}) {
            for (size_t pad : {(size_t)0, padding}) {
                SCOPED_TRACE(std::to_string(cut) + " " + std::to_string(magic) + " " + std::to_string(pad));
                OpenedArchive signed_file = sign(magic, pad, 24);
                ASSERT_TRUE(signed_file.located);
                EXPECT_EQ(signed_file.archive.offset, 512);
                EXPECT_EQ(signed_file.archive.file_length, (int32_t)at);
                ArchiveFault fault = {};
                EXPECT_EQ(CheckArchive(&signed_file.archive, 3, &fault) == 0, cut == 0);
            }
        }
        // A table that does not end the file is no certificate table of
        // ours: the trailer is then looked for at the end, and not found.
        EXPECT_FALSE(sign(0x20B, padding, 23).located);
    }
}

}  // namespace

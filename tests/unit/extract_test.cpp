// The extraction passes against the Python writer's archives (what the copy pass writes: vnpack_test).
#include "payload_fixture.h"

namespace {

using namespace payload_test;
const uint64_t kTime = 132500000000000000ull;  // 2020-11-12

TEST(Extract, SetupPassTakesTopLevelSetupFilesOnly) {
    ScratchFolder scratch;
    fs::path out = scratch.path() / "work";
    fs::create_directories(out);
    // big.dat is damaged: the pass must seek over it, not inflate it.
    ASSERT_TRUE(WritePayload(
        Layout({File("install.env", Bytes("TITLEBAR=x\r\n"), kTime), File("insttscr.rct", Zeros(100)),
                File("README.TXT", Bytes("r")), File("notes.txt.old", Bytes("n")),
                File("big.dat", Random(300000), 0, "\"bad_adler\": true"), Folder("top\\"),
                File("top\\inner.txt", Bytes("i")), Folder("top\\nested\\"),
                File("top\\nested\\deep.txt", Bytes("d"))}), scratch.path() / "u.exe"));
    std::vector<std::string> placed;
    ExtractEvents events = {&placed, nullptr, nullptr, nullptr, [](void* list, const char* path) {
                                ((std::vector<std::string>*)list)->push_back(path);
                            }};
    ASSERT_EQ(Extract(scratch.path() / "u.exe", out, kSetupPass, &events), 0);
    std::vector<std::string> written = {"README.TXT", "install.env", "insttscr.rct", "notes.txt.old"};
    EXPECT_EQ(Listing(out), written);
    for (std::string& name : written) name = out.string() + "\\" + name;
    std::sort(placed.begin(), placed.end());
    EXPECT_EQ(placed, written);
    EXPECT_EQ(ReadAll(out / "install.env"), "TITLEBAR=x\r\n");
    EXPECT_EQ(TimeOf(out / "install.env"), kTime);
}

TEST(Extract, PathLengthCountsOnlyWhereTheFileIsWritten) {
    // A game file whose path fits the target but not the longer work folder: the
    // setup pass takes the updater, a copy where it does not fit writes nothing.
    ScratchFolder scratch;
    const std::string deep = "d\\" + std::string(150, 'f');
    ASSERT_TRUE(WritePayload(
        Layout({File("install.env", Bytes("TITLEBAR=x\r\n")), Folder("d\\"), File(deep, Bytes("game data"))}),
        scratch.path() / "u.exe"));
    fs::path long_folder = scratch.path() / std::string(120, 'w');
    fs::create_directories(long_folder);
    ASSERT_GT(long_folder.string().size() + 1 + deep.size(), 259u);
    fs::path short_folder = scratch.path() / "g";
    fs::create_directories(short_folder);
    struct { fs::path destination; ExtractPass pass; int result; std::vector<std::string> listing; }
        cases[] = {
        {long_folder, kSetupPass, 0, {"install.env"}},
        {long_folder, kCopyPass, -1, {"install.env"}},  // what the setup pass left
        {short_folder, kCopyPass, 0, {"d/", "d/" + std::string(150, 'f'), "install.env"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination.string() + " pass " + std::to_string(c.pass));
        EXPECT_EQ(Extract(scratch.path() / "u.exe", c.destination, c.pass), c.result);
        EXPECT_EQ(Listing(c.destination), c.listing);
    }
}

// A stream hands on never more than its header states (64 MiB stated as 0 stops at
// once), never less, and nothing may follow its end.
TEST(Extract, StreamsInflateToExactlyTheirStatedSize) {
    const InflateResult wrong = kInflateWrongSize;
    const struct { const char* title; std::string entry; InflateResult result; uint64_t most_handed_on; }
        cases[] = {
        {"as stated", File("a", Random(300000)), kInflateOk, 300000},
        {"64 MiB stated as 0", File("a", Zeros(64 << 20), 0, "\"uncompressed_size\": 0"), wrong, 0},
        {"one block more than stated", File("a", Zeros(3 * 131072), 0, "\"uncompressed_size\": 262144"),
         wrong, 262144},
        {"one byte fewer", File("a", Random(1000), 0, "\"uncompressed_size\": 1001"), wrong, 1000},
        {"a byte after the end", File("a", Random(1000), 0, "\"after_stream_hex\": \"00\""), wrong, 1000},
        {"bad Adler-32", File("a", Random(1000), 0, "\"bad_adler\": true"), kInflateDamaged, 1000},
    };
    ScratchFolder scratch;
    std::vector<unsigned char> input(kBlockSize), output(kBlockSize);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        fs::path path = scratch.path() / "sizes.exe";
        ASSERT_TRUE(WritePayload(Layout({c.entry}), path));
        OpenedArchive opened(path);
        ArchiveCursor cursor;
        ArchiveBegin(&opened.archive, &cursor);
        PayloadEntryHeader entry;
        ASSERT_EQ(ArchiveNextEntry(&cursor, &entry, nullptr), 1);
        fseek(opened.stream, entry.data_offset, SEEK_SET);
        uint64_t handed_on = 0;
        int32_t consumed = 0;
        auto count = [](void* total, const unsigned char*, size_t length, int32_t) {
            *(uint64_t*)total += length;
            return 0;
        };
        EXPECT_EQ(InflateEntryData(opened.stream, entry.compressed_size, entry.uncompressed_size,
                                   input.data(), output.data(), count, &handed_on, &consumed), c.result);
        EXPECT_LE(handed_on, c.most_handed_on);
    }
}

TEST(Extract, NameMatchesIsCaseBlindContainment) {
    struct { const char* name; const char* pattern; bool matches; } cases[] = {
        {"install.env", "install.env", true}, {"INSTALL.ENV", "install.env", true},
        {"install.env.bak", "install.env", true}, {"notes.TXT.old", ".txt", true},
        {"readme.tx", ".txt", false}, {"\x82\x60\x82\x61.txt", "\x82\x81\x82\x82.TXT", true},  // ＡＢ against ａｂ
        // ト is 0x83 0x74: its second byte is a 't' that must not start a match.
        {"\x83\x74xt", "txt", false}, {"a\x83\x74xt", "\x83\x74xt", true},
    };
    for (auto& c : cases) EXPECT_EQ(NameMatches(c.name, c.pattern), c.matches) << Hex(c.name);
}

// Per file its path, size in blocks and every position of its bar; the payload's last.
struct FileProgress { std::string path; int32_t blocks; std::vector<int32_t> positions; };
struct CopyProgress { int32_t last_total = -1; std::vector<FileProgress> files; };

TEST(Extract, ProgressOfTheExamplePayload) {
    // A released updater's payload (653,232 bytes) rebuilt with its name lengths, sizes
    // and about its stream lengths, and a file of exactly one block: one write, no empty one.
    const std::string exe_name = "\x83\x51\x81\x5b\x83\x80\x96\x7b\x91\xcc.exe_padded_name";
    auto like = [](int size, int compressed) {
        int random = compressed * 99 / 100;  // deflate adds a little
        return "[{\"zeros\": " + std::to_string(size - random) + "}, {\"random\": " +
               std::to_string(random) + "}]";
    };
    ScratchFolder scratch;
    const fs::path updater = scratch.path() / "u.exe";
    ASSERT_TRUE(WritePayload(
        Layout({File("install.env", like(4138, 1181)), File("insttscr.rct", like(166021, 155270)),
                File("update.arc", like(199445, 171810)), File("update.txt", like(1280, 478)),
                File(exe_name, like(663552, 324325)), File("exact.bin", Zeros(131072))}), updater));
    CopyProgress seen;
    ExtractEvents events = {&seen,
                            [](void* seen, const char* path, int32_t blocks) {
                                ((CopyProgress*)seen)->files.push_back({path, blocks, {}});
                            },
                            [](void* context, int32_t file, int32_t total) {
                                CopyProgress* seen = (CopyProgress*)context;
                                seen->files.back().positions.push_back(file);
                                seen->last_total = total;
                            },
                            nullptr, nullptr};
    ASSERT_EQ(Extract(updater, scratch.path(), kCopyPass, &events), 0);
    ASSERT_EQ(seen.files.size(), 6u);
    const int32_t blocks[] = {0, 1, 1, 0, 5, 1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(seen.files[i].blocks, blocks[i]) << i;
    EXPECT_EQ(seen.files[4].positions, (std::vector<int32_t>{1, 2, 3, 4, 5, 5}));
    EXPECT_EQ(seen.files[0].positions, (std::vector<int32_t>{0}));
    EXPECT_EQ(seen.files[5].positions, (std::vector<int32_t>{1}));
    EXPECT_EQ(seen.last_total, 4);
    EXPECT_EQ(seen.files[0].path, scratch.path().string() + "\\install.env");
}

}  // namespace

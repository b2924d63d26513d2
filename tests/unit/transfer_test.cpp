// [ini] and [reg] lines: both grammars with the placeholders, the registry
// export's escapes, the 0x5C second byte, and lines too long to expand.
#include "update/transfer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int g_drive_searches;
const char* CdromRoot() {
    g_drive_searches += 1;
    return "Q:\\";
}
const TransferPlaces kPlaces = {"C:\\Games\\Title", CdromRoot};  // 14 bytes

struct LineCase {
    std::string line;
    TransferResult result;
    const char* name;
    const char* data;
};

std::string Quoted(const std::string& name, const std::string& data) {
    return "\"" + name + "\"=\"" + data + "\"";
}

void Check(const LineCase& c,
           TransferResult (*parse)(const char*, const TransferPlaces*, TransferEntry*)) {
    TransferEntry entry;
    EXPECT_EQ(parse(c.line.c_str(), &kPlaces, &entry), c.result) << c.line;
    EXPECT_STREQ(entry.name, c.name) << c.line;
    EXPECT_STREQ(entry.data, c.data) << c.line;
}

TEST(Transfer, IniLines) {
    const std::string a495(495, 'a');
    const std::string filled = a495 + "C:\\Games\\Title";
    const LineCase cases[] = {
        {"Path=REP_INSTALL", kTransferAccepted, "Path", "C:\\Games\\Title"},
        {"CD=REP_CDROMDRIVE", kTransferAccepted, "CD", "Q:\\"},
        {"Save=REP_INSTALL\\save", kTransferAccepted, "Save", "C:\\Games\\Title\\save"},
        {"B=REP_CDROMDRIVE;REP_INSTALL", kTransferAccepted, "B", "Q:\\;C:\\Games\\Title"},
        {"Two=REP_INSTALL;REP_INSTALL", kTransferAccepted, "Two", "C:\\Games\\Title;REP_INSTALL"},
        {"REP_INSTALL=x", kTransferAccepted, "C:\\Games\\Title", "x"},
        {"Drive=REP_CDROM", kTransferAccepted, "Drive", "REP_CDROM"},
        {" Key = a=b", kTransferAccepted, " Key ", " a=b"},
        {"key=", kTransferAccepted, "key", ""},
        {"=value", kTransferAccepted, "", "value"},
        // 表 (0x95 0x5C) before a placeholder; 0x83 0x52 is one character
        // whose second byte is the R of a placeholder that is not there.
        {"S=\x95\x5cREP_INSTALL", kTransferAccepted, "S",
         "\x95\x5c"
         "C:\\Games\\Title"},
        {"S=\x83REP_INSTALL", kTransferAccepted, "S", "\x83REP_INSTALL"},
        {"NoEquals REP_INSTALL", kTransferMalformed, "", ""},
        // 2 + 495 + 14 bytes fill the buffer exactly; three more do not fit,
        // whether they come before the placeholder or in the tail behind it.
        {"K=" + a495 + "REP_INSTALL", kTransferAccepted, "K", filled.c_str()},
        {"K=" + a495 + "aaaREP_INSTALL", kTransferTooLong, "", ""},
        {"K=REP_INSTALL" + a495 + "aaa", kTransferTooLong, "", ""},
    };
    for (const LineCase& c : cases) Check(c, ParseIniLine);
}

TEST(Transfer, RegLines) {
    const LineCase cases[] = {
        {Quoted("InstallDir", "REP_INSTALL"), kTransferAccepted, "InstallDir", "C:\\Games\\Title"},
        {Quoted("SaveDir", "REP_INSTALL\\\\save"), kTransferAccepted, "SaveDir",
         "C:\\Games\\Title\\save"},
        {Quoted("CD", "REP_CDROM"), kTransferAccepted, "CD", "Q:\\"},
        {Quoted("CD", "REP_CDROMDRIVE"), kTransferAccepted, "CD", "Q:\\DRIVE"},
        {Quoted("P", "REP_CDROM|REP_INSTALL|REP_INSTALL"), kTransferAccepted, "P",
         "Q:\\|C:\\Games\\Title|REP_INSTALL"},
        {Quoted("", "x"), kTransferAccepted, "", "x"},
        {Quoted("Empty", ""), kTransferAccepted, "Empty", ""},
        {"\"Open\"=\"", kTransferAccepted, "Open", ""},
        {Quoted("a\\\"b", "say \\\"hi\\\""), kTransferAccepted, "a\"b", "say \"hi\""},
        // 表 and ソ end in 0x5C, which escapes nothing; the real \\ after ソ is one.
        {Quoted("\x95\x5c", "\x83\x5c\\\\x"), kTransferAccepted, "\x95\x5c", "\x83\x5c\\x"},
        {"\"Ver\"=dword:00000001", kTransferMalformed, "", ""},
        {"[HKEY_CURRENT_USER\\Software\\Maker\\Title]", kTransferMalformed, "", ""},
        {"@=\"default\"", kTransferMalformed, "", ""},
        {"\"=\"abc\"", kTransferMalformed, "", ""},
        {Quoted("Long", std::string(490, 'a') + "REP_INSTALL"), kTransferTooLong, "", ""},
    };
    for (const LineCase& c : cases) Check(c, ParseRegLine);
}

TEST(Transfer, DriveIsSearchedOnlyForLinesThatNameIt) {
    const struct {
        const char* line;
        bool registry;
        int searches;
    } cases[] = {
        {"P=REP_INSTALL", false, 0},
        {"P=REP_CDROM", false, 0},
        {"P=REP_CDROMDRIVE REP_CDROMDRIVE", false, 1},
        {"\"P\"=\"REP_INSTALL\"", true, 0},
        {"\"P\"=\"REP_CDROM\"", true, 1},
        {"\"P\"=dword:1 REP_CDROM", true, 0},
    };
    for (const auto& c : cases) {
        g_drive_searches = 0;
        TransferEntry entry;
        c.registry ? ParseRegLine(c.line, &kPlaces, &entry)
                   : ParseIniLine(c.line, &kPlaces, &entry);
        EXPECT_EQ(g_drive_searches, c.searches) << c.line;
    }
}

TEST(Transfer, Unescape) {
    const struct {
        std::string text;
        TransferResult result;
        std::string unescaped;
    } cases[] = {
        {"a\\\\b\\\"c\\xd", kTransferAccepted, "a\\b\"cxd"},
        {"\\\\\\\\", kTransferAccepted, "\\\\"},
        {"end\\", kTransferAccepted, "end"},
        {"\x95\x5c\\\\", kTransferAccepted, "\x95\x5c\\"},
        // An escaped 表 stays whole: its 0x5C must not then escape the z.
        {"\\\x95\x5cz", kTransferAccepted, "\x95\x5cz"},
        // The limit is on the result: 519 bytes fit, 520 do not.
        {std::string(519, 'a'), kTransferAccepted, std::string(519, 'a')},
        {std::string(520, 'a'), kTransferTooLong, ""},
        {std::string(600, '\\'), kTransferAccepted, std::string(300, '\\')},
    };
    for (const auto& c : cases) {
        const char* unescaped = "unset";
        EXPECT_EQ(UnescapeRegText(c.text.c_str(), &unescaped), c.result) << c.text;
        if (c.result == kTransferAccepted)
            EXPECT_EQ(unescaped, c.unescaped) << c.text;
        else
            EXPECT_EQ(unescaped, nullptr) << c.text;
    }
}

}  // namespace

// [ini] and [reg] lines.
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

std::string Quoted(const std::string& name, const std::string& data) {
    return "\"" + name + "\"=\"" + data + "\"";
}

TEST(Transfer, Lines) {
    const std::string a495(495, 'a'), filled = a495 + "C:\\Games\\Title";
    const TransferResult ok = kTransferAccepted, bad = kTransferMalformed,
                         too_long = kTransferTooLong;
    const struct { bool registry; std::string line; TransferResult result; const char *name, *data; } cases[] = {
        {false, "Path=REP_INSTALL", ok, "Path", "C:\\Games\\Title"},
        {false, "CD=REP_CDROMDRIVE", ok, "CD", "Q:\\"},
        {false, "Save=REP_INSTALL\\save", ok, "Save", "C:\\Games\\Title\\save"},
        {false, "REP_INSTALL=REP_CDROMDRIVE|REP_INSTALL", ok, "C:\\Games\\Title", "Q:\\|REP_INSTALL"},
        {false, "D=REP_CDROM", ok, "D", "REP_CDROM"},
        {false, "P=REP_CDROMDRIVE REP_CDROMDRIVE", ok, "P", "Q:\\ REP_CDROMDRIVE"},
        {false, " Key = a=b", ok, " Key ", " a=b"},
        {false, "=", ok, "", ""},
        // 表 (0x95 0x5C) before a placeholder; 0x83 0x52 hides the R of one that is not there.
        {false, "S=\x95\\REP_INSTALL", ok, "S", "\x95\\C:\\Games\\Title"},
        {false, "S=\x83REP_INSTALL", ok, "S", "\x83REP_INSTALL"},
        {false, "NoEquals REP_INSTALL", bad, "", ""},
        // 2 + 495 + 14 bytes fill the buffer; three more behind the placeholder do not fit.
        {false, "K=" + a495 + "REP_INSTALL", ok, "K", filled.c_str()},
        {false, "K=REP_INSTALL" + a495 + "aaa", too_long, "", ""},

        {true, Quoted("In", "REP_INSTALL"), ok, "In", "C:\\Games\\Title"},
        {true, Quoted("Save", "REP_INSTALL\\\\save"), ok, "Save", "C:\\Games\\Title\\save"},
        {true, Quoted("CD", "REP_CDROM"), ok, "CD", "Q:\\"},
        {true, Quoted("CD", "REP_CDROMDRIVE|REP_INSTALL|REP_INSTALL"), ok, "CD",
         "Q:\\DRIVE|C:\\Games\\Title|REP_INSTALL"},
        {true, Quoted("", "x"), ok, "", "x"},
        {true, "\"Open\"=\"", ok, "Open", ""},
        {true, Quoted("a\\\"b", "\\\"hi\\\""), ok, "a\"b", "\"hi\""},
        // ソ (0x83 0x5C) escapes nothing; an escaped 表 stays whole and escapes no z.
        {true, Quoted("\x83\x5c", "\x83\x5c\\\\x\\\x95\x5cz"), ok, "\x83\x5c", "\x83\x5c\\x\x95\x5cz"},
        // Key lines, default values and other types have no quote, equals, quote.
        {true, "\"Ver\"=dword:00000001", bad, "", ""},
        {true, "\"P\"=dword:1 REP_CDROM", bad, "", ""},
        {true, "\"=\"abc\"", bad, "", ""},
        {true, Quoted("L", std::string(520, 'a')), too_long, "", ""},
    };
    // The drive is searched once exactly when an accepted line names its placeholder.
    for (const auto& c : cases) {
        g_drive_searches = 0;
        TransferEntry entry;
        TransferResult result = c.registry ? ParseRegLine(c.line.c_str(), &kPlaces, &entry)
                                           : ParseIniLine(c.line.c_str(), &kPlaces, &entry);
        EXPECT_EQ(result, c.result) << c.line;
        EXPECT_STREQ(entry.name, c.name) << c.line;
        EXPECT_STREQ(entry.data, c.data) << c.line;
        bool names_drive = c.line.find(c.registry ? "REP_CDROM" : "REP_CDROMDRIVE") != std::string::npos;
        EXPECT_EQ(g_drive_searches, c.result == ok && names_drive ? 1 : 0) << c.line;
    }
}

}  // namespace

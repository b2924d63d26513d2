// Locating the installed game.
#include "target/target.h"

#include <gtest/gtest.h>
#include <limits.h>

const std::string kSo = "\x83\x5c";  // ソ: its second byte is 0x5C
const std::string kLong(256, 'a');

TEST(Target, CleanChosenFolder) {
    const ChosenFolderRules plain = {0, nullptr, "P", "C:\\WINDOWS"}, no_drive = {0, 0, "P", ""},
                            make = {1, nullptr, "VELNOR_APP", "C:\\W"},
                            maker = {1, "Maker", "Game", "C:\\W"}, abc = {1, "", "ABC", "C:\\W"};
    const ChosenFolderResult ok = kChosenFolderOk, root = kChosenFolderRoot,
                             net = kChosenFolderNetwork, too_long = kChosenFolderTooLong;
    const struct { std::string entered; const ChosenFolderRules& rules; ChosenFolderResult result;
                   std::string cleaned; } cases[] = {
        {"C:", plain, root, ""}, {"", plain, root, ""},
        {"d:/games/x/", plain, ok, "d:\\games\\x"}, {"\\Games\\X", plain, ok, "C:\\Games\\X"},
        {"Games\\X", plain, ok, "C:\\Games\\X"}, {"Games\\X", no_drive, kChosenFolderNoDrive, ""},
        {"\\\\server\\share", plain, net, ""}, {"//server/share", plain, net, ""},
        {"D:\\a\\\\b", plain, net, ""}, {"C:\\\\", plain, net, ""},
        // ソ keeps its 0x5C, which is neither a separator nor half of a pair,
        {"D:\\" + kSo + "\\", plain, ok, "D:\\" + kSo},
        {"D:\\" + kSo + "\\x", plain, ok, "D:\\" + kSo + "\\x"},
        // but a real pair after it is one; so is one after 0x81 0x81 (a lead byte's value second).
        {"D:\\" + kSo + "\\\\x", plain, net, ""}, {"D:\\\x81\x81\\\\x", plain, net, ""},
        {"D:\\Games", make, ok, "D:\\Games\\VELNOR_APP"}, {"C:\\", make, ok, "C:\\VELNOR_APP"},
        {"D:\\Games\\", make, ok, "D:\\Games\\VELNOR_APP"}, {"D:X", make, ok, "D:\\X\\VELNOR_APP"},
        {"D:\\Games\\VELNOR_APP", make, ok, "D:\\Games\\VELNOR_APP"},
        {"D:\\VELNOR_APP\\s", make, ok, "D:\\VELNOR_APP\\s"}, {"", maker, ok, "C:\\Maker\\Game"},
        // Neither "Games" nor "ABC" after ア (0x83 0x41) is the product folder.
        {"D:\\Games", maker, ok, "D:\\Games\\Maker\\Game"},
        {"D:\\\x83\x41\x42\x43", abc, ok, "D:\\\x83\x41\x42\x43\\ABC"},
        // 259 bytes fit; anything longer is refused, never cut.
        {"D:" + kLong, plain, ok, "D:\\" + kLong}, {"D:" + kLong + "a", plain, too_long, ""},
        {"D:\\" + kLong, make, too_long, ""}, {"\\" + kLong + "a", plain, too_long, ""},
        {std::string(259, 'a') + "/", plain, too_long, ""},
    };
    for (const auto& c : cases) {
        char buffer[kPathCapacity + 16];  // overruns are folder_fuzz's (a block of exactly its capacity)
        memcpy(buffer, c.entered.c_str(), c.entered.size() + 1);
        EXPECT_EQ(CleanChosenFolder(buffer, c.rules), c.result) << c.entered;
        EXPECT_EQ(c.result == ok ? std::string(buffer) : "", c.cleaned) << c.entered;
    }
}

TEST(Target, JoinedPathsFitOrStayEmpty) {
    const std::string fits(kPathCapacity - 1 - strlen("C:\\Program Files\\"), 'p'), m(127, 'm');
    // expected empty: refused
    const struct { const char* windows; const char* maker; std::string product, expected; } cases[] = {
        {"C:\\WINDOWS", nullptr, "VELNOR_APP", "C:\\Program Files\\VELNOR_APP"},
        {"D:\\WINNT", "Maker", "Game", "D:\\Program Files\\Maker\\Game"},
        {"", nullptr, "Game", "Program Files\\Game"}, {"C:\\WINDOWS", "", "G", "C:\\Program Files\\G"},
        {"C:\\WINDOWS", nullptr, fits, "C:\\Program Files\\" + fits},
        {"C:\\WINDOWS", nullptr, fits + "p", ""}, {"C:\\WINDOWS", m.c_str(), m, ""},
    };
    char out[kPathCapacity];
    for (const auto& c : cases) {
        int result = DefaultTargetPath(c.windows, c.maker, c.product.c_str(), out);
        EXPECT_EQ(result, c.expected.empty() ? -1 : 0) << c.product;
        EXPECT_EQ(std::string(out), c.expected);
    }
    const std::string folder(kPathCapacity - 1 - strlen("\\game.exe"), 'f');
    EXPECT_EQ(KeyFilePath(folder.c_str(), "game.exe", out), 0);
    EXPECT_EQ(std::string(out), folder + "\\game.exe");
    EXPECT_EQ(KeyFilePath(folder.c_str(), "games.exe", out), -1);
    EXPECT_STREQ(out, "");
}

TEST(Target, RegistryTextToInt) {
    const struct { const char* text; int value; } cases[] = {
        {"1", 1}, {"1.01", 1}, {"3 and more", 3}, {"abc", 0}, {"", 0}, {" \t\n-12", -12},
        {"+7", 7}, {"- 5", 0}, {"0x10", 0}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {"99999999999999999999", INT_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(RegistryTextToInt(c.text), c.value) << c.text;
}

TEST(Target, VersionGateBoundsAreInclusive) {
    const VersionVerdict ok = kVersionAccepted, old = kVersionTooOld, done = kVersionAlreadyUpdated;
    const struct { int installed, lowest, highest; VersionVerdict verdict; } cases[] = {
        {0, 1, 1, old}, {1, 1, 1, ok}, {2, 1, 1, done},
        {99, 100, 101, old}, {100, 100, 101, ok}, {101, 100, 101, ok}, {102, 100, 101, done},
        // Bounds left out are 0: only version 0 passes, and a lowest bound
        // without a highest one lets nothing through.
        {0, 0, 0, ok}, {1, 0, 0, done}, {-1, 0, 0, old}, {0, 1, 0, old}, {1, 1, 0, done},
        {INT_MAX, 0, INT_MAX, ok}, {INT_MIN, INT_MIN, 0, ok},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VersionGate(c.installed, c.lowest, c.highest), c.verdict) << c.installed;
}

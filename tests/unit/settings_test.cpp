// The keyed settings of install.env.
#include "config/settings.h"

#include "base/text.h"
#include "scratch_folder.h"

namespace {

void Load(const std::string& content) {
    ReleaseSettings();
    FILE* file = StreamWith(content);
    ReadSettings(file);
    fclose(file);
}

std::string Get(const char* key) {
    char buffer[512];
    return GetSetting(key, buffer, sizeof buffer, "<missing>");
}

TEST(Settings, LineRules) {
    const char* const none = "<missing>";
    const struct { const char* what; std::string content; const char* expected;
                   const char* key = "INSTTO"; } cases[] = {
        {"bar and remark", "TITLEBAR\tSample|1.01\t// remark\n", "Sample 1.01", "TITLEBAR"},
        {"crlf", "INSTTO  Game\r\n", "Game"},
        {"last line without break", "INSTTO Game", "Game"},
        {"space indent", " INSTTO Game\n", none},
        {"tab indent", "\tINSTTO Game\n", none},
        {"slash comment", "/INSTTO Game\n", none, "/INSTTO"},
        {"semicolon is a key", ";INSTTO Game\n", "Game", ";INSTTO"},
        {"no value", "INSTTO\n", none},
        {"lower case key", "titlebar X\n", none, "TITLEBAR"},
        {"first key wins", "INSTTO A\nINSTTO B\n", "A"},
        {"marker stops", "[EOF] trailing\nINSTTO Game\n", none},
        {"marker after a blank", " [EOF]\nINSTTO Game\n", "Game"},
        {"marker in lower case", "[eof]\nINSTTO Game\n", "Game"},
        {"99 tabs", "INSTTO" + std::string(99, '\t') + "Game\n", "Game"},
        {"100 tabs", "INSTTO" + std::string(100, '\t') + "Game\n", none},
        {"100 tabs do not reach the next line", "INSTTO" + std::string(100, '\t') + "\nX Y\n", none},
        {"line 400 is read", std::string(399, '\n') + "INSTTO Game\n", "Game"},
        {"line 401 is not", std::string(400, '\n') + "INSTTO Game\n", none},
        // A line of 511 bytes or more arrives in pieces, each read and counted as a line.
        {"second piece", std::string(511, 'x') + "INSTTO\tGame\n", "Game"},
        {"second piece is line 401", std::string(399, '\n') + std::string(511, 'x') + "INSTTO\tGame\n", none},
        // ポ (0x83 0x7C) keeps its second byte; the real bars become spaces.
        {"double-byte 0x7C", "TITLEBAR \x83\x7c|\x83\x7c|\n", "\x83\x7c \x83\x7c ", "TITLEBAR"},
        {"only bars", "INSTTO ||\n", "  "},
    };
    for (const auto& c : cases) {
        Load(c.content);
        EXPECT_EQ(Get(c.key), c.expected) << c.what;
    }
}

TEST(Settings, Accessors) {
    Load("");
    EXPECT_STREQ(SettingText(kSettingRegGlobal), "-");
    EXPECT_EQ(SettingText(kSettingKeyFile), nullptr);
    EXPECT_EQ(SettingNumber(kSettingChkRegVerHigh), 0);
    char readme[128];
    EXPECT_STREQ(SettingTextInto(kSettingInstReadmeFl, readme, sizeof readme), "readme.txt");

    Load("KEYFILE -\nCHKREGVER abc\nCHKREGVERHIGH 12ab\nINSTMAKEFOL -3\nINSTFOL Maker\nREG_GLOBAL Corp\n");
    EXPECT_STREQ(SettingText(kSettingKeyFile), "-");       // the dash means nothing special here
    EXPECT_STREQ(SettingText(kSettingRegGlobal), "Corp");  // kept values are read anew
    EXPECT_EQ(SettingNumber(kSettingChkRegVer), 0);
    EXPECT_EQ(SettingNumber(kSettingChkRegVerHigh), 12);
    EXPECT_EQ(SettingNumber(kSettingInstMakeFol), -3);
    EXPECT_EQ(GetSettingInt("MISSING", 7), 7);

    // Two accessors used together keep their own results.
    const char* maker = SettingText(kSettingInstFol);
    const char* game = SettingText(kSettingInstTo);
    EXPECT_STREQ(maker, "Maker");
    EXPECT_STREQ(game, "VELNOR_APP");

    // Long values: 126 bytes, then a double-byte character that would end at byte 128.
    std::string value = std::string(126, 'a') + "\x82\xa0" + "tail";
    Load("INSTTO " + value + "\nINSTREADME " + std::string(600, 'r') + "\n");
    EXPECT_EQ(std::string(SettingText(kSettingInstTo)), std::string(126, 'a'));
    char large[512];
    // The value is what remains of the first 511-byte piece after "INSTREADME ".
    EXPECT_EQ(strlen(SettingTextInto(kSettingInstReadme, large, sizeof large)), 511u - 11u);
    EXPECT_EQ(GetSetting("INSTTO", large, 1, "x")[0], '\0');
}

TEST(Settings, BackslashesOfTheMutexName) {
    // A real backslash becomes ＼ (0x81 0x5F); 表 (0x95 0x5C) and ソ (0x83 0x5C) stay.
    char name[260];
    EXPECT_TRUE(CopyReplacingBackslashes(name, sizeof name, "X\\\x95\x5c\x83\x5c\\", "\x81\x5f"));
    EXPECT_STREQ(name, "X\x81\x5f\x95\x5c\x83\x5c\x81\x5f");
    // 200 backslashes double in length: cut, never overrun, never in half a character.
    EXPECT_FALSE(CopyReplacingBackslashes(name, sizeof name, std::string(200, '\\').c_str(), "\x81\x5f"));
    EXPECT_EQ(strlen(name), 258u);
    EXPECT_TRUE(IsValidCp932(name, strlen(name)));
}

}  // namespace

// vnpack lint: each small install.env must produce its findings, and must
// not produce findings for what the updater reads as intended.
#include "../../tools/vnpack/lint.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "scratch_folder.h"

namespace {

class Lint : public ScratchFolderTest {
   protected:
    static int Run(const std::string& path, std::string* output) {
        FILE* out = tmpfile();
        int status = LintInstallEnv(path.c_str(), out);
        rewind(out);
        *output = ReadRest(out);
        return status;
    }
};

TEST_F(Lint, Findings) {
    const std::string kTerminated = "[EOF]\n[ini]\nPath=REP_INSTALL\n-\n";
    const struct {
        const char* what;
        std::string content;
        const char* present;      // texts the output holds, one a line
        const char* absent = "";  // texts it must not hold
        int status = 0;
    } cases[] = {
        {"clean", "TITLEBAR\tSample|1.01\nINI_FILE a.ini\n" + kTerminated,
         "\"Sample 1.01\"  [line 1]\nPath=REP_INSTALL\n0 errors, 0 warnings",
         ": warning:\n: error:"},
        {"typo", "INSTREADMFL\tread.txt\n",
         ":1: warning: unknown key \"INSTREADMFL\" (did you mean INSTREADMEFL?)"},
        {"far from any key", "ZZZ 1\n", "unknown key \"ZZZ\": the updater never reads it",
         "did you mean"},
        {"known but unused", "INST_GROUP grp\n", "", ": warning:"},
        {"written as in an INI file", "TITLEBAR=Sample\n",
         ":1: warning: \"TITLEBAR=Sample\" is read as one word"},
        {"lower case", "titlebar Sample\n",
         ":1: warning: key \"titlebar\" is not written in capitals\nwrite TITLEBAR", "unknown key"},
        {"indented", "INSTTO A\n INSTFOL Maker\n", ":2: warning: key \"INSTFOL\" is indented"},
        {"value that needed bars", "TITLEBAR Sample Game\n",
         ":1: warning: text after the value of TITLEBAR is ignored: \"Game\"\n\"|\""},
        {"remark", "TITLEBAR Sample\t// the title\n",
         ":1: note: text after the value of TITLEBAR\n0 warnings"},
        {"after the marker", "INSTTO A\n[EOF]\nINSTFOL Maker\n",
         ":3: warning: INSTFOL comes after [EOF] on line 2"},
        {"after line 400", std::string(400, '\n') + "INSTFOL Maker\n",
         ":401: warning: INSTFOL comes after the first 400 lines"},
        {"marker variants", " [EOF]\n[eof]\n",
         ":1: warning: \"[EOF]\" is not an end marker\n:2: warning: \"[eof]\" is not"},
        {"given twice", "INSTTO A\nINSTTO B\n",
         ":2: warning: INSTTO given again: the updater keeps the value of line 1"},
        {"100 tabs", "INSTTO" + std::string(100, '\t') + "A\n",
         ":1: warning: INSTTO has its value 100 separator bytes away"},
        {"not a number", "CHKREGVER one\n", ":1: warning: CHKREGVER is not a number"},
        {"unterminated", "[EOF]\n[ini]\nA=1\n-\n[reg]\n\"a\"=\"b\"\n",
         ":5: error: section [reg] is not terminated\n1 error", "", 1},
        {"EOF inside a section", "[delfiles_afterinst]\na.txt\nEOF\n-\n",
         ":1: error: section [delfiles_afterinst] is not terminated\nbefore the EOF line on line 3",
         "", 1},
        {"ini without equals", "INI_FILE a.ini\n[EOF]\n[ini]\nPath\n-\n",
         ":4: warning: [ini] line without \"=\""},
        {"reg without quoted equals",
         "REG_GLOBAL M\n[EOF]\n[reg]\n\"a\"=dword:00000001\n\"b\"=\"c\"\n-\n",
         ":4: warning: [reg] line without", ":5: warning"},
        {"placeholders swapped",
         "INI_FILE a.ini\nREG_GLOBAL M\n[EOF]\n[ini]\nCD=REP_CDROM\n-\n[reg]\n"
         "\"CD\"=\"REP_CDROMDRIVE\"\n-\n",
         ":5: warning: [ini] lines name the drive\n:8: warning: [reg] lines name"},
        {"section given twice", "[EOF]\n[ini]\nA=1\n-\n[ini]\nB=2\n-\n",
         ":5: warning: section [ini] given again\n    6  B=2", "    3  A=1"},
        {"ini with no file", "[EOF]\n[ini]\nA=1\n-\n",
         ":2: warning: [ini] has lines but INI_FILE is not set"},
        {"saved as UTF-8", "TITLEBAR \xe3\x82\xb5\xe3\x83\xb3\n",
         ":1: warning: text looks like UTF-8", "not valid"},
        {"not code page 932", "INSTTO A\xa0\x81\n",
         ":1: warning: not valid code page 932 (Shift-JIS) text: \"INSTTO A\\xA0\\x81\""},
        {"Shift-JIS is not taken for UTF-8", "TITLEBAR \x83\x54\x83\x93\x83\x76\n", "",
         ": warning:"},
        // Section lines that the settings reader also takes for settings
        // (two tokens before [EOF]) are not unknown keys.
        {"section lines before the marker", "[delfiles_afterinst]\nold.txt\t// gone\n-\t// end\n",
         "", "unknown key"},
        {"unknown section", "[delfile]\n",
         ":1: warning: \"[delfile]\" is not a section the updater knows"},
        // ポ keeps its trail byte 0x7C in the shown value.
        {"double-byte bar", "TITLEBAR \x83\x7c|A\n", "\"\xe3\x83\x9d A\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll("install.env", c.content);
        std::string output;
        EXPECT_EQ(Run("install.env", &output), c.status) << output;
        std::istringstream present(c.present), absent(c.absent);
        for (std::string text; std::getline(present, text);) {
            EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
        }
        for (std::string text; std::getline(absent, text);) {
            EXPECT_EQ(output.find(text), std::string::npos) << text << "\n" << output;
        }
    }
}

// The template that makers start from passes cleanly. A path is shown as the
// system names it: on Linux its bytes are already UTF-8 and must not be read
// as code page 932. What cannot be read exits 2.
TEST_F(Lint, ExampleAndPaths) {
    std::string output;
    EXPECT_EQ(Run(VN_SOURCE_DIR "/examples/demo-update/install.env", &output), 0) << output;
    EXPECT_EQ(output.find(": warning:"), std::string::npos) << output;
    const std::string folder = root_ + "/\xe6\x9b\xb4\xe6\x96\xb0";  // 更新
    WriteAll(folder + "/install.env", "ZZZ 1\n");
    EXPECT_EQ(Run(folder + "/install.env", &output), 0);
    EXPECT_NE(output.find(folder + "/install.env:1: warning"), std::string::npos) << output;
    EXPECT_EQ(Run(folder + "/missing.env", &output), 2);
    EXPECT_EQ(output, folder + "/missing.env: cannot be read\n");
    EXPECT_EQ(Run(folder, &output), 2);  // a folder
}

}  // namespace

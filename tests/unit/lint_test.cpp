// vnpack lint: each small install.env's findings, and none for what the updater reads as intended.
#include "lint.h"

#include "env_text.h"
#include "rct_encode.h"
#include "config/setup_files.h"
#include "scratch_folder.h"

namespace {

std::string Picture(int32_t width, int32_t height) {
    std::vector<unsigned char> pixels(3 * width * height, 9);
    std::vector<unsigned char> rct = EncodeRctFile(pixels.data(), width, height, nullptr);
    return std::string(rct.begin(), rct.end());
}

// A scratch folder that holds a good title picture and readme.txt.
class Lint : public ScratchFolderTest {
   protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        WriteAll(kTitlePictureName, Picture(80, 1));
        WriteAll("readme.txt", "readme");
    }
    static int Run(const std::string& path, std::string* output, bool strict = false) {
        FILE* out = tmpfile();
        int status = LintInstallEnv(path.c_str(), out, out, {kLintFull, strict});
        rewind(out);
        *output = ReadRest(out);
        return status;
    }
};

TEST_F(Lint, Findings) {
    const std::string kIni = "[EOF]\n[ini]\nPath=REP_INSTALL\n-\n", kClean = ": warning:\n: error:";
    // present: texts the output holds (an error among them: exit 1), absent: texts it must not
    // hold, one a line; bytes: the title picture's ("": a good one), picture: its file (null: none)
    const struct { const char* what; std::string content; const char* present; std::string absent = "";
                   bool strict = false; std::string bytes = ""; const char* picture = kTitlePictureName;
    } cases[] = {
        {"clean", "TITLEBAR\tSample|1.01\nINI_FILE a.ini\n" + kIni,
         "\"Sample 1.01\"  [line 1]\nPath=REP_INSTALL\n0 errors, 0 warnings", kClean},
        {"typo", "INSTREADMFL\tread.txt\n",
         ":1: warning: unknown key \"INSTREADMFL\" (did you mean INSTREADMEFL?)"},
        {"far from any key", "ZZZ 1\n", "unknown key \"ZZZ\": the updater never reads it", "did you mean"},
        {"known but unused", "TITLEBAR a\nINST_GROUP grp\n", "", ": warning:"},
        {"written as in an INI file", "TITLEBAR=Sample\n",
         ":1: warning: \"TITLEBAR=Sample\" is read as one word"},
        {"lower case", "titlebar Sample\n",
         ":1: warning: key \"titlebar\" is not written in capitals\nwrite TITLEBAR", "unknown key"},
        {"indented", "INSTTO A\n INSTFOL Maker\n", ":2: warning: key \"INSTFOL\" is indented"},
        {"value that needed bars", "TITLEBAR Sample Game\n",
         ":1: warning: text after the value of TITLEBAR is ignored: \"Game\"\n\"|\""},
        {"remark", "TITLEBAR Sample\t// the title\n", ":1: note: text after the value of TITLEBAR\n0 warnings"},
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
         ":5: error: section [reg] is not terminated\n1 error"},
        {"EOF inside a section", "[delfiles_afterinst]\na.txt\nEOF\n-\n",
         ":1: error: section [delfiles_afterinst] is not terminated\nbefore the EOF line on line 3"},
        {"ini without equals", "INI_FILE a.ini\n[EOF]\n[ini]\nPath\n-\n",
         ":4: warning: [ini] line without \"=\""},
        {"reg without quoted equals", "REG_GLOBAL M\n[EOF]\n[reg]\n\"a\"=dword:00000001\n\"b\"=\"c\"\n-\n",
         ":4: warning: [reg] line without", ":5: warning"},
        {"placeholders swapped",
         "INI_FILE a.ini\nREG_GLOBAL M\n[EOF]\n[ini]\nCD=REP_CDROM\n-\n[reg]\n\"CD\"=\"REP_CDROMDRIVE\"\n-\n",
         ":5: warning: [ini] lines name the drive\n:8: warning: [reg] lines name"},
        {"section given twice", "[EOF]\n[ini]\nA=1\n-\n[ini]\nB=2\n-\n",
         ":5: warning: section [ini] given again\n    6  B=2",
         "    3  A=1"},
        {"ini entries an INI file cannot hold",
         "INI_FILE a.ini\nINI_SECTION a]b\n[EOF]\n[ini]\n [x]=1\nv=a\rb\nok=[x]\n-\n",
         ":2: error: INI_SECTION \"a]b\" has a \"]\"\n:5: error: [ini] line with a key beginning with \"[\"\n"
         ":6: error: [ini] line with a line break", ":7:"},
        {"ini with no file", "[EOF]\n[ini]\nA=1\n-\n", ":2: warning: [ini] has lines but INI_FILE is not set"},
        // UTF-8 is read as its code page 932 form, and said once for the file.
        {"saved as UTF-8", "TITLEBAR \xe3\x82\xb5\xe3\x83\xb3\nINSTTO \xe3\x82\xb5\n",
         "install.env: note: saved as UTF-8: vnpack build converts\n\"\xe3\x82\xb5\xe3\x83\xb3\"  [line 1]",
         "not valid\n:1: note\n:2: note"},
        {"UTF-8 without a code page 932 form", "TITLEBAR a\n// x\nINSTTO \xf0\x9f\x98\x80\n",
         ":3: error: saved as UTF-8, and line 3 holds \"\xf0\x9f\x98\x80\" (U+1F600)\n"
         "save the file as Shift-JIS"},
        {"empty", "", "install.env: error: no settings and no sections"},
        {"comments only", "// a\n\n", "error: no settings and no sections"},
        {"no title", "INSTTO A\n", "install.env: warning: TITLEBAR is not set"},
        {"version range empty", "TITLEBAR a\nCHKREG V\nCHKREGVER 300\nCHKREGVERHIGH 100\n",
         ":4: error: the version range CHKREGVER 300 to CHKREGVERHIGH 100 is empty"},
        {"version range open above", "TITLEBAR a\nCHKREG V\nCHKREGVER 3\n",
         ":2: warning: CHKREG is set but CHKREGVERHIGH is not"},
        {"version range of one", "TITLEBAR a\nCHKREG V\nCHKREGVER 3\nCHKREGVERHIGH 3\n", "", kClean},
        {"readme missing", "TITLEBAR a\nINSTREADME r\nINSTREADMEFL gone.txt\n",
         ":3: error: the readme \"gone.txt\" is not in the folder"},
        {"readme by default", "TITLEBAR a\nINSTREADME r\n", "", kClean},
        {"readme out of reach", "TITLEBAR a\nINSTREADMEFL doc\\a.txt\n",
         ":2: warning: the readme \"doc\\a.txt\" is not a .txt file at the top level"},
        {"strict", "TITLEBAR a b\n", ":1: error: text after the value", "", true},
        {"not code page 932", "INSTTO A\xa0\x81\n",
         ":1: warning: not valid code page 932 (Shift-JIS) text: \"INSTTO A\\xA0\\x81\""},
        // Section lines before [EOF] look like settings but are no unknown keys.
        {"section lines before the marker", "[delfiles_afterinst]\nold.txt\t// gone\n-\t// end\n", "",
         "unknown key"},
        {"unknown section", "[delfile]\n", ":1: warning: \"[delfile]\" is not a section the updater knows"},
        // ポ keeps its trail byte 0x7C in the shown value.
        {"double-byte bar", "TITLEBAR \x83\x7c|A\n", "\"\xe3\x83\x9d A\""},
        // The title picture must be at the top level and decode; one the start-up window
        // crops or shows tiny is warned about.
        {"no title picture", "TITLEBAR a\n", "install.env: error: no title picture", "", false, "", nullptr},
        {"title picture in a folder", "TITLEBAR a\n", "install.env: error: no title picture", "", false,
         "x", "sub/insttscr.rct"},
        {"title picture not RCT", "TITLEBAR a\n", "install.env: error: insttscr.rct: not an RCT picture", "",
         false, "not a picture", "INSTTSCR.RCT"},
        {"title picture PNG cut", "TITLEBAR a\n", "install.env: error: insttscr.png: ", "", false,
         "\x89PNG\r\n\x1a\n cut", "insttscr.png"},
        {"title picture large", "TITLEBAR a\n", "warning: insttscr.rct: the picture is 480 x 320: the "
         "start-up window centres it in a square of 268 x 268 pixels and crops", "", false, Picture(480, 320)},
        {"title picture tiny", "TITLEBAR a\n", "warning: insttscr.rct: the picture is only 1 x 1", "", false,
         Picture(1, 1)},
        {"title picture fits", "TITLEBAR a\n", "0 warnings", "", false, Picture(268, 40)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll("install.env", c.content);
        fs::remove(kTitlePictureName);
        if (c.picture) WriteAll(c.picture, c.bytes.empty() ? Picture(80, 1) : c.bytes);
        std::string output;
        EXPECT_EQ(Run("install.env", &output, c.strict), strstr(c.present, "error:") ? 1 : 0) << output;
        std::istringstream present(c.present), absent(c.absent);
        for (std::string text; std::getline(present, text);)
            EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
        for (std::string text; std::getline(absent, text);)
            EXPECT_EQ(output.find(text), std::string::npos) << text << "\n" << output;
        if (c.picture) fs::remove(c.picture);
    }
}

// The makers' template passes cleanly; a path is shown as the system names it (UTF-8
// here, never read as code page 932); what cannot be read exits 2.
TEST_F(Lint, ExampleAndPaths) {
    std::string output;
    EXPECT_EQ(Run(VN_SOURCE_DIR "/examples/demo-update/install.env", &output), 0) << output;
    EXPECT_EQ(output.find(": warning:"), std::string::npos) << output;
    const std::string folder = root_ + "/\xe6\x9b\xb4\xe6\x96\xb0";  // 更新
    WriteAll(folder + "/install.env", "TITLEBAR a\nZZZ 1\n");
    fs::copy(root_ + "/" + kTitlePictureName, folder + "/" + kTitlePictureName);
    EXPECT_EQ(Run(folder + "/install.env", &output), 0);
    EXPECT_NE(output.find(folder + "/install.env:2: warning"), std::string::npos) << output;
    EXPECT_EQ(Run(folder, &output), 2);  // a folder
}

// What the encoding check makes of the bytes an editor saved.
TEST(EnvText, DetectsAndConverts) {
    const struct { std::string bytes; EnvEncoding encoding; std::string cp932; int bad_line = 0;
                   std::string bad_character = ""; } cases[] = {
        {"TITLEBAR a\r\n", kEnvCp932, "TITLEBAR a\r\n"},
        {"T \x83\x54\x83\x93\r\n", kEnvCp932, "T \x83\x54\x83\x93\r\n"},  // サン in Shift-JIS
        {"T \xbb\xdd\n", kEnvCp932, "T \xbb\xdd\n"},                      // ｻﾝ, half-width
        {"T \xe3\x82\xb5\xe3\x83\xb3\r\n", kEnvUtf8, "T \x83\x54\x83\x93\r\n"},
        {"\xef\xbb\xbfT \xef\xbd\x9e\n", kEnvUtf8WithMark, "T \x81\x60\n"},  // full-width tilde
        {"\xef\xbb\xbf", kEnvUtf8WithMark, ""},
        {"a\n\xce\xb1\nb \xe2\x82\xac\xf0\x9f\x98\x80\n", kEnvUtf8, "", 3, "\xe2\x82\xac"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EnvText text;
        EXPECT_EQ(DecodeEnvText(c.bytes, &text), c.bad_line == 0);
        EXPECT_EQ(text.encoding, c.encoding);
        EXPECT_EQ(text.cp932, c.cp932);
        EXPECT_EQ(text.bad_line, c.bad_line);
        EXPECT_EQ(text.bad_character, c.bad_character);
    }
}

}  // namespace

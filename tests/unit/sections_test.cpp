// The section lists of install.env (an open section's line numbers: lint_test).
#include "config/sections.h"

#include "scratch_folder.h"

namespace {

int Read(const std::string& content, SectionParseResult* result) {
    ReleaseSectionLists();
    FILE* file = StreamWith(content);
    int status = ReadSectionLists(file, result);
    fclose(file);
    return status;
}

TEST(Sections, Lists) {
    const std::string a511(511, 'a');  // a line this long arrives in pieces
    const SectionId del = kSectionDelfiles, after = kSectionDelfilesAfterinst, ini = kSectionIni,
                    reg = kSectionReg;
    const struct { const char* what; std::string content; SectionId id; std::vector<std::string> expected; }
        cases[] = {
        {"sample layout", "TITLEBAR\tSample\n[EOF]\n[delfiles]\n-\n[delfiles_afterinst]\ninstall.env\n"
         "insttscr.rct\n-\t\t// end\n", after, {"install.env", "insttscr.rct"}},
        {"dash-only section", "[delfiles]\n-\t\t// end\n", del, {}},
        {"longer header is its own section", "[delfiles_user]\na\n-\n", del, {}},
        {"longer header is read", "[delfiles_user]\na\n-\n", kSectionDelfilesUser, {"a"}},
        {"header with a remark", "[ini]  // entries\nK=V\n-\n", ini, {"K=V"}},
        {"remark stays, trailing blanks go", "[delfiles_afterinst]\nfile.txt\t// old\n  lead  \t\r\n-\n", after,
         {"file.txt\t// old", "  lead"}},
        // Comments count at column 1 only.
        {"comments", "[delfiles]\n//x\n;x\n  //kept\n\n   \n-\n", del, {"  //kept"}},
        {"second header empties the list", "[ini]\nA=1\n-\n[ini]\nB=2\n-\n", ini, {"B=2"}},
        {"[EOF] is an item inside", "[reg]\n[EOF]\n-\n", reg, {"[EOF]"}},
        {"read after [EOF]", "[EOF]\n[reg]\n\"a\"=\"b\"\n-\n", reg, {"\"a\"=\"b\""}},
        {"EOF outside stops", "EOF\n[reg]\nx\n-\n", reg, {}},
        {"header line switches directly", "[ini]\nA=1\n[reg]\nr\n-\n", ini, {"A=1"}},
        // A double-byte line whose second byte is 0x5C keeps it.
        {"double-byte item", "[delfiles]\n\x95\x5c.txt\n-\n", del, {"\x95\x5c.txt"}},
        {"long line", "[delfiles]\n" + a511 + "bbb\n-\n", del, {a511, "bbb"}},
    };
    for (const auto& c : cases) {
        SectionParseResult result;
        EXPECT_EQ(Read(c.content, &result), 0) << c.what;
        std::vector<std::string> lines;
        for (const SectionLine* line = GetSectionList(c.id); line; line = line->next)
            lines.push_back(line->text);
        EXPECT_EQ(lines, c.expected) << c.what;
    }
}

// Both failures come back as results: the entry decides how the run ends.
TEST_F(ScratchFolderTest, SectionFileFailuresComeBackAsResults) {
    SectionId open;
    EXPECT_EQ(LoadSectionLists("install.env", &open), kSectionsOpenFailed);
    WriteAll("install.env", "[reg]\nline\n");
    EXPECT_EQ(LoadSectionLists("install.env", &open), kSectionsNotTerminated);
    EXPECT_EQ(open, kSectionReg);
    ReleaseSectionLists();
}

}  // namespace

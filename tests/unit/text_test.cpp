// Code page 932 helpers.
#include "base/text.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <string.h>
#include <wctype.h>

#include <map>
#include <set>

#include "base/bytes.h"
#include "base/platform.h"

// No read takes a byte past the cursor's end; a failed read gives 0, and the
// cursor stays failed for every later read, the reads at an offset included.
TEST(ByteCursor, ReadsStopAtTheEnd) {
    const unsigned char bytes[] = {1, 2, 3, 4, 5, 6, 7};
    const struct {
        size_t length, size;
        uint64_t value;
        uint32_t then_at_1;  // the four bytes one past the cursor after the read
    } cases[] = {{7, 2, 0x0201, 0x07060504}, {4, 4, 0x04030201, 0}, {7, 8, 0, 0}, {1, 2, 0, 0}};
    for (const auto& c : cases) {
        ByteCursor cursor = ByteCursorOver(bytes, c.length);
        EXPECT_EQ(ReadLittleEndian(&cursor, c.size), c.value) << c.length << " " << c.size;
        EXPECT_EQ(cursor.left, cursor.failed ? c.length : c.length - c.size);
        EXPECT_EQ(ReadU32At(&cursor, 1), c.then_at_1);
        EXPECT_EQ(cursor.failed, c.then_at_1 == 0);
    }
}

// 表 = 0x95 0x5C and ソ = 0x83 0x5C end in a byte that looks like a backslash.
TEST(Text, SeparatorsAndSearchesIgnoreSecondByte5C) {
    const char* const cases[][3] = {
        // path, with a separator appended, with it stripped
        {"C:\\Temp", "C:\\Temp\\", "C:\\Temp"}, {"C:\\Temp\\", "C:\\Temp\\", "C:\\Temp"},
        {"", "\\", ""}, {"C:\\\x95\x5c", "C:\\\x95\x5c\\", "C:\\\x95\x5c"},
        {"\x83\x5c", "\x83\x5c\\", "\x83\x5c"}, {"\x83\x5c\\", "\x83\x5c\\", "\x83\x5c"},
        // 0x81 0x81's second byte has a lead byte's value: the 0x5C after it is real.
        {"\x81\x81\\", "\x81\x81\\", "\x81\x81"},
    };
    for (const auto& c : cases) {
        char buffer[kPathCapacity];
        EXPECT_STREQ(AppendSeparator(strcpy(buffer, c[0])), c[1]) << c[0];
        EXPECT_STREQ(StripSeparator(strcpy(buffer, c[0])), c[2]) << c[0];
    }
    char full[8] = "abcdefg";  // 7 bytes and the terminator: no room to append
    EXPECT_STREQ(AppendSeparator(full, sizeof full), "abcdefg");

    const char* s = "\x83\x5c\\z\x95\x5c";  // ソ, a real backslash, z, 表
    EXPECT_EQ(FindChar(s, '\\'), s + 2);
    EXPECT_EQ(FindLastChar(s, '\\'), s + 2);
    EXPECT_EQ(FindText(s, "\\z"), s + 2);
    EXPECT_EQ(FindText(s, "\x5c\x5c"), nullptr);
}

TEST(Text, LowerCaseCoversLatinGreekCyrillic) {
    const char* const cases[][2] = {
        {"ABC.TXT", "abc.txt"},
        {"\x82\x60\x82\x79", "\x82\x81\x82\x9a"},                                  // Ａ Ｚ
        {"\x83\x9f\x83\xb6", "\x83\xbf\x83\xd6"},                                  // Α Ω
        {"\x84\x40\x84\x4e\x84\x4f\x84\x60", "\x84\x70\x84\x7e\x84\x80\x84\x91"},  // А О П Я
        {"\x83\x5cZ", "\x83\x5cz"},  // ソ stays, Z after it is lowered
        {"\x82\xa0", "\x82\xa0"},    // あ has no case
    };
    for (const auto& c : cases) {
        char buffer[64];
        LowerCaseCp932(strcpy(buffer, c[0]));
        EXPECT_STREQ(buffer, c[1]) << c[0];
    }
}

// Copying, appending, formatting and CR LF expansion never cut a character in half.
TEST(Text, CutsAtCharacterBoundaries) {
    char buffer[32];
    EXPECT_FALSE(CopyText(buffer, 4, "a\x95\x5c\x95\x5c"));
    EXPECT_STREQ(buffer, "a\x95\x5c");
    EXPECT_FALSE(CopyText(buffer, 4, "ab\x95\x5c"));
    EXPECT_STREQ(buffer, "ab");
    EXPECT_TRUE(CopyText(buffer, 4, "abc"));
    char joined[6] = "ab";
    EXPECT_FALSE(AppendText(joined, sizeof joined, "cd\x95\x5c"));
    EXPECT_STREQ(joined, "abcd");
    const struct { size_t capacity; const char* argument; const char* expected; } formatted[] = {
        {16, "abc", "[abc]"}, {6, "\x95\x5c\x95\x5c", "[\x95\x5c\x95\x5c"},  // exactly full
        {5, "\x95\x5c\x95\x5c", "[\x95\x5c"}, {2, "\x95\x5c", "["}};
    // A break that does not fit is left out whole; CR LF stays as it is.
    const struct { const char* text; size_t capacity; const char* expected; } expanded[] = {
        {"a\nb", 16, "a\r\nb"}, {"a\r\nb", 16, "a\r\nb"}, {"\n\n", 16, "\r\n\r\n"}, {"ab\ncd", 4, "ab"},
        {"\x83\x5c\n", 8, "\x83\x5c\r\n"}};
    for (const auto& c : formatted) {
        FormatText(buffer, c.capacity, "[%s]", c.argument);
        EXPECT_STREQ(buffer, c.expected) << c.capacity;
    }
    for (const auto& c : expanded) {
        ExpandLineBreaks(c.text, buffer, c.capacity);
        EXPECT_STREQ(buffer, c.expected) << c.text;
    }
}

TEST(Text, WildcardsAndValidity) {
    const struct { const char* pattern; const char* name; bool match; } cases[] = {
        {"*.*", "readme", true}, {"*.*", "a.b.c", true}, {"*.txt", "A.TXT", true},
        {"*.txt", "a.txt.bak", false}, {"?.dat", "ab.dat", false}, {"a?c", "abc", true}, {"*", ".", true},
        {"save*.sav", "save01.sav", true}, {"\x95\x5c*", "\x95\x5c.txt", true}};
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
    EXPECT_TRUE(IsValidCp932("abc\x95\x5c\xb1", 6));
    EXPECT_FALSE(IsValidCp932("\x95", 1));      // lead byte at the end
    EXPECT_FALSE(IsValidCp932("\x95\x20", 2));  // bad second byte
    EXPECT_FALSE(IsValidCp932("\xff", 1));
}

// Every double-byte code against glibc: valid exactly when iconv converts it, and
// two codes fold alike exactly when towupper (C.UTF-8, simple as NTFS's) maps them alike.
TEST(Text, DoubleByteCodesAgreeWithGlibc) {
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    ASSERT_NE(utf8, (locale_t)0);
    std::map<wint_t, std::string> folded_of_upper;
    std::set<std::string> folded_codes;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        for (int trail = 0x40; trail <= 0xFC && IsLeadByte((unsigned char)lead); ++trail) {
            if (trail == 0x7F) continue;
            char code[3] = {(char)lead, (char)trail, 0}, text[8];
            bool converts = OsCp932ToUtf8(code, text, sizeof text);
            ASSERT_EQ(IsValidCp932(code, 2), converts) << std::hex << lead << " " << trail;
            if (!converts) continue;
            // Two or three bytes of UTF-8: no double-byte code is ASCII.
            const unsigned char* u = (const unsigned char*)text;
            wint_t character = u[0] < 0xE0
                                   ? (u[0] & 0x1Fu) << 6 | (u[1] & 0x3Fu)
                                   : (u[0] & 0x0Fu) << 12 | (u[1] & 0x3Fu) << 6 | (u[2] & 0x3Fu);
            FoldNameCp932(code);
            auto [first, fresh] = folded_of_upper.emplace(towupper_l(character, utf8), code);
            EXPECT_EQ(first->second, code) << std::hex << lead << " " << trail;
            EXPECT_TRUE(!fresh || folded_codes.insert(code).second) << std::hex << lead << " " << trail;
        }
    }
    freelocale(utf8);
    char ascii[] = "Readme-Z.txt";
    FoldNameCp932(ascii);
    EXPECT_STREQ(ascii, "README-Z.TXT");
}

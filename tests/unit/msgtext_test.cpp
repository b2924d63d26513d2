// Texts of the message boxes: cut at a character boundary when too long, and
// line breaks as CR LF for the clipboard.
#include <gtest/gtest.h>

#include <string>

#include "ui/msgbox.h"

namespace {

TEST(BoxText, FormattedTextIsCutAtCharacterBoundary) {
    struct {
        size_t capacity;
        const char* argument;
        const char* expected;
    } cases[] = {
        {16, "abc", "[abc]"},
        {6, "\x95\x5c\x95\x5c", "[\x95\x5c\x95\x5c"},  // exactly full
        {5, "\x95\x5c\x95\x5c", "[\x95\x5c"},          // never half of 表
        {2, "\x95\x5c", "["},
    };
    for (const auto& c : cases) {
        char buffer[32];
        FormatText(buffer, c.capacity, "[%s]", c.argument);
        EXPECT_STREQ(buffer, c.expected) << c.capacity;
    }
}

TEST(BoxText, LineBreaksBecomeCrLf) {
    struct {
        const char* text;
        size_t capacity;
        const char* expected;
    } cases[] = {
        {"a\nb", 16, "a\r\nb"},
        {"a\r\nb", 16, "a\r\nb"},     // already CR LF: unchanged
        {"\n\n", 16, "\r\n\r\n"},
        {"ab\ncd", 4, "ab"},          // a break that does not fit is left out whole
        {"\x83\x5c\n", 8, "\x83\x5c\r\n"},
    };
    for (const auto& c : cases) {
        char buffer[32];
        ExpandLineBreaks(c.text, buffer, c.capacity);
        EXPECT_STREQ(buffer, c.expected) << c.text;
    }
}

}  // namespace

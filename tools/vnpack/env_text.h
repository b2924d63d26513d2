// The bytes of install.env as a maker's editor saved them: code page 932 as
// the updater reads it, or UTF-8 (with or without a byte-order mark), which
// vnpack turns into code page 932 before the updater ever sees it.
#pragma once

#include <string>

enum EnvEncoding { kEnvCp932, kEnvUtf8, kEnvUtf8WithMark };

struct EnvText {
    EnvEncoding encoding = kEnvCp932;
    std::string cp932;  // the text as the updater must read it
    // UTF-8 text with a character that code page 932 lacks: its line (from
    // 1) and the character; cp932 is then empty.
    int bad_line = 0;
    std::string bad_character;
};

// Decides the encoding of bytes and converts UTF-8 to code page 932. False
// when a UTF-8 character has no code page 932 form (named in *text).
bool DecodeEnvText(const std::string& bytes, EnvText* text);

// True for text with bytes above 0x7F that are all well-formed UTF-8.
bool LooksLikeUtf8(const std::string& text);

// The one line that tells the maker what became of a UTF-8 file, or what to
// do about it; empty for code page 932.
std::string DescribeEnvEncoding(const EnvText& text);

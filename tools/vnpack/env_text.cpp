// Encoding detection and conversion of install.env for vnpack build and lint.
#include "env_text.h"

#include <stdio.h>

#include <vector>

#include "base/platform.h"

namespace {

// Length of the UTF-8 sequence that starts with lead, 0 for a byte that
// cannot start one.
size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool ConvertLine(const std::string& utf8, std::string* cp932) {
    // Code page 932 never takes more bytes than UTF-8 for the same character.
    std::vector<char> buffer(utf8.size() + 1);
    if (!OsUtf8ToCp932(utf8.c_str(), buffer.data(), buffer.size())) return false;
    cp932->append(buffer.data());
    return true;
}

// The first character of a line that has no code page 932 form.
std::string FirstUnconvertible(const std::string& line) {
    std::string ignored;
    for (size_t i = 0; i < line.size();) {
        size_t length = Utf8SequenceLength((unsigned char)line[i]);
        std::string character = line.substr(i, length ? length : 1);
        if (!ConvertLine(character, &ignored)) return character;
        i += character.size();
    }
    return line;
}

}  // namespace

// Shift-JIS text almost never passes: its lead bytes 0x81..0x9F are UTF-8
// continuation bytes. The reverse does not hold (a line of UTF-8 Japanese
// often passes as code page 932), so UTF-8 is what is tested for.
bool LooksLikeUtf8(const std::string& text) {
    bool multibyte = false;
    const unsigned char* p = (const unsigned char*)text.data();
    size_t size = text.size();
    for (size_t i = 0; i < size;) {
        size_t length = Utf8SequenceLength(p[i]);
        if (length == 0 || length > size - i) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
        }
        multibyte |= length > 1;
        i += length;
    }
    return multibyte;
}

bool DecodeEnvText(const std::string& bytes, EnvText* text) {
    *text = EnvText();
    std::string body = bytes;
    if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text->encoding = kEnvUtf8WithMark;
        body.erase(0, 3);
    } else if (LooksLikeUtf8(body)) {
        text->encoding = kEnvUtf8;
    } else {
        text->cp932 = bytes;
        return true;
    }
    // Line by line, so that a refusal can name its line; the line breaks are
    // ASCII and pass unchanged.
    int line = 1;
    for (size_t start = 0; start < body.size(); ++line) {
        size_t end = body.find('\n', start);
        end = end == std::string::npos ? body.size() : end + 1;
        std::string piece = body.substr(start, end - start);
        if (piece.find('\0') != std::string::npos || !ConvertLine(piece, &text->cp932)) {
            text->cp932.clear();
            text->bad_line = line;
            text->bad_character = FirstUnconvertible(piece);
            return false;
        }
        start = end;
    }
    return true;
}

std::string DescribeEnvEncoding(const EnvText& text) {
    if (text.encoding == kEnvCp932) return "";
    std::string saved = text.encoding == kEnvUtf8WithMark ? "saved as UTF-8 with a byte-order mark"
                                                          : "saved as UTF-8";
    if (text.bad_line == 0)
        return saved +
               ": vnpack build converts it to code page 932 (Shift-JIS), which the "
               "updater reads";
    char code[16] = "";
    // The code point, so that an invisible or look-alike character can be found.
    unsigned long point = 0;
    const unsigned char* p = (const unsigned char*)text.bad_character.data();
    size_t length = text.bad_character.size();
    if (length >= 1) {
        point = length == 1 ? p[0] : p[0] & (0x7F >> length);
        for (size_t i = 1; i < length; ++i) point = (point << 6) | (p[i] & 0x3F);
    }
    snprintf(code, sizeof code, "U+%04lX", point);
    return saved + ", and line " + std::to_string(text.bad_line) + " holds \"" +
           text.bad_character + "\" (" + code +
           "), which code page 932 (Shift-JIS) cannot represent: replace it, or save the file "
           "as Shift-JIS";
}

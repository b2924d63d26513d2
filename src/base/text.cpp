// Code page 932 byte-string helpers (see text.h).
#include "base/text.h"

#include <stdio.h>
#include <limits.h>
#include <string.h>

#include "cp932_tables.h"

bool IsLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

size_t CharLength(const char* text) {
    if (IsLeadByte((unsigned char)text[0]) && text[1] != '\0') return 2;
    return 1;
}

// True when the last byte of text[0..length) is a real backslash, that is one
// that is not the second byte of a double-byte character. The lead-byte state
// has to be found by walking from the start: looking only at the byte before
// would misread a run of double-byte characters.
static bool EndsWithSeparator(const char* text, size_t length) {
    if (length == 0) return false;
    size_t i = 0;
    size_t last = 0;
    while (i < length) {
        last = i;
        i += CharLength(text + i);
    }
    return last == length - 1 && text[last] == '\\';
}

char* AppendSeparator(char* path, size_t capacity) {
    size_t length = strlen(path);
    if (EndsWithSeparator(path, length)) return path;
    if (length + 2 > capacity) return path;
    path[length] = '\\';
    path[length + 1] = '\0';
    return path;
}

char* StripSeparator(char* path) {
    size_t length = strlen(path);
    if (EndsWithSeparator(path, length)) path[length - 1] = '\0';
    return path;
}

const char* FindChar(const char* text, char wanted) {
    for (const char* p = text; *p; p += CharLength(p)) {
        if (*p == wanted) return p;
    }
    return wanted == '\0' ? text + strlen(text) : nullptr;
}

const char* FindLastChar(const char* text, char wanted) {
    const char* found = nullptr;
    for (const char* p = text; *p; p += CharLength(p)) {
        if (*p == wanted) found = p;
    }
    return found;
}

const char* FindText(const char* text, const char* wanted) {
    size_t wanted_length = strlen(wanted);
    if (wanted_length == 0) return text;
    for (const char* p = text; *p; p += CharLength(p)) {
        if (strncmp(p, wanted, wanted_length) == 0) return p;
    }
    return nullptr;
}

bool StartsWith(const char* text, const char* prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Maps a double-byte capital to its small form, or returns 0 when the
// character has no lower-case form. Full-width Latin: Ａ..Ｚ 0x8260..0x8279 to
// ａ..ｚ 0x8281..0x829A. Greek: Α..Ω 0x839F..0x83B6 to α..ω 0x83BF..0x83D6.
// Cyrillic: А..Я 0x8440..0x8460 to а..я 0x8470..0x8491, where the small
// letters skip 0x847F (not a valid trail byte).
static unsigned LowerDoubleByte(unsigned code) {
    if (code >= 0x8260 && code <= 0x8279) return code + 0x21;
    if (code >= 0x839F && code <= 0x83B6) return code + 0x20;
    if (code >= 0x8440 && code <= 0x8460) {
        unsigned small = code + 0x30;
        if (small >= 0x847F) small += 1;
        return small;
    }
    return 0;
}

void LowerCaseCp932(char* text) {
    unsigned char* p = (unsigned char*)text;
    while (*p) {
        if (IsLeadByte(*p) && p[1] != 0) {
            unsigned lower = LowerDoubleByte((unsigned)p[0] << 8 | p[1]);
            if (lower != 0) {
                p[0] = (unsigned char)(lower >> 8);
                p[1] = (unsigned char)lower;
            }
            p += 2;
            continue;
        }
        if (*p >= 'A' && *p <= 'Z') *p = (unsigned char)(*p + ('a' - 'A'));
        p += 1;
    }
}

// A double-byte code by its position among all lead and trail byte pairs, the
// numbering of the generated tables: 60 lead bytes of 188 trail bytes each.
static unsigned DoubleByteIndex(unsigned char lead, unsigned char trail) {
    unsigned row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31;
    unsigned column = trail <= 0x7E ? trail - 0x40u : trail - 0x41u;
    return row * 188 + column;
}

static bool IsDefinedDoubleByte(unsigned index) {
    for (const auto& range : kCp932Unassigned) {
        if (index < range[0]) break;
        if (index < range[1]) return false;
    }
    return true;
}

void FoldNameCp932(char* text) {
    unsigned char* p = (unsigned char*)text;
    while (*p) {
        if (IsLeadByte(*p) && p[1] != 0) {
            unsigned index = DoubleByteIndex(p[0], p[1]);
            for (const auto& run : kCp932Folds) {
                if (index < run[0]) break;
                if (index >= run[0] + run[2]) continue;
                unsigned folded = run[1] + (index - run[0]);
                unsigned row = folded / 188, column = folded % 188;
                p[0] = (unsigned char)(row < 31 ? 0x81 + row : 0xE0 + row - 31);
                p[1] = (unsigned char)(column < 63 ? 0x40 + column : 0x41 + column);
                break;
            }
            p += 2;
            continue;
        }
        if (*p >= 'a' && *p <= 'z') *p = (unsigned char)(*p - ('a' - 'A'));
        p += 1;
    }
}

// Copies at most room bytes of src, never splitting a double-byte character.
static bool CopyWithin(char* dst, size_t room, const char* src) {
    size_t used = 0;
    while (src[used]) {
        size_t step = CharLength(src + used);
        if (used + step > room) {
            dst[used] = '\0';
            return false;
        }
        memcpy(dst + used, src + used, step);
        used += step;
    }
    dst[used] = '\0';
    return true;
}

bool CopyText(char* dst, size_t capacity, const char* src) {
    if (capacity == 0) return false;
    return CopyWithin(dst, capacity - 1, src);
}

bool AppendText(char* dst, size_t capacity, const char* src) {
    size_t length = strnlen(dst, capacity);
    if (length >= capacity) return false;
    return CopyWithin(dst + length, capacity - 1 - length, src);
}

bool CopyReplacingBackslashes(char* dst, size_t capacity, const char* src, const char* with) {
    if (capacity == 0) return false;
    dst[0] = '\0';
    for (const char* p = src; *p; p += CharLength(p)) {
        char character[3] = {p[0], CharLength(p) == 2 ? p[1] : '\0', '\0'};
        if (!AppendText(dst, capacity, *p == '\\' ? with : character)) return false;
    }
    return true;
}

static unsigned char AsciiLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + ('a' - 'A')) : c;
}

static bool MatchFrom(const char* pattern, const char* name) {
    while (*pattern) {
        if (*pattern == '*') {
            while (*pattern == '*') pattern++;
            if (*pattern == '\0') return true;
            for (const char* rest = name;; rest += CharLength(rest)) {
                if (MatchFrom(pattern, rest)) return true;
                if (*rest == '\0') return false;
            }
        }
        // ".*" at the end also matches a name that has no dot left.
        if (pattern[0] == '.' && pattern[1] == '*' && pattern[2] == '\0' && *name == '\0') {
            return true;
        }
        if (*name == '\0') return false;
        size_t pattern_step = CharLength(pattern);
        size_t name_step = CharLength(name);
        if (*pattern == '?') {
            pattern += 1;
            name += name_step;
            continue;
        }
        if (pattern_step != name_step) return false;
        if (pattern_step == 2) {
            if (pattern[0] != name[0] || pattern[1] != name[1]) return false;
        } else if (AsciiLower((unsigned char)*pattern) != AsciiLower((unsigned char)*name)) {
            return false;
        }
        pattern += pattern_step;
        name += name_step;
    }
    return *name == '\0';
}

bool WildcardMatch(const char* pattern, const char* name) {
    return MatchFrom(pattern, name);
}

bool IsValidCp932(const char* text, size_t length) {
    const unsigned char* p = (const unsigned char*)text;
    size_t i = 0;
    while (i < length) {
        unsigned char c = p[i];
        if (IsLeadByte(c)) {
            if (i + 1 >= length) return false;
            unsigned char t = p[i + 1];
            if (!((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC))) return false;
            if (!IsDefinedDoubleByte(DoubleByteIndex(c, t))) return false;
            i += 2;
            continue;
        }
        if (c >= 0x80 && !(c >= 0xA1 && c <= 0xDF)) return false;
        i += 1;
    }
    return true;
}

void FormatBoxText(char* buffer, size_t capacity, const char* format, va_list args) {
    if (capacity == 0) return;
    int wanted = vsnprintf(buffer, capacity, format, args);
    if (wanted < 0) {
        buffer[0] = '\0';
        return;
    }
    if ((size_t)wanted < capacity) return;
    // vsnprintf cut the text at a byte count; move the cut back to the start
    // of the character that it split, if any.
    size_t length = strlen(buffer);
    size_t i = 0;
    while (i < length) {
        // A lead byte as the last byte kept is the first half of a character
        // that the cut split: CharLength counts it as one byte, so test it here.
        if (IsLeadByte((unsigned char)buffer[i]) && i + 1 >= length) break;
        i += CharLength(buffer + i);
    }
    buffer[i] = '\0';
}

void FormatText(char* buffer, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatBoxText(buffer, capacity, format, args);
    va_end(args);
}

void ExpandLineBreaks(const char* text, char* buffer, size_t capacity) {
    if (capacity == 0) return;
    size_t used = 0;
    for (const char* p = text; *p; p += CharLength(p)) {
        bool bare_break = *p == '\n' && (p == text || p[-1] != '\r');
        size_t step = bare_break ? 2 : CharLength(p);
        if (used + step >= capacity) break;
        if (bare_break) buffer[used++] = '\r';
        memcpy(buffer + used, p, CharLength(p));
        used += CharLength(p);
    }
    buffer[used] = '\0';
}

static bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int RegistryTextToInt(const char* text) {
    const char* p = text;
    while (IsWhiteSpace(*p)) ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // Gathered as a negative number, whose range reaches INT_MIN.
    int value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        int digit = *p - '0';
        if (value < (INT_MIN + digit) / 10) return negative ? INT_MIN : INT_MAX;
        value = value * 10 - digit;
    }
    if (negative) return value;
    return value == INT_MIN ? INT_MAX : -value;
}

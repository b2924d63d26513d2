// Code page 932 byte-string helpers shared by every part of the program.
// A byte 0x5C is a path separator only when it does not follow a lead byte:
// it is also the second byte of characters such as 表 (0x95 0x5C) and ソ (0x83 0x5C).
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

enum {
    kPathCapacity = 260,  // every path buffer of the program, terminator included
    kLineCapacity = 512,  // every configuration line buffer (fgets reads 511 bytes)
};

// True for the code page 932 lead bytes 0x81..0x9F and 0xE0..0xFC.
bool IsLeadByte(unsigned char byte);

// Length in bytes of the character starting at text[0] (1 or 2). A lead byte
// followed by the terminator counts as one byte so that no scan runs past it.
size_t CharLength(const char* text);

// Appends a backslash unless the path already ends in a real one. Never writes
// past capacity bytes (terminator included); returns path.
char* AppendSeparator(char* path, size_t capacity = kPathCapacity);

// Removes one trailing real backslash; returns path.
char* StripSeparator(char* path);

// Double-byte-aware strchr / strrchr: a match never lies on a second byte.
const char* FindChar(const char* text, char wanted);
const char* FindLastChar(const char* text, char wanted);

// Double-byte-aware strstr: a match never begins on a second byte.
const char* FindText(const char* text, const char* wanted);

// True when text begins with prefix, byte for byte.
bool StartsWith(const char* text, const char* prefix);

// Lower-cases in place: ASCII A..Z and the double-byte Latin (Ａ..Ｚ),
// Greek and Cyrillic capitals. Other characters stay as they are.
void LowerCaseCp932(char* text);

// Folds in place so that two names are equal exactly when NTFS takes them for
// one file: as if converted to UTF-16 and upper-cased per unit by its upcase
// table. ASCII letters become capitals; a double-byte character becomes the
// first code of those that land on the same UTF-16 character that way: the
// NEC and IBM extensions' duplicates (0x8754, 0xEEEF, 0xFA40 and 0xFA4A are
// Ⅰ, ⅰ, ⅰ and Ⅰ) and the case pairs (ａ/Ａ, α/Α, я/Я).
void FoldNameCp932(char* text);

// Copies src into dst (capacity bytes, terminator included), cutting at a
// character boundary when it does not fit. Returns false when it was cut.
bool CopyText(char* dst, size_t capacity, const char* src);

// Appends src to the text in dst under the same rule as CopyText.
bool AppendText(char* dst, size_t capacity, const char* src);

// Copies src into dst with every real backslash (not the second byte of a
// double-byte character) replaced by with, cutting at a character boundary
// under the rule of CopyText. Returns false when it was cut.
bool CopyReplacingBackslashes(char* dst, size_t capacity, const char* src, const char* with);

// Windows wildcard match of a bare file name against a pattern: '*' any run,
// '?' one character, letters compared without regard to ASCII case, and a
// pattern ending in ".*" also matching a name without a dot ("*.*" matches all).
bool WildcardMatch(const char* pattern, const char* name);

// True when every character of text (length bytes) is a valid code page 932
// character: single bytes 0x00..0x7F and 0xA1..0xDF; a lead byte plus a trail
// byte in 0x40..0x7E or 0x80..0xFC that the code page defines (0x85 0x40 has
// the form but no character, and no conversion to UTF-16 takes it). The
// unassigned 0x80, 0xA0 and 0xFD..0xFF are refused, although Windows maps
// them to private-use characters.
bool IsValidCp932(const char* text, size_t length);

// Formats like vsnprintf into buffer (capacity bytes), but a text that does
// not fit is cut at a code page 932 character boundary, never inside one.
void FormatBoxText(char* buffer, size_t capacity, const char* format, va_list args);
void FormatText(char* buffer, size_t capacity, const char* format, ...);

// Copies text with each bare line break (LF) written as CR LF, the form that
// Windows programs expect of pasted text. Cut at a character boundary.
void ExpandLineBreaks(const char* text, char* buffer, size_t capacity);

// The registry's decimal text as a number: leading white space, an optional
// sign, then digits up to the first other byte; no digits give 0, so "1.01"
// is 1. Unlike atoi it saturates at INT_MIN / INT_MAX instead of overflowing.
int RegistryTextToInt(const char* text);

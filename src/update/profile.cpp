// Profile entries written in code page 932 (see profile.h).
#include "update/profile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/platform.h"
#include "base/text.h"

namespace {

const char kUtf8Mark[] = "\xef\xbb\xbf";

struct Span {
    const char* begin;
    const char* end;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

Span Trim(Span span) {
    while (span.begin < span.end && IsBlank(*span.begin)) ++span.begin;
    while (span.end > span.begin && IsBlank(span.end[-1])) --span.end;
    return span;
}

// Equal once letters are folded as the system folds profile names and the
// blanks around both are left out: the caller's name too, or a name given
// with a blank would never find the line it wrote itself.
bool SameName(Span a, const char* name) {
    Span b = Trim({name, name + strlen(name)});
    size_t length = (size_t)(a.end - a.begin);
    if (length != (size_t)(b.end - b.begin)) return false;
    char left[kLineCapacity], right[kLineCapacity];
    if (length >= sizeof left) return memcmp(a.begin, b.begin, length) == 0;
    memcpy(left, a.begin, length);
    memcpy(right, b.begin, length);
    left[length] = right[length] = '\0';
    LowerCaseCp932(left);
    LowerCaseCp932(right);
    return strcmp(left, right) == 0;
}

// The name of a section header line ("[name]", blanks around allowed), or
// false for any other line. A "]" is looked for character by character: it
// can be the second byte of a double-byte character.
bool SectionName(Span line, Span* name) {
    line = Trim(line);
    if (line.begin == line.end || *line.begin != '[') return false;
    for (const char* p = line.begin + 1; p < line.end; p += CharLength(p)) {
        if (*p == ']') {
            *name = Trim({line.begin + 1, p});
            return true;
        }
    }
    return false;
}

// A line's bytes, the break after it left out: it ends at CR LF, LF or a
// lone CR, and the next line starts at next.
struct Line {
    Span text;
    size_t next;
};

Line LineAt(const char* data, size_t length, size_t start) {
    size_t end = start;
    while (end < length && data[end] != '\n' && data[end] != '\r') ++end;
    size_t next = end;
    if (next < length) {
        next += data[next] == '\r' && next + 1 < length && data[next + 1] == '\n' ? 2 : 1;
    }
    return {{data + start, data + end}, next};
}

bool HasMark(const char* data, size_t length, const char* mark) {
    size_t mark_length = strlen(mark);
    return length >= mark_length && memcmp(data, mark, mark_length) == 0;
}

// Where the file changes: the bytes [cut_begin, cut_end) give way to the
// new text, which is preceded by a line break when the byte before it is not
// one, and followed by one unless it replaces a line. New lines end as the
// file's first line does.
struct Edit {
    size_t cut_begin, cut_end;
    bool new_section;
    bool replaces_line;
    bool break_before;
    Span line_end;
};

Edit FindEdit(const char* data, size_t length, const char* section, const char* key) {
    static const char kCrLf[] = "\r\n";
    // The mark is no part of the first line: behind it, the first header
    // would not be one.
    size_t first = HasMark(data, length, kUtf8Mark) ? strlen(kUtf8Mark) : 0;
    Edit edit = {length, length, true, false, false, {kCrLf, kCrLf + 2}};
    Line first_line = LineAt(data, length, first);
    if (first_line.text.end < data + first_line.next) {
        edit.line_end = {first_line.text.end, data + first_line.next};
    }
    bool inside = false;
    for (size_t start = first; start < length;) {
        Line line = LineAt(data, length, start);
        Span name;
        if (SectionName(line.text, &name)) {
            if (inside) break;  // the key was not in the section
            inside = SameName(name, section);
            if (inside) {
                edit.cut_begin = edit.cut_end = line.next;
                edit.new_section = false;
            }
        } else if (inside) {
            const char* equals =
                (const char*)memchr(line.text.begin, '=', line.text.end - line.text.begin);
            if (equals && SameName(Trim({line.text.begin, equals}), key)) {
                edit.cut_begin = start;
                edit.cut_end = (size_t)(line.text.end - data);
                edit.replaces_line = true;
                return edit;
            }
            if (Trim(line.text).begin != Trim(line.text).end) {
                edit.cut_begin = edit.cut_end = line.next;
            }
        }
        start = line.next;
    }
    edit.break_before = edit.cut_begin > first && data[edit.cut_begin - 1] != '\n' &&
                        data[edit.cut_begin - 1] != '\r';
    return edit;
}

bool WriteAll(FILE* file, const char* text, size_t length) {
    return fwrite(text, 1, length, file) == length;
}

bool WriteSpan(FILE* file, Span span) {
    return WriteAll(file, span.begin, (size_t)(span.end - span.begin));
}

bool HasLineBreak(const char* text) {
    return strpbrk(text, "\r\n") != nullptr;
}

// The sibling the new text goes to, made by this call: a name something
// already holds (a file of the user's, a link planted to send the write
// elsewhere) is passed over, never opened.
FILE* CreateSibling(const char* path, char* sibling, size_t capacity) {
    for (unsigned attempt = 0; attempt < kProfileSiblingAttempts; ++attempt) {
        char suffix[16];
        FormatText(suffix, sizeof suffix, attempt == 0 ? "~vn" : "~vn%u", attempt);
        if (!CopyText(sibling, capacity, path) || !AppendText(sibling, capacity, suffix)) {
            return nullptr;
        }
        OsCreateResult created;
        FILE* file = OsCreateNewFile(sibling, &created);
        if (created != kOsAlreadyExists) return file;
    }
    return nullptr;
}

}  // namespace

ProfileProblem CheckProfileSection(const char* section) {
    if (HasLineBreak(section)) return kProfileLineBreak;
    // The header's "]" must be the first one the reader meets, on a
    // character of its own: a name that ends in a lead byte would take it as
    // its second byte.
    const char* last = section;
    for (const char* p = section; *p; p += CharLength(p)) {
        if (*p == ']') return kProfileSectionBracket;
        last = p;
    }
    if (*last && CharLength(last) == 1 && IsLeadByte((unsigned char)*last)) {
        return kProfileSectionBracket;
    }
    return kProfileFits;
}

ProfileProblem CheckProfileEntry(const char* key, const char* value) {
    if (HasLineBreak(key) || HasLineBreak(value)) return kProfileLineBreak;
    // Looked for byte by byte, as the reader looks for the "=" of a line.
    if (strchr(key, '=')) return kProfileKeyEquals;
    if (Trim({key, key + strlen(key)}).begin[0] == '[') return kProfileKeyBracket;
    return kProfileFits;
}

int WriteProfileEntry(const char* path, const char* section, const char* key, const char* value) {
    if (CheckProfileSection(section) != kProfileFits ||
        CheckProfileEntry(key, value) != kProfileFits) {
        return -1;
    }
    // A link would be read through and its target's text put in its place.
    if (OsIsLink(path)) return -1;
    char* data = nullptr;
    size_t length = 0;
    if (FILE* file = OsOpenFile(path, "rb")) {
        // As large as the file says it is, and one byte more to see it grow.
        long size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
        bool whole = size >= 0 && size <= kProfileFileLimit && fseek(file, 0, SEEK_SET) == 0;
        if (whole) {
            data = (char*)AllocOrAbort((size_t)size + 1);
            length = fread(data, 1, (size_t)size + 1, file);
            whole = !ferror(file) && length == (size_t)size;
        }
        fclose(file);
        // The system's calls read UTF-16 profiles; code page 932 bytes in one
        // would spoil it.
        if (!whole || HasMark(data, length, "\xff\xfe") || HasMark(data, length, "\xfe\xff")) {
            free(data);
            return -1;
        }
    } else if (OsGetPathKind(path) != kOsMissing) {
        return -1;  // there, but not readable: never overwritten blind
    } else {
        data = (char*)AllocOrAbort(1);  // a new file
    }

    Edit edit = FindEdit(data, length, section, key);
    char sibling[kPathCapacity];
    FILE* out = CreateSibling(path, sibling, sizeof sibling);
    bool written = out != nullptr;
    if (written) {
        written = WriteAll(out, data, edit.cut_begin) &&
                  (!edit.break_before || WriteSpan(out, edit.line_end));
        if (written && edit.new_section) {
            written = WriteAll(out, "[", 1) && WriteAll(out, section, strlen(section)) &&
                      WriteAll(out, "]", 1) && WriteSpan(out, edit.line_end);
        }
        written = written && WriteAll(out, key, strlen(key)) && WriteAll(out, "=", 1) &&
                  WriteAll(out, value, strlen(value)) &&
                  (edit.replaces_line || WriteSpan(out, edit.line_end)) &&
                  WriteAll(out, data + edit.cut_end, length - edit.cut_end);
        written = fclose(out) == 0 && written;
    }
    free(data);
    // Only a whole new text takes the file's place.
    if (written && OsReplaceFile(sibling, path) == 0) return 0;
    if (out) OsDeleteFile(sibling);
    return -1;
}

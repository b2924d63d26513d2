// Profile entries written in code page 932 (see profile.h).
#include "update/profile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/platform.h"
#include "base/text.h"

namespace {

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

// Where the file changes: the bytes [cut_begin, cut_end) give way to the
// new text, which is preceded by a line break when the byte before it is not
// one, and followed by one unless it replaces a line.
struct Edit {
    size_t cut_begin, cut_end;
    bool new_section;
    bool replaces_line;
};

Edit FindEdit(const char* data, size_t length, const char* section, const char* key) {
    Edit edit = {length, length, true, false};
    bool inside = false;
    for (size_t start = 0; start < length;) {
        const char* newline = (const char*)memchr(data + start, '\n', length - start);
        size_t next = newline ? (size_t)(newline - data) + 1 : length;
        Span line = {data + start, data + next};
        while (line.end > line.begin && (line.end[-1] == '\n' || line.end[-1] == '\r')) --line.end;
        Span name;
        if (SectionName(line, &name)) {
            if (inside) return edit;  // the key was not in the section
            inside = SameName(name, section);
            if (inside) edit = {next, next, false, false};
        } else if (inside) {
            const char* equals = (const char*)memchr(line.begin, '=', line.end - line.begin);
            if (equals && SameName(Trim({line.begin, equals}), key)) {
                return {start, (size_t)(line.end - data), false, true};
            }
            if (Trim(line).begin != Trim(line).end) edit.cut_begin = edit.cut_end = next;
        }
        start = next;
    }
    return edit;
}

bool WriteAll(FILE* file, const char* text, size_t length) {
    return fwrite(text, 1, length, file) == length;
}

}  // namespace

int WriteProfileEntry(const char* path, const char* section, const char* key, const char* value) {
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
        if (!whole) {
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
    FormatText(sibling, sizeof sibling, "%s~vn", path);
    FILE* out = strlen(path) + 3 < sizeof sibling ? OsOpenFile(sibling, "wb") : nullptr;
    bool written = out != nullptr;
    if (written) {
        bool break_before = edit.cut_begin > 0 && data[edit.cut_begin - 1] != '\n';
        written =
            WriteAll(out, data, edit.cut_begin) && (!break_before || WriteAll(out, "\r\n", 2));
        if (written && edit.new_section) {
            written = WriteAll(out, "[", 1) && WriteAll(out, section, strlen(section)) &&
                      WriteAll(out, "]\r\n", 3);
        }
        written = written && WriteAll(out, key, strlen(key)) && WriteAll(out, "=", 1) &&
                  WriteAll(out, value, strlen(value)) &&
                  (edit.replaces_line || WriteAll(out, "\r\n", 2)) &&
                  WriteAll(out, data + edit.cut_end, length - edit.cut_end);
        written = fclose(out) == 0 && written;
    }
    free(data);
    if (written && OsReplaceFile(sibling, path) == 0) return 0;
    if (out) OsDeleteFile(sibling);
    return -1;
}

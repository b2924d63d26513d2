// Names relative to a folder (platform.h): the checks that keep a name read
// from a file anyone could write (a journal, a deletion list) inside its folder.
#include <string.h>

#include "base/platform.h"
#include "base/text.h"

bool IsDotsOnlyComponent(const char* begin, const char* end) {
    if (begin == end) return false;
    for (const char* p = begin; p < end; ++p) {
        if (*p != '.' && *p != ' ') return false;
    }
    return true;
}

bool NameStaysInside(const char* name, const char* folder) {
    if (*name == '\\' || *name == '/' || FindChar(name, ':')) return false;
    const char* component = name;
    for (const char* p = name;; p += CharLength(p)) {
        if (*p != '\0' && *p != '\\' && *p != '/') continue;
        if (IsDotsOnlyComponent(component, p)) return false;
        if (*p == '\0') return true;
        if (folder) {
            char path[4 * kPathCapacity];
            size_t length = (size_t)(p - name);
            if (!CopyText(path, sizeof path, folder) || !AppendSeparator(path, sizeof path) ||
                strlen(path) + length >= sizeof path)
                return false;
            strncat(path, name, length);
            if (OsIsLink(path)) return false;
        }
        component = p + 1;
    }
}

// The section lists (see sections.h).
#include "config/sections.h"

#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/platform.h"
#include "base/text.h"

namespace {

// In the order the headers are tested; the table order is the SectionId order.
const char* const kSectionNames[kSectionCount] = {
    "delfiles", "delfiles_user", "ini", "reg", "delfiles_afterinst",
};
const char* const kSectionHeaders[kSectionCount] = {
    "[delfiles]", "[delfiles_user]", "[ini]", "[reg]", "[delfiles_afterinst]",
};

SectionLine* g_lists[kSectionCount];
SectionLine** g_tails[kSectionCount];

void EmptyList(SectionId id) {
    SectionLine* line = g_lists[id];
    while (line) {
        SectionLine* next = line->next;
        free(line->text);
        free(line);
        line = next;
    }
    g_lists[id] = nullptr;
    g_tails[id] = &g_lists[id];
}

void AppendLine(SectionId id, const char* text) {
    if (!g_tails[id]) g_tails[id] = &g_lists[id];
    SectionLine* line = (SectionLine*)AllocOrAbort(sizeof(SectionLine));
    size_t size = strlen(text) + 1;
    line->text = (char*)AllocOrAbort(size);
    memcpy(line->text, text, size);
    line->next = nullptr;
    *g_tails[id] = line;
    g_tails[id] = &line->next;
}

void BuildList(const SectionLineInfo* line, void* context) {
    if (line->kind == kSectionHeaderLine) EmptyList(line->header);
    if (line->kind == kSectionItem) AppendLine(line->section, line->text);
}

// A prefix test done as a double-byte-aware search whose first match has to
// lie at the start: the same answer as a plain prefix compare, since a match
// at offset 0 can never begin on a second byte.
bool Begins(const char* line, const char* prefix) {
    return FindText(line, prefix) == line;
}

}  // namespace

const char* SectionName(SectionId id) {
    return id >= 0 && id < kSectionCount ? kSectionNames[id] : "";
}

const char* SectionHeader(SectionId id) {
    return id >= 0 && id < kSectionCount ? kSectionHeaders[id] : "";
}

int ParseSections(FILE* file, SectionLineHandler handler, void* context,
                  SectionParseResult* result) {
    char buffer[kLineCapacity];
    SectionId current = kSectionOutside;
    int file_line = 1;
    result->open_file_line = 0;
    result->end_file_line = 0;
    for (;;) {
        memset(buffer, 0, sizeof buffer);
        if (!fgets(buffer, sizeof buffer, file)) break;
        int this_line = file_line;
        if (memchr(buffer, '\n', sizeof buffer - 1)) ++file_line;
        size_t length = strlen(buffer);
        while (length > 0 && (unsigned char)buffer[length - 1] <= 0x20) buffer[--length] = '\0';

        SectionLineInfo line;
        line.file_line = this_line;
        line.text = buffer;
        line.header = kSectionOutside;
        if (length == 0) {
            line.kind = kSectionBlank;
        } else if (Begins(buffer, "//") || Begins(buffer, ";")) {
            line.kind = kSectionComment;
        } else if (Begins(buffer, "EOF")) {
            line.kind = kSectionEnd;
        } else if (Begins(buffer, "-")) {
            line.kind = kSectionTerminator;
            current = kSectionOutside;
        } else {
            line.kind = current == kSectionOutside ? kSectionIgnored : kSectionItem;
            for (int id = 0; id < kSectionCount; ++id) {
                if (Begins(buffer, kSectionHeaders[id])) {
                    line.kind = kSectionHeaderLine;
                    line.header = (SectionId)id;
                    current = (SectionId)id;
                    result->open_file_line = this_line;
                    break;
                }
            }
        }
        line.section = current;
        handler(&line, context);
        if (line.kind == kSectionEnd) {
            result->end_file_line = this_line;
            break;
        }
    }
    result->open_section = current;
    if (current == kSectionOutside) result->open_file_line = 0;
    return current == kSectionOutside ? 0 : -1;
}

int ReadSectionLists(FILE* file, SectionParseResult* result) {
    return ParseSections(file, BuildList, nullptr, result);
}

SectionLoadResult LoadSectionLists(const char* name, SectionId* open_section) {
    *open_section = kSectionOutside;
    FILE* file = OsOpenFile(name, "rt");
    if (!file) return kSectionsOpenFailed;
    SectionParseResult result;
    int status = ReadSectionLists(file, &result);
    fclose(file);
    *open_section = result.open_section;
    return status == 0 ? kSectionsLoaded : kSectionsNotTerminated;
}

const SectionLine* GetSectionList(SectionId id) {
    return id >= 0 && id < kSectionCount ? g_lists[id] : nullptr;
}

void ReleaseSectionLists() {
    for (int id = 0; id < kSectionCount; ++id) EmptyList((SectionId)id);
}

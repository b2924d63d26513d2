// The section lists (see sections.h).
#include "config/sections.h"

#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/platform.h"
#include "base/text.h"

namespace {

// One row a section, in SectionId order, which is also the order in which
// the headers are tested.
struct SectionRow {
    const char* name;    // as messages show it
    const char* header;  // the line that opens it
};
// clang-format off
const SectionRow kSections[kSectionCount] = {
    {"delfiles", "[delfiles]"},
    {"delfiles_user", "[delfiles_user]"},
    {"ini", "[ini]"},
    {"reg", "[reg]"},
    {"delfiles_afterinst", "[delfiles_afterinst]"},
};
// clang-format on

// The five lists, built once at start-up and read for the rest of the run.
struct SectionLists {
    SectionLine* first[kSectionCount];
    SectionLine** tail[kSectionCount];  // where the next line goes; null: at first
};
SectionLists g_sections;

void EmptyList(SectionId id) {
    SectionLine* line = g_sections.first[id];
    while (line) {
        SectionLine* next = line->next;
        free(line->text);
        free(line);
        line = next;
    }
    g_sections.first[id] = nullptr;
    g_sections.tail[id] = &g_sections.first[id];
}

void AppendLine(SectionId id, const char* text) {
    SectionLine**& tail = g_sections.tail[id];
    if (!tail) tail = &g_sections.first[id];
    SectionLine* line = (SectionLine*)AllocOrAbort(sizeof(SectionLine));
    size_t size = strlen(text) + 1;
    line->text = (char*)AllocOrAbort(size);
    memcpy(line->text, text, size);
    line->next = nullptr;
    *tail = line;
    tail = &line->next;
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
    return id >= 0 && id < kSectionCount ? kSections[id].name : "";
}

const char* SectionHeader(SectionId id) {
    return id >= 0 && id < kSectionCount ? kSections[id].header : "";
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
                if (Begins(buffer, kSections[id].header)) {
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
    return id >= 0 && id < kSectionCount ? g_sections.first[id] : nullptr;
}

void ReleaseSectionLists() {
    for (int id = 0; id < kSectionCount; ++id) EmptyList((SectionId)id);
}

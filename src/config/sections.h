// The five section lists of install.env: blocks of lines that start with a
// header such as "[ini]" and end with a line that begins with "-". The file
// is read a second time for them, with rules of its own: "EOF" (not "[EOF]")
// ends reading, comments are "//" and ";", and keyed settings are ignored.
#pragma once

#include <stdio.h>

enum SectionId {
    kSectionOutside = -1,
    kSectionDelfiles = 0,
    kSectionDelfilesUser,
    kSectionIni,
    kSectionReg,
    kSectionDelfilesAfterinst,
    kSectionCount,
};

struct SectionLine {
    char* text;  // the line without trailing bytes of 0x20 or less
    SectionLine* next;
};

// The name of a section as messages show it ("delfiles_afterinst"), and its
// header ("[delfiles_afterinst]").
const char* SectionName(SectionId id);
const char* SectionHeader(SectionId id);

// How the reader saw one line.
enum SectionLineKind {
    kSectionBlank,       // empty after trimming
    kSectionComment,     // "//" or ";"
    kSectionEnd,         // "EOF": reading stops
    kSectionTerminator,  // "-": the current section ends
    kSectionHeaderLine,  // one of the five headers: that list is emptied
    kSectionItem,        // appended to the current section
    kSectionIgnored,     // any other line outside a section
};

struct SectionLineInfo {
    SectionLineKind kind;
    int file_line;      // physical line of the file, from 1
    const char* text;   // trimmed
    SectionId section;  // current section after the line
    SectionId header;   // kSectionHeaderLine: the section it opens
};

typedef void (*SectionLineHandler)(const SectionLineInfo* line, void* context);

struct SectionParseResult {
    SectionId open_section;  // still open at the end, or kSectionOutside
    int open_file_line;      // line of the header of the open section
    int end_file_line;       // line of the "EOF" line, or 0 at end of file
};

// Reads section lines from file and hands each to handler. Returns 0, or -1
// when a section is still open at the end (named in result).
int ParseSections(FILE* file, SectionLineHandler handler, void* context,
                  SectionParseResult* result);

// Builds the five lists from file (allocations through AllocOrAbort). Same
// result as ParseSections.
int ReadSectionLists(FILE* file, SectionParseResult* result);

enum SectionLoadResult {
    kSectionsLoaded = 0,
    kSectionsOpenFailed = -1,     // the file cannot be opened
    kSectionsNotTerminated = -2,  // a section is still open at the end
};

// Opens name relative to the current folder and builds the lists. Either
// failure ends the updater's run (the entry says which); *open_section names
// the section left open, or is kSectionOutside.
SectionLoadResult LoadSectionLists(const char* name, SectionId* open_section);

// The first line of a list, or null when the section is empty or absent.
const SectionLine* GetSectionList(SectionId id);

// Empties all five lists.
void ReleaseSectionLists();

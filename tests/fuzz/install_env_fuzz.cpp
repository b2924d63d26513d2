// Any bytes as install.env, through the readers of both its parts: the
// settings reader and every accessor, the reader as the maker's check runs it
// (past "[EOF]" and the line limit), and the section reader. No crash, no read
// or write outside a buffer; every line counted once in order, every entry a
// key without blanks and a value, every stored section line within 511 bytes.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "config/sections.h"
#include "config/settings.h"
#include "fuzz.h"

namespace {

struct LineCount {
    int lines;
    int file_line;
};

void CheckLine(const SettingLine* line, void* context) {
    LineCount* count = (LineCount*)context;
    Require(line->number == ++count->lines && line->file_line >= count->file_line);
    count->file_line = line->file_line;
    if (line->kind != kSettingEntry) return;
    Require(line->key[0] && line->value[0] && line->gap >= 1 && line->gap <= kSettingMaxGap);
    for (const char* p = line->key; *p; ++p) Require((unsigned char)*p > 0x20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen((void*)data, size, "r");
    if (!file) return 0;
    LineCount count = {0, 1};
    SettingParseResult result;
    ParseSettings(file, {0, false}, CheckLine, &count, &result);
    Require(result.stop == kSettingStopEnd && result.lines == count.lines);
    rewind(file);
    ReadSettings(file);
    rewind(file);
    SectionParseResult sections;
    Require((ReadSectionLists(file, &sections) == 0) == (sections.open_section == kSectionOutside));
    fclose(file);
    for (int id = 0; id < kSectionCount; ++id) {
        for (const SectionLine* line = GetSectionList((SectionId)id); line; line = line->next)
            Require(line->text[0] && strlen(line->text) <= 511);
    }
    ReleaseSectionLists();
    char small[128];
    char large[512];
    char name[260];
    for (int key = 0; key < kSettingKeyCount; ++key) {
        const SettingRow& row = kSettingRows[key];
        if (row.kind == kSettingNumber) {
            SettingNumber((SettingKey)key);
        } else if (const char* text = SettingText((SettingKey)key)) {
            Require(strlen(text) < kSettingValueCapacity);
        }
    }
    SettingTextInto(kSettingInstReadme, small, sizeof small);
    SettingTextInto(kSettingInstReadmeFl, large, sizeof large);
    GetSetting("TITLEBAR", small, 1, "x");
    CopyReplacingBackslashes(name, sizeof name, SettingText(kSettingTitleBar), "\x81\x5f");
    // A real backslash would make the mutex name a namespace path.
    Require(!FindChar(name, 0x5c));
    ReleaseSettings();
    return 0;
}

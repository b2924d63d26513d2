// Any bytes as install.env through the settings reader (as the updater and as the maker's check run it),
// every accessor and the section reader: every line counted once in order, every entry a key without blanks
// and a value, every section line within 511 bytes.

#include "base/text.h"
#include "config/sections.h"
#include "config/settings.h"
#include "../unit/scratch_folder.h"

static void CheckLine(const SettingLine* line, void* context) {
    int* count = (int*)context;  // lines so far, then the last file line
    Require(line->number == ++count[0] && line->file_line >= count[1]);
    count[1] = line->file_line;
    if (line->kind != kSettingEntry) return;
    Require(line->key[0] && line->value[0] && line->gap >= 1 && line->gap <= kSettingMaxGap);
    for (const char* p = line->key; *p; ++p) Require((unsigned char)*p > 0x20);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = size ? fmemopen((void*)data, size, "r") : nullptr;
    if (!file) return 0;
    int count[2] = {0, 1};
    SettingParseResult result;
    ParseSettings(file, {0, false}, CheckLine, count, &result);
    Require(result.stop == kSettingStopEnd && result.lines == count[0]);
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
    for (int key = 0; key < kSettingKeyCount; ++key) {
        if (kSettingRows[key].kind == kSettingNumber) {
            SettingNumber((SettingKey)key);
        } else if (const char* text = SettingText((SettingKey)key)) {
            Require(strlen(text) < kSettingValueCapacity);
        }
    }
    char small[128], large[512], name[260];
    SettingTextInto(kSettingInstReadme, small, sizeof small);
    SettingTextInto(kSettingInstReadmeFl, large, sizeof large);
    GetSetting("TITLEBAR", small, 1, "x");
    CopyReplacingBackslashes(name, sizeof name, SettingText(kSettingTitleBar), "\x81\x5f");
    Require(!FindChar(name, 0x5c));  // a real backslash would make the mutex name a path
    ReleaseSettings();
    return 0;
}

// Any bytes through the section reader and the list builder: no crash, no
// read or write outside a buffer, and every stored line within 511 bytes.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "config/sections.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen((void*)data, size, "r");
    if (!file) return 0;
    SectionParseResult result;
    int status = ReadSectionLists(file, &result);
    fclose(file);
    if ((status == 0) != (result.open_section == kSectionOutside)) __builtin_trap();
    for (int id = 0; id < kSectionCount; ++id) {
        for (const SectionLine* line = GetSectionList((SectionId)id); line; line = line->next) {
            size_t length = strlen(line->text);
            if (length == 0 || length > 511) __builtin_trap();
        }
    }
    ReleaseSectionLists();
    return 0;
}

// Any bytes through the settings reader and every accessor: no crash, no
// read or write outside a buffer.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "config/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen((void*)data, size, "r");
    if (!file) return 0;
    ReadSettings(file);
    fclose(file);
    char small[128];
    char large[512];
    char name[260];
    for (int key = 0; key < kSettingKeyCount; ++key) {
        const SettingRow& row = kSettingRows[key];
        if (row.kind == kSettingNumber) {
            SettingNumber((SettingKey)key);
        } else if (const char* text = SettingText((SettingKey)key)) {
            if (strlen(text) >= kSettingValueCapacity) __builtin_trap();
        }
    }
    SettingTextInto(kSettingInstReadme, small, sizeof small);
    SettingTextInto(kSettingInstReadmeFl, large, sizeof large);
    GetSetting("TITLEBAR", small, 1, "x");
    const char* title = WindowTitle();
    if (strlen(title) >= 160) __builtin_trap();
    SingleInstanceName(name, sizeof name);
    // A real backslash would make the mutex name a namespace path.
    if (FindChar(name, 0x5c)) __builtin_trap();
    ReleaseSettings();
    return 0;
}

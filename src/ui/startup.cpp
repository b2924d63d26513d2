// The start-up window's button column (see startup.h).
#include "ui/startup.h"

#include "texts.h"

int BuildButtonColumn(bool has_directx, const char* readme_caption, ButtonSlot slots[kSlotCount]) {
    int next = 0;
    auto fill = [&](const char* text, ButtonAction action) { slots[next++] = {text, action}; };
    fill(kTextQuit, kActionQuit);
    if (has_directx) fill(kTextDirectXInstall, kActionDirectX);
    if (readme_caption[0] != '-') fill(readme_caption, kActionReadme);
    fill(kTextUpdate, kActionUpdate);
    int count = next;
    while (next < kSlotCount) fill(nullptr, kActionNone);
    return count;
}

// The start-up window's button column, decided without a window: which slot
// gets which text and action, from the bottom (slot 0) upwards.
#pragma once

#include <stddef.h>

// What a slot's button does. The values are those of the first updaters.
enum ButtonAction {
    kActionNone = 0,
    kActionUpdate = 1,
    kActionDirectX = 2,
    kActionQuit = 3,
    kActionReadme = 5,
};

enum { kSlotCount = 9 };

struct ButtonSlot {
    const char* text;  // null for a slot whose button is removed
    ButtonAction action;
};

// Fills every slot: "終了" first, then "DirectXインストール" when the work
// folder has a DirectX folder, then the readme caption unless it begins with
// "-", then "アップデート"; the remaining slots are empty. The texts point at
// the program's texts or at readme_caption. Returns the count of buttons.
int BuildButtonColumn(bool has_directx, const char* readme_caption, ButtonSlot slots[kSlotCount]);

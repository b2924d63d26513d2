// The start-up window's button column over every combination of a DirectX
// folder and a readme caption.
#include "ui/startup.h"

#include <gtest/gtest.h>

#include <string>

#include "texts.h"

namespace {

TEST(ButtonColumn, EveryCombinationFromTheBottomUp) {
    struct {
        bool directx;
        const char* readme;
        std::vector<std::string> texts;  // slot 0 first
    } cases[] = {
        {false, "-", {kTextQuit, kTextUpdate}},
        {false, "-readme", {kTextQuit, kTextUpdate}},  // any leading "-" means none
        {false, "Readme", {kTextQuit, "Readme", kTextUpdate}},
        {true, "-", {kTextQuit, kTextDirectXInstall, kTextUpdate}},
        {true, "Readme", {kTextQuit, kTextDirectXInstall, "Readme", kTextUpdate}},
        {false, "", {kTextQuit, "", kTextUpdate}},  // an empty caption is not "-"
    };
    const ButtonAction actions_of[] = {kActionQuit, kActionDirectX, kActionReadme, kActionUpdate};
    for (const auto& c : cases) {
        ButtonSlot slots[kSlotCount];
        int count = BuildButtonColumn(c.directx, c.readme, slots);
        ASSERT_EQ(count, (int)c.texts.size()) << c.directx << c.readme;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (slot >= count) {
                EXPECT_EQ(slots[slot].text, nullptr);
                EXPECT_EQ(slots[slot].action, kActionNone);
                continue;
            }
            EXPECT_EQ(slots[slot].text, c.texts[slot]) << slot;
            const std::string& text = c.texts[slot];
            ButtonAction expected = text == kTextQuit             ? actions_of[0]
                                    : text == kTextDirectXInstall ? actions_of[1]
                                    : text == kTextUpdate         ? actions_of[3]
                                                                  : actions_of[2];
            EXPECT_EQ(slots[slot].action, expected) << slot;
        }
    }
}

}  // namespace

// The start-up window's button column for a DirectX folder and a readme caption.
#include "ui/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "texts.h"

TEST(ButtonColumn, FromTheBottomUp) {
    typedef std::pair<std::string, ButtonAction> Button;
    const Button quit = {kTextQuit, kActionQuit}, update = {kTextUpdate, kActionUpdate},
                 directx = {kTextDirectXInstall, kActionDirectX};
    const struct { bool directx; const char* readme; std::vector<Button> buttons; } cases[] = {
        {false, "-", {quit, update}},
        {false, "-readme", {quit, update}},                // any leading "-" means none
        {false, "", {quit, {"", kActionReadme}, update}},  // an empty caption is not "-"
        {true, "Readme", {quit, directx, {"Readme", kActionReadme}, update}},
    };
    for (const auto& c : cases) {
        ButtonSlot slots[kSlotCount];
        ASSERT_EQ(BuildButtonColumn(c.directx, c.readme, slots), (int)c.buttons.size()) << c.readme;
        std::vector<Button> got, expected = c.buttons;
        for (const ButtonSlot& s : slots) got.push_back({s.text ? s.text : "(none)", s.action});
        expected.resize(kSlotCount, {"(none)", kActionNone});
        EXPECT_EQ(got, expected) << c.readme;
    }
}

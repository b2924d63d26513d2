// The start-up window: the title picture on the left and a column of up to
// four buttons on the right, filled from the bottom (slot 0) upwards.
#include "ui/startup_win.h"

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "base/window_win.h"
#include "base/workfolder.h"
#include "config/settings.h"
#include "resources/resource.h"
#include "texts.h"
#include "ui/launch_win.h"
#include "ui/msgbox.h"
#include "ui/startup.h"

namespace {

// Control id of each slot, lowest button first.
const int kSlotIds[kSlotCount] = {
    IDC_MAIN_SLOT0, IDC_MAIN_SLOT1, IDC_MAIN_SLOT2, IDC_MAIN_SLOT3, IDC_MAIN_SLOT4,
    IDC_MAIN_SLOT5, IDC_MAIN_SLOT6, IDC_MAIN_SLOT7, IDC_MAIN_SLOT8,
};

ButtonAction g_actions[kSlotCount];

// Set while a button command runs: the copy pumps messages, so clicks and
// close requests arrive in the middle of it and must be ignored.
bool g_busy = false;

// INSTREADME's caption at start, INSTREADMEFL's file name when it is opened.
char g_readme[128];

void SetTitle(HWND window, const char* title) {
    wchar_t wide[kPathCapacity];
    Cp932ToWideForDisplay(title, wide, kPathCapacity);
    SetWindowTextW(window, wide);
}

// Stands in for the update procedure until it exists: tells the user that
// nothing was done, and the window stays open.
int ApplyUpdate() {
    ErrorBox(kTextUpdateCancelled);
    return -1;
}

void EndStartupWindow(HWND window) {
    RemoveWorkFolder();
    EndDialog(window, 0);
}

// Slot index of a command word, or -1 when it is not a slot's button.
int FindSlot(WPARAM command) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if ((WPARAM)kSlotIds[slot] == command) return slot;
    }
    return -1;
}

// Down then Up, each pressed and released, as the first updaters did at
// start-up, so that the window reacts to the keyboard as players know it.
void PressDownThenUp() {
    const BYTE keys[] = {VK_DOWN, VK_UP};
    for (BYTE key : keys) {
        keybd_event(key, 0, 0, 0);
        keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    }
}

INT_PTR OnInitDialog(HWND window) {
    SetMainWindow(window);
    CenterOnScreen(window);
    g_busy = false;
    SetTitle(window, WindowTitle());

    SettingTextInto(kSettingInstReadme, g_readme, sizeof g_readme);
    ButtonSlot slots[kSlotCount];
    BuildButtonColumn(OsGetPathKind("DirectX") == kOsFolder, g_readme, slots);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        g_actions[slot] = slots[slot].action;
        if (!slots[slot].text) {
            DestroyWindow(GetDlgItem(window, kSlotIds[slot]));
            continue;
        }
        wchar_t wide[128];
        Cp932ToWideForDisplay(slots[slot].text, wide, 128);
        SetDlgItemTextW(window, kSlotIds[slot], wide);
    }
    PressDownThenUp();
    // No control gets the focus.
    return FALSE;
}

void RunAction(HWND window, ButtonAction action) {
    switch (action) {
        case kActionUpdate:
            if (ApplyUpdate() == 0) EndStartupWindow(window);
            break;
        case kActionDirectX:
            RunProgram("DirectX\\dxsetup.exe");
            break;
        case kActionQuit:
            EndStartupWindow(window);
            break;
        case kActionReadme:
            SettingTextInto(kSettingInstReadmeFl, g_readme, sizeof g_readme);
            ShellOpen(g_readme);
            break;
        case kActionNone:
            break;
    }
}

INT_PTR OnCommand(HWND window, WPARAM wparam) {
    if (g_busy) return TRUE;
    g_busy = true;
    // The whole command word: a notification other than a click is not a press.
    int slot = FindSlot(wparam);
    if (slot >= 0) RunAction(window, g_actions[slot]);
    g_busy = false;
    return TRUE;
}

INT_PTR OnClose(HWND window) {
    if (!g_busy) EndStartupWindow(window);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK StartupWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(window);
        case WM_COMMAND:
            return OnCommand(window, wparam);
        case WM_CLOSE:
            return OnClose(window);
        default:
            return FALSE;
    }
}

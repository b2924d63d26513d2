// The start-up window: a column of up to nine button slots, filled from the
// bottom (slot 0) upwards with the actions this run offers.
#include "ui/startup_win.h"

#include "base/window_win.h"
#include "base/wide_win.h"
#include "base/workfolder.h"
#include "resources/resource.h"
#include "config/settings.h"
#include "texts.h"

namespace {

// What a slot's button does.
enum ButtonAction {
    kActionNone = 0,
    kActionUpdate = 1,
    kActionDirectX = 2,
    kActionQuit = 3,
    kActionReadme = 5,
};

enum { kSlotCount = 9 };

// Control id of each slot, lowest button first.
const int kSlotIds[kSlotCount] = {
    IDC_MAIN_SLOT0, IDC_MAIN_SLOT1, IDC_MAIN_SLOT2, IDC_MAIN_SLOT3, IDC_MAIN_SLOT4,
    IDC_MAIN_SLOT5, IDC_MAIN_SLOT6, IDC_MAIN_SLOT7, IDC_MAIN_SLOT8,
};

ButtonAction g_actions[kSlotCount];

// Set while a button command runs: the copy pumps messages, so clicks and
// close requests arrive in the middle of it and must be ignored.
bool g_busy = false;

void SetTitle(HWND window, const char* title) {
    wchar_t wide[260];
    Cp932ToWideForDisplay(title, wide, 260);
    SetWindowTextW(window, wide);
}

// Gives the next free slot a text and an action; returns the slot after it.
int FillSlot(HWND window, int slot, const char* text, ButtonAction action) {
    if (slot >= kSlotCount) return slot;
    wchar_t wide[128];
    Cp932ToWideForDisplay(text, wide, 128);
    SetDlgItemTextW(window, kSlotIds[slot], wide);
    g_actions[slot] = action;
    return slot + 1;
}

void EndStartupWindow(HWND window) {
    RemoveWorkFolder();
    EndDialog(window, 0);
}

// Slot index of a command id, or -1 when the id is not a slot's button.
int FindSlot(WPARAM command) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if ((WPARAM)kSlotIds[slot] == command) return slot;
    }
    return -1;
}

INT_PTR OnInitDialog(HWND window) {
    SetMainWindow(window);
    CenterOnScreen(window);
    g_busy = false;
    SetTitle(window, WindowTitle());

    int next = FillSlot(window, 0, kTextQuit, kActionQuit);
    // The update, DirectX and readme slots arrive with the full start-up window.
    for (int slot = next; slot < kSlotCount; ++slot) {
        DestroyWindow(GetDlgItem(window, kSlotIds[slot]));
        g_actions[slot] = kActionNone;
    }
    // No control gets the focus.
    return FALSE;
}

void RunAction(HWND window, ButtonAction action) {
    switch (action) {
        case kActionQuit:
            EndStartupWindow(window);
            break;
        case kActionUpdate:
        case kActionDirectX:
        case kActionReadme:
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

// The start-up window: the title picture on the left and a column of up to
// four buttons on the right, filled from the bottom (slot 0) upwards.
#include "ui/startup_win.h"

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "shell/window_win.h"
#include "base/workfolder.h"
#include "config/settings.h"
#include "image/rct.h"
#include "resources/resource.h"
#include "texts.h"
#include "shell/launch_win.h"
#include "ui/startup.h"
#include "update/apply_win.h"

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

// The title picture and its top-left corner in client coordinates; without a
// picture (not an RCT file, damaged) the window runs with an empty left side.
ImageSurface* g_picture = nullptr;
POINT g_picture_at;

void SetTitle(HWND window, const char* title) {
    wchar_t wide[kPathCapacity];
    Cp932ToWideForDisplay(title, wide, kPathCapacity);
    SetWindowTextW(window, wide);
}

void EndStartupWindow(HWND window) {
    FreeImageSurface(g_picture, 0);
    g_picture = nullptr;
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

    // A missing file is asked about (Retry/Cancel) by the file layer.
    g_picture = LoadRctImage(kTitlePictureName);
    if (g_picture) {
        RECT client;
        GetClientRect(window, &client);
        // Both from the client height, as the first updaters placed it: the
        // picture sits in the square at the left of the window.
        LONG height = client.bottom - client.top;
        g_picture_at.x = (height - g_picture->width) / 2;
        g_picture_at.y = (height - g_picture->height) / 2;
    }
    // No control gets the focus.
    return FALSE;
}

INT_PTR OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (g_picture) {
        StretchDIBits(dc, g_picture_at.x, g_picture_at.y, g_picture->width, g_picture->height, 0, 0,
                      g_picture->width, g_picture->height, g_picture->pixels,
                      (const BITMAPINFO*)g_picture->info, DIB_RGB_COLORS, SRCCOPY);
    }
    EndPaint(window, &paint);
    return TRUE;
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
        case WM_PAINT:
            return OnPaint(window);
        case WM_COMMAND:
            return OnCommand(window, wparam);
        case WM_CLOSE:
            return OnClose(window);
        default:
            return FALSE;
    }
}

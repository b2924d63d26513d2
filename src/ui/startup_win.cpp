// The start-up window: the title picture on the left and a column of up to
// four buttons on the right, filled from the bottom (slot 0) upwards.
#include "ui/startup_win.h"

#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "config/settings.h"
#include "image/rct.h"
#include "resources/resource.h"
#include "shell/exitpath_win.h"
#include "shell/launch_win.h"
#include "shell/msgbox_win.h"
#include "shell/window_win.h"
#include "target/locate_win.h"
#include "texts.h"
#include "ui/startup.h"
#include "ui/updatedialogs_win.h"
#include "update/apply_win.h"

namespace {

// Control id of each slot, lowest button first.
const int kSlotIds[kSlotCount] = {
    IDC_MAIN_SLOT0, IDC_MAIN_SLOT1, IDC_MAIN_SLOT2, IDC_MAIN_SLOT3, IDC_MAIN_SLOT4,
    IDC_MAIN_SLOT5, IDC_MAIN_SLOT6, IDC_MAIN_SLOT7, IDC_MAIN_SLOT8,
};

// The state of the one start-up window: its procedure gets it only with
// WM_INITDIALOG.
StartupWindow* g_window = nullptr;

void SetTitle(HWND window, const char* title) {
    wchar_t wide[kPathCapacity];
    Cp932ToWideForDisplay(title, wide, kPathCapacity);
    SetWindowTextW(window, wide);
}

// The one way the window ends: the run's end is told and the work folder
// dealt with while the window still owns the boxes.
void EndStartupWindow(HWND window, RunEnd end) {
    FreeImageSurface(g_window->picture, 0);
    g_window->picture = nullptr;
    g_window->end = end;
    g_window->exit_code = EndRun(end);
    EndDialog(window, 1);
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
    g_window->busy = false;
    char title[kPathCapacity];
    WindowTitle(title, sizeof title);
    SetTitle(window, title);

    SettingTextInto(kSettingInstReadme, g_window->readme, sizeof g_window->readme);
    ButtonSlot slots[kSlotCount];
    BuildButtonColumn(OsGetPathKind("DirectX") == kOsFolder, g_window->readme, slots);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        g_window->actions[slot] = slots[slot].action;
        if (!slots[slot].text) {
            DestroyWindow(GetDlgItem(window, kSlotIds[slot]));
            continue;
        }
        wchar_t wide[128];
        Cp932ToWideForDisplay(slots[slot].text, wide, 128);
        SetDlgItemTextW(window, kSlotIds[slot], wide);
    }
    PressDownThenUp();

    // A missing file is asked about (Retry/Cancel) by the file layer; after
    // Cancel the run ends.
    bool declined = false;
    ImageSurface* picture = LoadRctImage(kTitlePictureName, &declined);
    if (declined) {
        EndStartupWindow(window, {kRunCancelled, nullptr, 0});
        return FALSE;
    }
    g_window->picture = picture;
    if (picture) {
        RECT client;
        GetClientRect(window, &client);
        // Both from the client height, as the first updaters placed it: the
        // picture sits in the square at the left of the window.
        LONG height = client.bottom - client.top;
        g_window->picture_at.x = (height - picture->width) / 2;
        g_window->picture_at.y = (height - picture->height) / 2;
    }
    // No control gets the focus.
    return FALSE;
}

INT_PTR OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const ImageSurface* picture = g_window->picture;
    if (picture) {
        StretchDIBits(dc, g_window->picture_at.x, g_window->picture_at.y, picture->width,
                      picture->height, 0, 0, picture->width, picture->height, picture->pixels,
                      (const BITMAPINFO*)picture->info, DIB_RGB_COLORS, SRCCOPY);
    }
    EndPaint(window, &paint);
    return TRUE;
}

// The "アップデート" button: find the game (asking for its folder when it
// cannot be found), update it, say it is done, open the readme when asked.
// kRunLeft with the window to end after an update, or the run's end; the
// window stays when the update stopped before anything was copied (the user
// has been told).
bool ApplyUpdate(RunEnd* end) {
    *end = {kRunLeft, nullptr, 0};
    char target[kPathCapacity];
    LocateResult located = LocateTarget(target);
    if (located == kLocateNotFound &&
        AskYesNo(kTextAskManualTarget, SettingText(kSettingTitleBar))) {
        located = ChooseTarget(target);
    }
    if (located == kLocateEndsRun) {
        end->outcome = kRunCancelled;
        return true;
    }
    if (located != kLocateFound) {
        ErrorBox(kTextUpdateCancelled);
        return false;
    }
    switch (InstallUpdate(target, &end->quit_code)) {
        case kInstallRefused:
            return false;
        case kInstallPayloadDamaged:
            end->outcome = kRunPayloadDamaged;
            return true;
        case kInstallQuit:
            end->outcome = kRunQuit;
            return true;
        case kInstallDone:
            break;
    }
    char caption[kLineCapacity];
    SettingTextInto(kSettingInstReadme, caption, sizeof caption);
    bool readme_wanted = ShowEndDialog(caption);
    // The readme's relative name is the copy just unpacked into the game.
    OsSetCurrentFolder(target);
    if (readme_wanted) {
        char readme[kLineCapacity];
        SettingTextInto(kSettingInstReadmeFl, readme, sizeof readme);
        ShellOpen(readme);
    }
    return true;
}

void RunAction(HWND window, ButtonAction action) {
    RunEnd end = {kRunLeft, nullptr, 0};
    switch (action) {
        case kActionUpdate:
            if (ApplyUpdate(&end)) EndStartupWindow(window, end);
            break;
        case kActionDirectX:
            RunProgram("DirectX\\dxsetup.exe");
            break;
        case kActionQuit:
            EndStartupWindow(window, end);
            break;
        case kActionReadme:
            SettingTextInto(kSettingInstReadmeFl, g_window->readme, sizeof g_window->readme);
            ShellOpen(g_window->readme);
            break;
        case kActionNone:
            break;
    }
}

INT_PTR OnCommand(HWND window, WPARAM wparam) {
    if (g_window->busy) return TRUE;
    g_window->busy = true;
    // The whole command word: a notification other than a click is not a press.
    int slot = FindSlot(wparam);
    if (slot >= 0) RunAction(window, g_window->actions[slot]);
    g_window->busy = false;
    return TRUE;
}

INT_PTR OnClose(HWND window) {
    if (!g_window->busy) EndStartupWindow(window, {kRunLeft, nullptr, 0});
    return TRUE;
}

INT_PTR CALLBACK StartupWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            g_window = (StartupWindow*)lparam;
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

}  // namespace

void RunStartupWindow(StartupWindow* window) {
    window->end = {kRunLeft, nullptr, 0};
    window->exit_code = 0;
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), L"MAINDIALOG", nullptr,
                                     StartupWindowProc, (LPARAM)window);
    if (result == 1) return;  // ended through EndStartupWindow
    // -1: the window could not be created at all. 0: its loop took a quit
    // message, which ends the run where it stands.
    FreeImageSurface(window->picture, 0);
    window->picture = nullptr;
    window->end = {result == -1 ? kRunStartupWindowFailed : kRunQuit, nullptr, 0};
    window->exit_code = EndRun(window->end);
}

// The main window record and the message pump of the one GUI thread.
#include "shell/window_win.h"

#include "base/text.h"
#include "base/wide_win.h"
#include "config/settings.h"
#include "texts.h"

namespace {

// The owner of every box and dialog: the window procedure of the start-up
// window sets it, and the boxes deep in the procedures cannot be handed it.
HWND g_main_window = nullptr;

}  // namespace

void SetMainWindow(HWND window) {
    g_main_window = window;
}

HWND GetMainWindow() {
    return g_main_window;
}

HINSTANCE GetMainWindowInstance() {
    // Every window of the program comes from the executable's own templates,
    // so its instance is the executable's, with or without a main window.
    return GetModuleHandleW(nullptr);
}

void WindowTitle(char* out, size_t capacity) {
    FormatText(out, capacity, kTextUpdaterSuffix, SettingText(kSettingTitleBar));
}

bool PumpMessages(int* quit_code) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            *quit_code = (int)message.wParam;
            return false;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

bool PumpWalkMessages(void* context, int* quit_code) {
    return PumpMessages(quit_code);
}

void CenterOnScreen(HWND window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    HDC dc = GetDC(window);
    int screen_width = GetDeviceCaps(dc, HORZRES);
    int screen_height = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(window, dc);
    SetWindowPos(window, nullptr, (screen_width - width) / 2, (screen_height - height) / 2, 0, 0,
                 SWP_NOZORDER | SWP_NOSIZE);
}

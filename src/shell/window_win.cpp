// The main window record and the message pump of the one GUI thread.
#include "shell/window_win.h"

#include "base/text.h"
#include "base/wide_win.h"

namespace {

HWND g_main_window = nullptr;
char g_main_window_text[kPathCapacity];

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

const char* GetMainWindowText() {
    g_main_window_text[0] = '\0';
    if (!g_main_window) return g_main_window_text;
    wchar_t title[kPathCapacity];
    if (GetWindowTextW(g_main_window, title, kPathCapacity) > 0) {
        WideToCp932ForDisplay(title, g_main_window_text, sizeof g_main_window_text);
    }
    return g_main_window_text;
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

// uidriver: the bench's hands and eyes inside Wine. It runs in the wineserver
// of the program under test, takes one command a line on standard input
// (CMD<TAB>key=value..., each value's UTF-8 bytes in hex) and answers each
// with one JSON object (UTF-8) on a line, always with "ok". Started processes
// and held mutexes and files stay alive until it ends.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include <iostream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

typedef std::string S;
typedef std::map<S, S> Args;
typedef std::vector<std::pair<const char*, S>> Fields;

S Utf8(const wchar_t* text) {
    int units = lstrlenW(text);
    S out(WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, units, &out[0], (int)out.size(), nullptr, nullptr);
    return out;
}

std::wstring Wide(const S& text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out(units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], units);
    return out;
}

S Quote(const S& text) {
    S out = "\"";
    for (unsigned char c : text) {
        char escape[8];
        wsprintfA(escape, c < 0x20 ? "\\u%04x" : c == '"' || c == '\\' ? "\\%c" : "%c", c);
        out += escape;
    }
    return out + "\"";
}

S Num(long long value) { return std::to_string(value); }

// JSON of values that are JSON already: an object of fields, or an array
// item added to one that is still open ("[" when empty).
S Obj(const Fields& fields) {
    S out;
    for (const auto& field : fields)
        out += S(out.empty() ? "{" : ",") + Quote(field.first) + ":" + field.second;
    return out + "}";
}

void Append(S* array, const S& item) { *array += (array->size() > 1 ? "," : "") + item; }

S Rect(RECT r) {
    return Obj({{"left", Num(r.left)}, {"top", Num(r.top)}, {"right", Num(r.right)},
                {"bottom", Num(r.bottom)}});
}

const S kOk = "{\"ok\":true}";
S Fail(const S& message) { return Obj({{"ok", "false"}, {"error", Quote(message)}}); }
S Done(bool ok, const char* error) { return ok ? kOk : Fail(error); }

S Str(const Args& args, const char* key) { return args.count(key) ? args.at(key) : S(); }

long long Int(const Args& args, const char* key, long long fallback = 0) {
    return args.count(key) ? strtoll(args.at(key).c_str(), nullptr, 0) : fallback;
}

HWND Hwnd(const Args& args) { return (HWND)(UINT_PTR)Int(args, "hwnd"); }

// The window a command acts on: hwnd itself, or its child with id=N.
HWND Target(const Args& args) {
    return args.count("id") ? GetDlgItem(Hwnd(args), (int)Int(args, "id")) : Hwnd(args);
}

LRESULT Ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &answer);
    return (LRESULT)answer;
}

S ClassOf(HWND window) {
    wchar_t name[256] = {0};
    GetClassNameW(window, name, 256);
    return Utf8(name);
}

// WM_GETTEXT is marshalled across processes, while GetWindowText of a foreign
// window sees only what the system stores. Room for far more than a box holds.
S TextOf(HWND window) {
    std::vector<wchar_t> text(1 << 16, 0);
    Ask(window, WM_GETTEXT, text.size() - 1, (LPARAM)text.data());
    return Utf8(text.data());
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    ((std::vector<HWND>*)list)->push_back(window);
    return TRUE;
}

std::vector<HWND> Windows(HWND parent) {
    std::vector<HWND> list;
    parent ? EnumChildWindows(parent, Collect, (LPARAM)&list) : EnumWindows(Collect, (LPARAM)&list);
    return list;
}

// Filters of windows: pid, cls, title (whole), visible.
bool Matches(HWND window, const Args& args) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return (!args.count("pid") || pid == (DWORD)Int(args, "pid")) &&
           (!Int(args, "visible") || IsWindowVisible(window)) &&
           (!args.count("cls") || ClassOf(window) == Str(args, "cls")) &&
           (!args.count("title") || TextOf(window) == Str(args, "title"));
}

// What windows and controls tell of a window ("title") or control ("text").
Fields Describe(HWND window, const char* text) {
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(window, &rect);
    return {{"class", Quote(ClassOf(window))},
            {text, Quote(TextOf(window))},
            {"rect", Rect(rect)},
            {"visible", Num(IsWindowVisible(window) != 0)},
            {"hwnd", Num((UINT_PTR)window)},
            {"owner", Num((UINT_PTR)GetWindow(window, GW_OWNER))}};
}

std::map<DWORD, HANDLE> g_processes;  // the programs started here, by process id
std::vector<HANDLE> g_held;           // mutexes and files held until the driver ends

// The top-level windows that match (a dialog exists, hidden, a moment before
// its controls are filled in: visible=1 waits for it).
S CmdWindows(const Args& args) {
    S items = "[";
    for (HWND window : Windows(nullptr))
        if (Matches(window, args)) Append(&items, Obj(Describe(window, "title")));
    return Obj({{"ok", "true"}, {"windows", items + "]"}});
}

// The controls, with a check box's check and a progress bar's upper bound and
// position (asked with a null range pointer, so that nothing is marshalled),
// and the client area on screen: where a window draws its own content.
S CmdControls(const Args& args) {
    HWND window = Hwnd(args);
    if (!IsWindow(window)) return Fail("no such window");
    S items = "[";
    for (HWND control : Windows(window)) {
        Fields fields = Describe(control, "text");
        S cls = ClassOf(control);
        fields.push_back({"id", Num((short)GetDlgCtrlID(control))});
        fields.push_back({"enabled", Num(IsWindowEnabled(control) != 0)});
        if (lstrcmpiA(cls.c_str(), "Button") == 0)
            fields.push_back({"checked", Num(Ask(control, BM_GETCHECK, 0, 0))});
        if (lstrcmpiA(cls.c_str(), PROGRESS_CLASSA) == 0)
            fields.push_back({"progress", Obj({{"high", Num((int)Ask(control, PBM_GETRANGE, FALSE, 0))},
                                               {"pos", Num((int)Ask(control, PBM_GETPOS, 0, 0))}})});
        Append(&items, Obj(fields));
    }
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, (POINT*)&client, 2);
    return Obj({{"ok", "true"}, {"client", Rect(client)}, {"controls", items + "]"}});
}

// Posted, never sent: a click that opens a modal box would otherwise keep the
// driver waiting until that box is closed.
S Post(HWND window, UINT message, WPARAM wparam) {
    return Done(IsWindow(window) && PostMessageW(window, message, wparam, 0), "no such window");
}

// A key goes to the control that has the focus in the window's thread, as a
// key the user pressed would.
S CmdKey(const Args& args) {
    HWND target = Hwnd(args);
    if (!IsWindow(target)) return Fail("no such window");
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    if (GetGUIThreadInfo(GetWindowThreadProcessId(target, nullptr), &gui) && gui.hwndFocus)
        target = gui.hwndFocus;
    UINT vk = (UINT)Int(args, "vk");
    LPARAM scan = (LPARAM)MapVirtualKeyW(vk, 0) << 16;
    PostMessageW(target, WM_KEYDOWN, vk, 1 | scan);
    PostMessageW(target, WM_KEYUP, vk, 1 | scan | 0xC0000000u);
    return kOk;
}

bool OpenClipboardPatiently() {
    for (int i = 0; i < 200; ++i, Sleep(25))
        if (OpenClipboard(nullptr)) return true;
    return false;
}

// A text format's bytes up to its NUL unit as hex digits (CF_TEXT whatever its
// code page, CF_UNICODETEXT as UTF-16LE); null when the clipboard lacks it.
S ClipboardHex(UINT format, SIZE_T unit) {
    HANDLE data = GetClipboardData(format);
    const unsigned char* bytes = data ? (const unsigned char*)GlobalLock(data) : nullptr;
    if (!bytes) return "null";
    S hex;
    for (SIZE_T i = 0; i + unit <= GlobalSize(data) && (bytes[i] || bytes[i + unit - 1]); i += unit)
        for (SIZE_T k = i; k < i + unit; ++k) {
            hex += "0123456789abcdef"[bytes[k] >> 4];
            hex += "0123456789abcdef"[bytes[k] & 15];
        }
    GlobalUnlock(data);
    return Quote(hex);
}

S CmdClipboard(const Args&) {
    if (!OpenClipboardPatiently()) return Fail("cannot open the clipboard");
    S answer = Obj({{"ok", "true"},
                    {"text_hex", ClipboardHex(CF_TEXT, 1)},
                    {"unicode_hex", ClipboardHex(CF_UNICODETEXT, 2)}});
    CloseClipboard();
    return answer;
}

// Fills the clipboard with text (the system makes its code page form), so
// that a test can tell whether the program under test touched it.
S CmdClipSet(const Args& args) {
    if (!OpenClipboardPatiently()) return Fail("cannot open the clipboard");
    EmptyClipboard();
    std::wstring text = Wide(Str(args, "text"));
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (block) memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    if (block) GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
    return kOk;
}

// Started here rather than with "wine PROGRAM" from Linux: the handle keeps
// the full 32-bit exit code, which wine's own exit status cuts to 8 bits.
S CmdStart(const Args& args) {
    std::wstring exe = Wide(Str(args, "exe")), cwd = Wide(Str(args, "cwd"));
    std::wstring line = L"\"" + exe + L"\" " + Wide(Str(args, "args"));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE output =
        CreateFileW(Wide(Str(args, "out")).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) return Fail("cannot create the output file");
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION info;
    BOOL started = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  cwd.empty() ? nullptr : cwd.c_str(), &startup, &info);
    DWORD error = GetLastError();
    CloseHandle(output);
    if (!started) return Fail("CreateProcess failed with " + Num(error));
    CloseHandle(info.hThread);
    g_processes[info.dwProcessId] = info.hProcess;
    return Obj({{"ok", "true"}, {"pid", Num(info.dwProcessId)}, {"tid", Num(info.dwThreadId)}});
}

HANDLE Started(const Args& args) {
    DWORD pid = (DWORD)Int(args, "pid");
    return g_processes.count(pid) ? g_processes[pid] : nullptr;
}

S CmdWaitExit(const Args& args) {
    HANDLE process = Started(args);
    DWORD code = 0;
    if (!process) return Fail("not started here");
    if (WaitForSingleObject(process, (DWORD)Int(args, "timeout", 10000)) != WAIT_OBJECT_0)
        return Obj({{"ok", "true"}, {"exited", "false"}});
    GetExitCodeProcess(process, &code);
    return Obj({{"ok", "true"}, {"exited", "true"}, {"code", Num(code)}});
}

S CmdKill(const Args& args) {
    HANDLE process = Started(args);
    return process && TerminateProcess(process, 1) ? kOk : Fail("not started here");
}

// Holds until the driver ends a named mutex, initially owned (name=), or a file
// open with no sharing (path=), as a running game or a virus scanner can.
S CmdHold(const Args& args) {
    HANDLE held = args.count("name")
                      ? CreateMutexW(nullptr, TRUE, Wide(Str(args, "name")).c_str())
                      : CreateFileW(Wide(Str(args, "path")).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!held || held == INVALID_HANDLE_VALUE) return Fail("cannot hold it");
    g_held.push_back(held);
    return Obj({{"ok", "true"}, {"existed", Num(existed)}});
}

// Stops or lets go on the thread tid, so that a test can act while nothing
// moves. Reading the thread's context returns only once a suspension took effect.
S SuspendOrResume(const Args& args, bool suspend) {
    HANDLE thread =
        OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, (DWORD)Int(args, "tid"));
    if (!thread) return Fail("cannot open the thread");
    DWORD before = suspend ? SuspendThread(thread) : ResumeThread(thread);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (suspend && before != (DWORD)-1) GetThreadContext(thread, &context);
    CloseHandle(thread);
    return Done(before != (DWORD)-1, "the thread refused");
}

// The 32-bit pixels of a width x height picture that starts filled with fill
// (or as the screen at left, top when fill is 0) after icon is drawn on it.
std::vector<DWORD> Pixels(int width, int height, DWORD fill, HICON icon, int left, int top) {
    std::vector<DWORD> pixels((size_t)width * height, fill);
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(info.bmiHeader), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        memcpy(bits, pixels.data(), pixels.size() * sizeof(DWORD));
        HGDIOBJ old = SelectObject(memory, bitmap);
        icon ? DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL)
             : BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY);
        GdiFlush();
        memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Icons of another process cannot be read through their handle under Wine:
// the control's pixels on screen are compared with each system icon drawn over
// the same background, until one matches (all but 1/50 of the pixels) or the timeout.
S CmdIcon(const Args& args) {
    static const std::pair<const char*, LPCWSTR> kIcons[] = {
        {"error", IDI_HAND}, {"question", IDI_QUESTION}, {"warning", IDI_EXCLAMATION},
        {"information", IDI_ASTERISK}};
    HWND control = Target(args);
    RECT r;
    if (!IsWindow(control) || !GetWindowRect(control, &r)) return Fail("no such control");
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) return Fail("odd control size");
    RedrawWindow(GetAncestor(control, GA_ROOT), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    for (DWORD start = GetTickCount();; Sleep(50)) {
        std::vector<DWORD> shown = Pixels(width, height, 0, nullptr, r.left, r.top);
        S best;
        for (const auto& icon : kIcons) {
            std::vector<DWORD> drawn =
                Pixels(width, height, shown[0], LoadIconW(nullptr, icon.second), 0, 0);
            size_t count = 0;
            for (size_t i = 0; i < drawn.size(); ++i)
                count += ((drawn[i] ^ shown[i]) & 0xFFFFFF) != 0;
            if (count <= shown.size() / 50) best = icon.first;
        }
        if (!best.empty() || GetTickCount() - start >= (DWORD)Int(args, "timeout", 5000))
            return Obj({{"ok", "true"}, {"best", Quote(best)}});
    }
}

const std::pair<const char*, S (*)(const Args&)> kCommands[] = {
    {"windows", CmdWindows},
    {"controls", CmdControls},
    {"click", [](const Args& args) { return Post(Target(args), BM_CLICK, 0); }},
    {"key", CmdKey},
    {"close", [](const Args& args) { return Post(Hwnd(args), WM_CLOSE, 0); }},
    // WM_COMMAND with a bare id, as the dialog manager sends IDOK for Enter
    // when no button has the focus.
    {"command", [](const Args& args) { return Post(Hwnd(args), WM_COMMAND, Int(args, "id")); }},
    // A dialog control's text, as typing into it would leave it.
    {"settext",
     [](const Args& args) {
         return Done(SetDlgItemTextW(Hwnd(args), (int)Int(args, "id"), Wide(Str(args, "text")).c_str()),
                     "no such control");
     }},
    // A thread message (WM_QUIT, or a test program's own) to the thread tid.
    {"post",
     [](const Args& args) {
         return Done(PostThreadMessageW((DWORD)Int(args, "tid"), (UINT)Int(args, "msg"),
                                        (WPARAM)Int(args, "wparam"), 0),
                     "PostThreadMessage failed");
     }},
    {"clipboard", CmdClipboard},
    {"clipset", CmdClipSet},
    {"start", CmdStart},
    {"waitexit", CmdWaitExit},
    {"hold", CmdHold},
    {"suspend", [](const Args& args) { return SuspendOrResume(args, true); }},
    {"resume", [](const Args& args) { return SuspendOrResume(args, false); }},
    // Renames a file or folder, as another program of the user might try.
    {"move",
     [](const Args& args) {
         return Done(MoveFileW(Wide(Str(args, "from")).c_str(), Wide(Str(args, "to")).c_str()),
                     "refused");
     }},
    {"kill", CmdKill},
    {"icon", CmdIcon},
};

S RunLine(const S& line) {
    Args args;
    for (size_t tab = line.find('\t'); tab != S::npos; tab = line.find('\t', tab + 1)) {
        S token = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1), value;
        size_t equals = token.find('=');
        for (size_t i = equals + 1; equals != S::npos && i + 1 < token.size(); i += 2)
            value += (char)strtol(token.substr(i, 2).c_str(), nullptr, 16);
        if (equals != S::npos) args[token.substr(0, equals)] = value;
    }
    for (const auto& command : kCommands)
        if (line.substr(0, line.find('\t')) == command.first) return command.second(args);
    return Fail("unknown command " + line.substr(0, line.find('\t')));
}

}  // namespace

int wmain() {
    printf("{\"ok\":true,\"ready\":true}\n");
    fflush(stdout);
    for (S line; std::getline(std::cin, line) && line != "exit"; fflush(stdout))
        if (!line.empty()) printf("%s\n", RunLine(line).c_str());
    for (HANDLE held : g_held) CloseHandle(held);
    for (auto& process : g_processes) CloseHandle(process.second);
    return 0;
}

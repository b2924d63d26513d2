// uidriver: the bench's hands and eyes inside Wine. It runs in the same
// wineserver as the program under test, takes one command a line on standard
// input (CMD<TAB>key=value..., values UTF-8 with %XX escapes) and answers each
// with one JSON object (UTF-8) on a line. Started processes and held mutexes
// stay alive between commands.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

namespace {

typedef std::map<std::string, std::string> Args;

std::string ToUtf8(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.pop_back();  // the NUL
    return out;
}

std::wstring ToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out(units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], units);
    return out;
}

// ---------------------------------------------------------------- JSON out

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char escape[8];
            wsprintfA(escape, "\\u%04x", c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string Number(long long value) {
    char digits[32];
    wsprintfA(digits, "%I64d", value);
    return digits;
}

struct Json {
    std::string body;
    Json& Raw(const char* key, const std::string& json) {
        body += (body.empty() ? "" : ",") + Quote(key) + ":" + json;
        return *this;
    }
    Json& Str(const char* key, const std::string& value) { return Raw(key, Quote(value)); }
    Json& Int(const char* key, long long value) { return Raw(key, Number(value)); }
    Json& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
    std::string Text() const { return "{" + body + "}"; }
};

std::string Array(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
    return "[" + out + "]";
}

std::string RectJson(const RECT& r) {
    char json[96];
    wsprintfA(json, "{\"left\":%ld,\"top\":%ld,\"right\":%ld,\"bottom\":%ld}", r.left, r.top,
              r.right, r.bottom);
    return json;
}

std::string Ok() {
    return "{\"ok\":true}";
}

std::string Fail(const std::string& message) {
    return Json().Bool("ok", false).Str("error", message).Text();
}

// ---------------------------------------------------------------- arguments

bool Has(const Args& args, const char* key) {
    return args.count(key) != 0;
}

std::string GetStr(const Args& args, const char* key) {
    auto it = args.find(key);
    return it == args.end() ? std::string() : it->second;
}

long long GetInt(const Args& args, const char* key, long long fallback = 0) {
    auto it = args.find(key);
    return it == args.end() ? fallback : strtoll(it->second.c_str(), nullptr, 0);
}

HWND GetHwnd(const Args& args) {
    return (HWND)(UINT_PTR)GetInt(args, "hwnd");
}

// The window a command acts on: hwnd itself, or its child with id=N.
HWND Target(const Args& args) {
    HWND window = GetHwnd(args);
    return Has(args, "id") ? GetDlgItem(window, (int)GetInt(args, "id")) : window;
}

// ---------------------------------------------------------------- windows

std::string ClassOf(HWND window) {
    wchar_t name[256] = {0};
    GetClassNameW(window, name, 256);
    return ToUtf8(name);
}

// WM_GETTEXT is marshalled across processes, while GetWindowText of a foreign
// window sees only what the system stores. It is asked once with a buffer
// that leaves room to spare, never sized by WM_GETTEXTLENGTH first: the text
// can change between the two messages, and a buffer sized for the old text
// cuts the new one. An answer that fills the buffer is asked again with more.
std::string TextOf(HWND window) {
    for (size_t size = 1024; size <= (1u << 20); size *= 8) {
        std::vector<wchar_t> text(size, 0);
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXT, size, (LPARAM)text.data(), SMTO_ABORTIFHUNG,
                                 5000, &copied))
            return std::string();
        text[size - 1] = 0;
        if (lstrlenW(text.data()) + 1 < (int)size) return ToUtf8(text.data());
    }
    return std::string();
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    ((std::vector<HWND>*)list)->push_back(window);
    return TRUE;
}

std::vector<HWND> Windows(HWND parent) {
    std::vector<HWND> list;
    if (parent)
        EnumChildWindows(parent, CollectWindow, (LPARAM)&list);
    else
        EnumWindows(CollectWindow, (LPARAM)&list);
    return list;
}

// Filters of windows and wait: pid, cls, title (whole), visible.
bool Matches(HWND window, const Args& args) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (Has(args, "pid") && pid != (DWORD)GetInt(args, "pid")) return false;
    if (GetInt(args, "visible") && !IsWindowVisible(window)) return false;
    if (Has(args, "cls") && ClassOf(window) != GetStr(args, "cls")) return false;
    return !Has(args, "title") || TextOf(window) == GetStr(args, "title");
}

std::string WindowJson(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(window, &rect);
    return Json()
        .Int("hwnd", (long long)(UINT_PTR)window)
        .Str("class", ClassOf(window))
        .Str("title", TextOf(window))
        .Int("owner", (long long)(UINT_PTR)GetWindow(window, GW_OWNER))
        .Raw("rect", RectJson(rect))
        .Bool("visible", IsWindowVisible(window) != 0)
        .Int("pid", pid)
        .Text();
}

// The programs started here ("start"), by process id.
std::map<DWORD, HANDLE> g_processes;

// windows lists every match; wait polls until a visible one (unless
// visible=0) appears: a dialog exists, hidden, a moment before its controls
// are filled in.
std::string FindWindows(const Args& args, bool wait) {
    Args filter = args;
    if (wait) filter.insert({"visible", "1"});
    for (DWORD start = GetTickCount();; Sleep(50)) {
        std::vector<std::string> items;
        for (HWND window : Windows(nullptr))
            if (Matches(window, filter)) items.push_back(WindowJson(window));
        if (!wait) return Json().Bool("ok", true).Raw("windows", Array(items)).Text();
        if (!items.empty()) return Json().Bool("ok", true).Raw("window", items[0]).Text();
        // A program of ours that has ended shows no window any more: said at
        // once, with its exit code, instead of after the whole wait.
        auto started =
            Has(args, "pid") ? g_processes.find((DWORD)GetInt(args, "pid")) : g_processes.end();
        DWORD code = 0;
        if (started != g_processes.end() &&
            WaitForSingleObject(started->second, 0) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(started->second, &code))
            return Json().Bool("ok", false).Bool("exited", true).Int("code", code).Text();
        if (GetTickCount() - start >= (DWORD)GetInt(args, "timeout", 10000))
            return Fail("timeout waiting for window");
    }
}

std::string ControlJson(HWND control) {
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(control, &rect);
    std::string cls = ClassOf(control);
    Json c;
    c.Int("id", (short)GetDlgCtrlID(control))
        .Str("class", cls)
        .Str("text", TextOf(control))
        .Raw("rect", RectJson(rect))
        .Bool("enabled", IsWindowEnabled(control) != 0)
        .Bool("visible", IsWindowVisible(control) != 0);
    if (lstrcmpiA(cls.c_str(), "Button") == 0) {
        DWORD_PTR state = 0;  // BST_CHECKED (1) for a ticked check box
        SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
        c.Int("checked", (int)state);
    }
    if (lstrcmpiA(cls.c_str(), PROGRESS_CLASSA) == 0) {
        // With a null range pointer the message answers one limit, so nothing
        // is marshalled. Three messages agree only while the program holds
        // still, as the copy tests make it.
        DWORD_PTR low = 0, high = 0, pos = 0;
        SendMessageTimeoutW(control, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &low);
        SendMessageTimeoutW(control, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &high);
        SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos);
        c.Raw("progress",
              Json().Int("low", (int)low).Int("high", (int)high).Int("pos", (int)pos).Text());
    }
    return c.Text();
}

std::string CmdControls(const Args& args) {
    HWND window = GetHwnd(args);
    if (!IsWindow(window)) return Fail("no such window");
    std::vector<std::string> items;
    for (HWND child : Windows(window)) items.push_back(ControlJson(child));
    // The client area on screen: where a window draws its own content.
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, (POINT*)&client, 2);
    return Json()
        .Bool("ok", true)
        .Raw("client", RectJson(client))
        .Raw("controls", Array(items))
        .Text();
}

// ---------------------------------------------------------------- input

// Posted, never sent: a click that opens a modal box would otherwise keep the
// driver waiting until that box is closed.
std::string Post(HWND window, UINT message, WPARAM wparam) {
    if (!IsWindow(window)) return Fail("no such window");
    PostMessageW(window, message, wparam, 0);
    return Ok();
}

// A key goes to the control that has the focus in the window's thread, as a
// key the user pressed would.
std::string CmdKey(const Args& args) {
    HWND target = GetHwnd(args);
    if (!IsWindow(target)) return Fail("no such window");
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    if (GetGUIThreadInfo(GetWindowThreadProcessId(target, nullptr), &gui) && gui.hwndFocus)
        target = gui.hwndFocus;
    UINT vk = (UINT)GetInt(args, "vk");
    LPARAM scan = (LPARAM)MapVirtualKeyW(vk, 0) << 16;
    PostMessageW(target, WM_KEYDOWN, vk, 1 | scan);
    PostMessageW(target, WM_KEYUP, vk, 1 | scan | 0xC0000000u);
    return Ok();
}

// A dialog control's text, as typing into it would leave it: the system
// marshals WM_SETTEXT across processes.
std::string CmdSetText(const Args& args) {
    HWND window = GetHwnd(args);
    if (!IsWindow(GetDlgItem(window, (int)GetInt(args, "id")))) return Fail("no such control");
    SetDlgItemTextW(window, (int)GetInt(args, "id"), ToWide(GetStr(args, "text")).c_str());
    return Ok();
}

// A thread message (WM_QUIT, or a test program's own) to the thread tid.
std::string CmdPost(const Args& args) {
    if (!PostThreadMessageW((DWORD)GetInt(args, "tid"), (UINT)GetInt(args, "msg"),
                            (WPARAM)GetInt(args, "wparam"), 0))
        return Fail("PostThreadMessage failed");
    return Ok();
}

// ---------------------------------------------------------------- clipboard

bool OpenClipboardPatiently() {
    for (int i = 0; i < 200; ++i) {
        if (OpenClipboard(nullptr)) return true;
        Sleep(25);
    }
    return false;
}

// A text format's bytes up to its NUL unit, as a JSON string of hex digits
// (CF_TEXT whatever its code page, CF_UNICODETEXT as UTF-16LE); null when the
// clipboard lacks the format.
std::string ClipboardHex(UINT format, SIZE_T unit) {
    HANDLE data = GetClipboardData(format);
    const unsigned char* bytes = data ? (const unsigned char*)GlobalLock(data) : nullptr;
    if (!bytes) return "null";
    std::string hex;
    for (SIZE_T i = 0; i + unit <= GlobalSize(data); i += unit) {
        if (bytes[i] == 0 && bytes[i + unit - 1] == 0) break;
        for (SIZE_T k = i; k < i + unit; ++k) {
            hex += "0123456789abcdef"[bytes[k] >> 4];
            hex += "0123456789abcdef"[bytes[k] & 15];
        }
    }
    GlobalUnlock(data);
    return Quote(hex);
}

// The formats and both text forms, all read under one opening.
std::string CmdClipboard(const Args&) {
    if (!OpenClipboardPatiently()) return Fail("cannot open the clipboard");
    std::vector<std::string> formats;
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format))
        formats.push_back(Number(format));
    std::string answer = Json()
                             .Bool("ok", true)
                             .Raw("formats", Array(formats))
                             .Raw("text_hex", ClipboardHex(CF_TEXT, 1))
                             .Raw("unicode_hex", ClipboardHex(CF_UNICODETEXT, 2))
                             .Text();
    CloseClipboard();
    return answer;
}

HGLOBAL GlobalCopy(const void* data, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block) {
        memcpy(GlobalLock(block), data, size);
        GlobalUnlock(block);
    }
    return block;
}

// Empties the clipboard, or fills both text formats with text, so that a test
// can tell whether the program under test touched it.
std::string CmdClipSet(const Args& args) {
    if (!OpenClipboardPatiently()) return Fail("cannot open the clipboard");
    EmptyClipboard();
    if (Has(args, "text")) {
        std::string text = GetStr(args, "text");
        std::wstring wide = ToWide(text);
        SetClipboardData(CF_TEXT, GlobalCopy(text.c_str(), text.size() + 1));
        SetClipboardData(CF_UNICODETEXT, GlobalCopy(wide.c_str(), (wide.size() + 1) * 2));
    }
    CloseClipboard();
    return Ok();
}

// ---------------------------------------------------------------- processes

std::vector<HANDLE> g_held;  // mutexes and files held until the driver ends

// Started here rather than with "wine PROGRAM" from Linux: the handle keeps
// the full 32-bit exit code, which wine's own exit status cuts to 8 bits.
std::string CmdStart(const Args& args) {
    std::wstring exe = ToWide(GetStr(args, "exe"));
    std::wstring line = L"\"" + exe + L"\" " + ToWide(GetStr(args, "args"));
    std::wstring cwd = ToWide(GetStr(args, "cwd"));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE output =
        CreateFileW(ToWide(GetStr(args, "out")).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) return Fail("cannot create the output file");
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION info;
    BOOL started = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  cwd.empty() ? nullptr : cwd.c_str(), &startup, &info);
    DWORD error = GetLastError();
    CloseHandle(output);
    if (!started) return Fail("CreateProcess failed with " + Number(error));
    CloseHandle(info.hThread);
    g_processes[info.dwProcessId] = info.hProcess;
    return Json().Bool("ok", true).Int("pid", info.dwProcessId).Int("tid", info.dwThreadId).Text();
}

std::string CmdWaitExit(const Args& args) {
    auto it = g_processes.find((DWORD)GetInt(args, "pid"));
    if (it == g_processes.end()) return Fail("not started here");
    DWORD code = 0;
    if (WaitForSingleObject(it->second, (DWORD)GetInt(args, "timeout", 10000)) != WAIT_OBJECT_0)
        return Json().Bool("ok", true).Bool("exited", false).Text();
    GetExitCodeProcess(it->second, &code);
    return Json().Bool("ok", true).Bool("exited", true).Int("code", code).Text();
}

std::string CmdKill(const Args& args) {
    auto it = g_processes.find((DWORD)GetInt(args, "pid"));
    if (it == g_processes.end()) return Fail("not started here");
    TerminateProcess(it->second, 1);
    return Ok();
}

// Holds a named mutex, initially owned, until the driver ends.
std::string CmdMutex(const Args& args) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, ToWide(GetStr(args, "name")).c_str());
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!mutex) return Fail("CreateMutex failed");
    g_held.push_back(mutex);
    return Json().Bool("ok", true).Bool("existed", existed).Text();
}

// Opens a file with no sharing at all and keeps it open until the driver
// ends: the way another program (a running game, a virus scanner) can hold
// a file that the updater means to replace.
std::string CmdHoldFile(const Args& args) {
    HANDLE file = CreateFileW(ToWide(GetStr(args, "path")).c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail("cannot open the file");
    g_held.push_back(file);
    return Ok();
}

// Stops or lets go on the thread tid, so that a test can queue messages for a
// busy program and act on what it left on disk while nothing moves.
std::string SuspendOrResume(const Args& args, bool suspend) {
    HANDLE thread =
        OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, (DWORD)GetInt(args, "tid"));
    if (!thread) return Fail("cannot open the thread");
    DWORD before = suspend ? SuspendThread(thread) : ResumeThread(thread);
    // A suspension takes effect a moment later; reading the thread's context
    // returns only once it has.
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (suspend && before != (DWORD)-1) GetThreadContext(thread, &context);
    CloseHandle(thread);
    if (before == (DWORD)-1) return Fail("the thread refused");
    return Json().Bool("ok", true).Int("count", before).Text();
}

// Renames a file or folder, as another program of the user might try.
std::string CmdMove(const Args& args) {
    if (!MoveFileW(ToWide(GetStr(args, "from")).c_str(), ToWide(GetStr(args, "to")).c_str()))
        return Fail("refused");
    return Ok();
}

// ---------------------------------------------------------------- pixels

// Runs draw on a top-down 32-bit picture of width x height that starts as
// pixels, and returns what it holds afterwards.
template <typename Draw>
std::vector<DWORD> DrawInto(std::vector<DWORD> pixels, int width, int height, Draw draw) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        memcpy(bits, pixels.data(), pixels.size() * sizeof(DWORD));
        HGDIOBJ old = SelectObject(memory, bitmap);
        draw(memory, screen);
        GdiFlush();
        memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Icons of another process cannot be read through their handle under Wine,
// so the icon control's pixels on screen are compared with each system icon
// drawn over the same background. The window must be unobscured. A box just
// shown may not be painted yet: its painting is forced, and the screen read
// again until one icon matches (all but 1/50 of the pixels) or the timeout.
std::string CmdIcon(const Args& args) {
    static const struct {
        const char* name;
        LPCWSTR id;
    } kIcons[] = {{"error", IDI_HAND},
                  {"question", IDI_QUESTION},
                  {"warning", IDI_EXCLAMATION},
                  {"information", IDI_ASTERISK}};
    HWND control = Target(args);
    if (!IsWindow(control)) return Fail("no such control");
    RECT r;
    GetWindowRect(control, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) return Fail("odd control size");
    RedrawWindow(GetAncestor(control, GA_ROOT), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<DWORD> shown = DrawInto(
            std::vector<DWORD>((size_t)width * height), width, height, [&](HDC memory, HDC screen) {
                BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
            });
        Json differences;
        const char* best = "";
        for (const auto& icon : kIcons) {
            std::vector<DWORD> drawn = DrawInto(
                std::vector<DWORD>(shown.size(), shown[0]), width, height, [&](HDC memory, HDC) {
                    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, icon.id), 0, 0, 0, nullptr,
                               DI_NORMAL);
                });
            long long count = 0;
            for (size_t i = 0; i < drawn.size(); ++i)
                count += ((drawn[i] ^ shown[i]) & 0xFFFFFF) != 0;
            differences.Int(icon.name, count);
            if (count <= (long long)shown.size() / 50) best = icon.name;
        }
        if (*best || GetTickCount() - start >= (DWORD)GetInt(args, "timeout", 5000)) {
            Json answer;
            return answer.Bool("ok", true)
                .Str("best", best)
                .Raw("differences", differences.Text())
                .Text();
        }
        Sleep(50);
    }
}

// ---------------------------------------------------------------- dispatch

const struct {
    const char* name;
    std::string (*run)(const Args&);
} kCommands[] = {
    {"windows", [](const Args& args) { return FindWindows(args, false); }},
    {"wait", [](const Args& args) { return FindWindows(args, true); }},
    {"controls", CmdControls},
    {"click", [](const Args& args) { return Post(Target(args), BM_CLICK, 0); }},
    {"key", CmdKey},
    {"close", [](const Args& args) { return Post(GetHwnd(args), WM_CLOSE, 0); }},
    // WM_COMMAND with a bare id, as the dialog manager sends IDOK for Enter
    // when no button has the focus.
    {"command",
     [](const Args& args) { return Post(GetHwnd(args), WM_COMMAND, GetInt(args, "id")); }},
    {"settext", CmdSetText},
    {"post", CmdPost},
    {"clipboard", CmdClipboard},
    {"clipset", CmdClipSet},
    {"start", CmdStart},
    {"waitexit", CmdWaitExit},
    {"mutex", CmdMutex},
    {"holdfile", CmdHoldFile},
    {"suspend", [](const Args& args) { return SuspendOrResume(args, true); }},
    {"resume", [](const Args& args) { return SuspendOrResume(args, false); }},
    {"move", CmdMove},
    {"kill", CmdKill},
    {"icon", CmdIcon},
};

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += (char)strtol(text.substr(i + 1, 2).c_str(), nullptr, 16);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string RunLine(const std::string& line) {
    std::string name = line.substr(0, line.find('\t'));
    Args args;
    for (size_t tab = line.find('\t'); tab != std::string::npos;) {
        size_t next = line.find('\t', tab + 1);
        std::string token = line.substr(tab + 1, next == std::string::npos ? next : next - tab - 1);
        size_t equals = token.find('=');
        if (equals != std::string::npos)
            args[token.substr(0, equals)] = PercentDecode(token.substr(equals + 1));
        tab = next;
    }
    for (const auto& command : kCommands)
        if (name == command.name) return command.run(args);
    return Fail("unknown command " + name);
}

}  // namespace

int wmain() {
    printf("{\"ok\":true,\"ready\":true}\n");
    fflush(stdout);
    std::string line;
    for (int c; (c = getchar()) != EOF;) {
        if (c != '\n') {
            line += (char)c;
            continue;
        }
        if (line == "exit") break;
        if (!line.empty()) printf("%s\n", RunLine(line).c_str());
        fflush(stdout);
        line.clear();
    }
    for (HANDLE held : g_held) CloseHandle(held);
    for (auto& process : g_processes) CloseHandle(process.second);
    return 0;
}

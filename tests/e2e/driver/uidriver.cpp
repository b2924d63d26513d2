// uidriver: the bench's hands and eyes inside Wine. It runs in the same
// wineserver as the program under test and answers one JSON object per line
// (UTF-8) on standard output.
//
// Commands come either from the command line (one command: uidriver CMD
// key=value ...) or, with no arguments, as lines on standard input:
//   CMD<TAB>key=value<TAB>key=value...
// Values are UTF-8 with %XX escapes (so tabs, newlines and '%' travel safely).
// The persistent form keeps mutexes, held files and started processes alive
// between commands and saves starting Wine for every step.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <mmsystem.h>

#include <map>
#include <string>
#include <vector>

namespace {

typedef std::map<std::string, std::string> Args;

// ---------------------------------------------------------------- text

std::string ToUtf8(const wchar_t* text, int length = -1) {
    if (length == 0) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], bytes, nullptr, nullptr);
    if (length < 0 && !out.empty() && out.back() == '\0') out.pop_back();
    return out;
}

std::wstring ToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out(units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], units);
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back((char)(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// ---------------------------------------------------------------- JSON out

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    wsprintfA(buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out.push_back((char)c);
                }
        }
    }
    return out + "\"";
}

// Builds one flat or nested JSON object; members are appended in order.
struct Json {
    std::string body;
    void Key(const char* key) {
        if (!body.empty()) body += ",";
        body += Quote(key) + ":";
    }
    Json& Str(const char* key, const std::string& value) {
        Key(key);
        body += Quote(value);
        return *this;
    }
    Json& Int(const char* key, long long value) {
        Key(key);
        char buffer[32];
        wsprintfA(buffer, "%I64d", value);
        body += buffer;
        return *this;
    }
    Json& Bool(const char* key, bool value) {
        Key(key);
        body += value ? "true" : "false";
        return *this;
    }
    Json& Null(const char* key) {
        Key(key);
        body += "null";
        return *this;
    }
    Json& Raw(const char* key, const std::string& json) {
        Key(key);
        body += json;
        return *this;
    }
    std::string Text() const { return "{" + body + "}"; }
};

std::string Array(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ",";
        out += items[i];
    }
    return out + "]";
}

std::string RectJson(const RECT& r) {
    Json j;
    j.Int("left", r.left).Int("top", r.top).Int("right", r.right).Int("bottom", r.bottom);
    return j.Text();
}

void Emit(const std::string& line) {
    std::string out = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), (DWORD)out.size(), &written, nullptr);
}

std::string Fail(const std::string& message) {
    Json j;
    j.Bool("ok", false).Str("error", message);
    return j.Text();
}

// ---------------------------------------------------------------- arguments

bool Has(const Args& args, const char* key) {
    return args.count(key) != 0;
}

std::string GetStr(const Args& args, const char* key, const std::string& fallback = "") {
    auto it = args.find(key);
    return it == args.end() ? fallback : it->second;
}

long long GetInt(const Args& args, const char* key, long long fallback = 0) {
    auto it = args.find(key);
    if (it == args.end() || it->second.empty()) return fallback;
    const std::string& s = it->second;
    size_t i = 0;
    bool negative = false;
    if (s[0] == '-') {
        negative = true;
        i = 1;
    }
    long long value = 0;
    int base = 10;
    if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    for (; i < s.size(); ++i) {
        int digit = HexDigit(s[i]);
        if (digit < 0 || digit >= base) break;
        value = value * base + digit;
    }
    return negative ? -value : value;
}

HWND GetHwnd(const Args& args, const char* key = "hwnd") {
    return (HWND)(UINT_PTR)GetInt(args, key, 0);
}

// The window a command acts on: hwnd itself, or its child with id=N.
HWND Target(const Args& args) {
    HWND window = GetHwnd(args);
    if (Has(args, "id")) return GetDlgItem(window, (int)GetInt(args, "id"));
    return window;
}

// ---------------------------------------------------------------- windows

std::string ClassOf(HWND window) {
    wchar_t buffer[256] = {0};
    GetClassNameW(window, buffer, 256);
    return ToUtf8(buffer);
}

// Reads a window's text even from another process: WM_GETTEXT is marshalled
// across processes, while GetWindowText of a foreign window only sees the
// caption stored at creation (wrong for an edit field the user typed into).
std::string TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &length)) {
        std::vector<wchar_t> buffer(length + 2, 0);
        DWORD_PTR copied = 0;
        if (SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(),
                                SMTO_ABORTIFHUNG, 1000, &copied))
            return ToUtf8(buffer.data());
    }
    wchar_t fallback[1024] = {0};
    GetWindowTextW(window, fallback, 1024);
    return ToUtf8(fallback);
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return s;
}

// Process id -> executable base name, lower case.
std::map<DWORD, std::string> ProcessNames() {
    std::map<DWORD, std::string> names;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return names;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        std::string name = LowerAscii(ToUtf8(entry.szExeFile));
        size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos) name = name.substr(slash + 1);
        names[entry.th32ProcessID] = name;
    }
    CloseHandle(snapshot);
    return names;
}

struct WindowFilter {
    bool byPid = false;
    DWORD pid = 0;
    std::string exe;  // lower case, empty = any
    std::string cls, title, titleContains, text;
    bool visibleOnly = false;
};

WindowFilter FilterFrom(const Args& args) {
    WindowFilter f;
    if (Has(args, "pid")) {
        f.byPid = true;
        f.pid = (DWORD)GetInt(args, "pid");
    }
    f.exe = LowerAscii(GetStr(args, "exe"));
    f.cls = GetStr(args, "cls");
    f.title = GetStr(args, "title");
    f.titleContains = GetStr(args, "title_contains");
    f.text = GetStr(args, "text");
    f.visibleOnly = GetInt(args, "visible", 0) != 0;
    return f;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    ((std::vector<HWND>*)list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> list;
    EnumWindows(CollectWindow, (LPARAM)&list);
    return list;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> list;
    EnumChildWindows(parent, CollectWindow, (LPARAM)&list);
    return list;
}

bool AnyChildContains(HWND window, const std::string& text) {
    if (TextOf(window).find(text) != std::string::npos) return true;
    for (HWND child : ChildWindows(window))
        if (TextOf(child).find(text) != std::string::npos) return true;
    return false;
}

bool Matches(HWND window, const WindowFilter& f, const std::map<DWORD, std::string>& names) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (f.byPid && pid != f.pid) return false;
    if (!f.exe.empty()) {
        auto it = names.find(pid);
        if (it == names.end() || it->second != f.exe) return false;
    }
    if (f.visibleOnly && !IsWindowVisible(window)) return false;
    if (!f.cls.empty() && ClassOf(window) != f.cls) return false;
    if (!f.title.empty() || !f.titleContains.empty()) {
        std::string title = TextOf(window);
        if (!f.title.empty() && title != f.title) return false;
        if (!f.titleContains.empty() && title.find(f.titleContains) == std::string::npos)
            return false;
    }
    if (!f.text.empty() && !AnyChildContains(window, f.text)) return false;
    return true;
}

std::string WindowJson(HWND window, const std::map<DWORD, std::string>& names) {
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(window, &pid);
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(window, &rect);
    auto name = names.find(pid);
    Json j;
    j.Int("hwnd", (long long)(UINT_PTR)window)
        .Str("class", ClassOf(window))
        .Str("title", TextOf(window))
        .Int("owner", (long long)(UINT_PTR)GetWindow(window, GW_OWNER))
        .Raw("rect", RectJson(rect))
        .Bool("visible", IsWindowVisible(window) != 0)
        .Bool("enabled", IsWindowEnabled(window) != 0)
        .Int("pid", pid)
        .Int("tid", tid)
        .Str("exe", name == names.end() ? "" : name->second);
    return j.Text();
}

std::string CmdWindows(const Args& args) {
    WindowFilter f = FilterFrom(args);
    auto names = ProcessNames();
    std::vector<std::string> items;
    for (HWND window : TopLevelWindows())
        if (Matches(window, f, names)) items.push_back(WindowJson(window, names));
    Json j;
    j.Bool("ok", true).Raw("windows", Array(items));
    return j.Text();
}

// Polls until a top-level window matches; visible windows only unless visible=0,
// because a dialog exists (hidden) a moment before its controls are filled in.
std::string CmdWait(const Args& args) {
    Args copy = args;
    if (!Has(copy, "visible")) copy["visible"] = "1";
    WindowFilter f = FilterFrom(copy);
    DWORD timeout = (DWORD)GetInt(args, "timeout", 10000);
    DWORD start = GetTickCount();
    for (;;) {
        auto names = ProcessNames();
        for (HWND window : TopLevelWindows()) {
            if (Matches(window, f, names)) {
                Json j;
                j.Bool("ok", true).Raw("window", WindowJson(window, names));
                return j.Text();
            }
        }
        if (GetTickCount() - start >= timeout) return Fail("timeout waiting for window");
        Sleep(50);
    }
}

std::string CmdControls(const Args& args) {
    HWND window = GetHwnd(args);
    if (!IsWindow(window)) return Fail("no such window");
    DWORD tid = GetWindowThreadProcessId(window, nullptr);
    GUITHREADINFO gui;
    gui.cbSize = sizeof(gui);
    HWND focus = GetGUIThreadInfo(tid, &gui) ? gui.hwndFocus : nullptr;

    std::vector<std::string> items;
    for (HWND child : ChildWindows(window)) {
        int id = GetDlgCtrlID(child);
        std::string cls = ClassOf(child);
        std::string lower = LowerAscii(cls);
        RECT rect = {0, 0, 0, 0};
        GetWindowRect(child, &rect);
        Json c;
        c.Int("hwnd", (long long)(UINT_PTR)child)
            .Int("parent", (long long)(UINT_PTR)GetParent(child))
            .Int("id", (short)id)
            .Int("id_unsigned", (unsigned short)id)
            .Str("class", cls)
            .Str("text", TextOf(child))
            .Int("style", (unsigned long)GetWindowLongW(child, GWL_STYLE))
            .Int("exstyle", (unsigned long)GetWindowLongW(child, GWL_EXSTYLE))
            .Raw("rect", RectJson(rect))
            .Bool("enabled", IsWindowEnabled(child) != 0)
            .Bool("visible", IsWindowVisible(child) != 0)
            .Bool("focus", child == focus);
        DWORD_PTR value = 0;
        if (lower == "button" &&
            SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000, &value))
            c.Int("checked", (long long)value);
        else
            c.Null("checked");
        if (lower == "msctls_progress32") {
            // With a null range pointer the message answers one limit, so
            // nothing has to be marshalled between the processes.
            DWORD_PTR low = 0, high = 0, pos = 0;
            SendMessageTimeoutW(child, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 1000, &low);
            SendMessageTimeoutW(child, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &high);
            SendMessageTimeoutW(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos);
            Json p;
            p.Int("low", (int)low).Int("high", (int)high).Int("pos", (int)pos);
            c.Raw("progress", p.Text());
        }
        items.push_back(c.Text());
    }
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    Json area;
    area.Int("x", origin.x)
        .Int("y", origin.y)
        .Int("width", client.right)
        .Int("height", client.bottom);
    Json j;
    j.Bool("ok", true)
        .Raw("window", WindowJson(window, ProcessNames()))
        .Raw("client", area.Text())
        .Raw("controls", Array(items));
    return j.Text();
}

// ---------------------------------------------------------------- input

// Posted, never sent: a click that opens a modal box would otherwise keep the
// driver waiting until that box is closed.
std::string CmdClick(const Args& args) {
    HWND button = Target(args);
    if (!IsWindow(button)) return Fail("no such control");
    PostMessageW(button, BM_CLICK, 0, 0);
    return "{\"ok\":true}";
}

std::string CmdCommand(const Args& args) {
    HWND window = GetHwnd(args);
    int id = (int)GetInt(args, "id");
    if (!IsWindow(window)) return Fail("no such window");
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
    return "{\"ok\":true}";
}

std::string CmdType(const Args& args) {
    HWND edit = Target(args);
    if (!IsWindow(edit)) return Fail("no such control");
    std::wstring text = ToWide(GetStr(args, "text"));
    if (GetStr(args, "mode") == "chars") {
        for (wchar_t unit : text) PostMessageW(edit, WM_CHAR, unit, 1);
    } else {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(edit, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, 2000,
                                 &result))
            return Fail("WM_SETTEXT timed out");
    }
    return "{\"ok\":true}";
}

std::string CmdCheck(const Args& args) {
    HWND box = Target(args);
    if (!IsWindow(box)) return Fail("no such control");
    DWORD_PTR want = (DWORD_PTR)GetInt(args, "state", 1);
    DWORD_PTR state = 0;
    SendMessageTimeoutW(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000, &state);
    if (state != want) {
        // A click (not BM_SETCHECK) so that the owner hears BN_CLICKED as it
        // would from the user.
        PostMessageW(box, BM_CLICK, 0, 0);
        for (int i = 0; i < 40 && state != want; ++i) {
            Sleep(50);
            SendMessageTimeoutW(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000, &state);
        }
    }
    Json j;
    j.Bool("ok", state == want).Int("checked", (long long)state);
    return j.Text();
}

std::string CmdKey(const Args& args) {
    HWND target = Target(args);
    UINT vk = (UINT)GetInt(args, "vk");
    if (GetInt(args, "focus", 0)) {
        DWORD tid = GetWindowThreadProcessId(GetHwnd(args), nullptr);
        GUITHREADINFO gui;
        gui.cbSize = sizeof(gui);
        if (GetGUIThreadInfo(tid, &gui) && gui.hwndFocus) target = gui.hwndFocus;
    }
    if (GetStr(args, "mode") == "input") {
        // Real keyboard input goes to the foreground window.
        if (target) SetForegroundWindow(GetAncestor(target, GA_ROOT));
        INPUT input[2];
        ZeroMemory(input, sizeof(input));
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wVk = input[1].ki.wVk = (WORD)vk;
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
        return "{\"ok\":true}";
    }
    if (!IsWindow(target)) return Fail("no such window");
    UINT scan = MapVirtualKeyW(vk, 0);
    PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
    return "{\"ok\":true}";
}

std::string CmdClose(const Args& args) {
    HWND window = GetHwnd(args);
    if (!IsWindow(window)) return Fail("no such window");
    PostMessageW(window, WM_CLOSE, 0, 0);
    return "{\"ok\":true}";
}

// ---------------------------------------------------------------- clipboard

bool OpenClipboardPatiently() {
    for (int i = 0; i < 40; ++i) {
        if (OpenClipboard(nullptr)) return true;
        Sleep(25);
    }
    return false;
}

std::string CmdClipboard(const Args&) {
    if (!OpenClipboardPatiently()) return Fail("cannot open the clipboard");
    std::vector<std::string> formats;
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
        char buffer[16];
        wsprintfA(buffer, "%u", format);
        formats.push_back(buffer);
    }
    Json j;
    j.Bool("ok", true).Raw("formats", Array(formats));
    HANDLE data = GetClipboardData(CF_TEXT);
    const unsigned char* bytes = data ? (const unsigned char*)GlobalLock(data) : nullptr;
    if (bytes) {
        SIZE_T size = GlobalSize(data);
        std::string hex;
        static const char digits[] = "0123456789abcdef";
        for (SIZE_T i = 0; i < size && bytes[i]; ++i) {
            hex.push_back(digits[bytes[i] >> 4]);
            hex.push_back(digits[bytes[i] & 15]);
        }
        GlobalUnlock(data);
        j.Str("text_hex", hex);
    } else {
        j.Null("text_hex");
    }
    data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* units = data ? (const wchar_t*)GlobalLock(data) : nullptr;
    if (units) {
        SIZE_T count = GlobalSize(data) / sizeof(wchar_t), length = 0;
        while (length < count && units[length]) ++length;
        j.Str("unicode", ToUtf8(units, (int)length));
        GlobalUnlock(data);
    } else {
        j.Null("unicode");
    }
    CloseClipboard();
    return j.Text();
}

HGLOBAL GlobalCopy(const void* data, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block) return nullptr;
    void* target = GlobalLock(block);
    memcpy(target, data, size);
    GlobalUnlock(block);
    return block;
}

// Empties the clipboard, or fills it with a known text in both formats so that
// a test can tell whether the program under test touched it.
std::string CmdClipSet(const Args& args) {
    if (!OpenClipboardPatiently()) return Fail("cannot open the clipboard");
    EmptyClipboard();
    if (Has(args, "text")) {
        std::string text = GetStr(args, "text");
        std::wstring wide = ToWide(text);
        SetClipboardData(CF_TEXT, GlobalCopy(text.c_str(), text.size() + 1));
        SetClipboardData(CF_UNICODETEXT,
                         GlobalCopy(wide.c_str(), (wide.size() + 1) * sizeof(wchar_t)));
    }
    CloseClipboard();
    return "{\"ok\":true}";
}

// ---------------------------------------------------------------- processes

std::map<DWORD, HANDLE> g_processes;
std::map<std::string, HANDLE> g_mutexes;
std::map<std::string, HANDLE> g_files;

// Started here rather than with "wine PROGRAM" from Linux: the handle keeps
// the full 32-bit exit code, which wine's own exit status cuts to 8 bits.
std::string CmdStart(const Args& args) {
    std::wstring exe = ToWide(GetStr(args, "exe"));
    std::wstring line = L"\"" + exe + L"\"";
    if (Has(args, "args")) line += L" " + ToWide(GetStr(args, "args"));
    std::wstring cwd = ToWide(GetStr(args, "cwd"));
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    HANDLE output = INVALID_HANDLE_VALUE;
    if (Has(args, "out")) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        output =
            CreateFileW(ToWide(GetStr(args, "out")).c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
        if (output != INVALID_HANDLE_VALUE) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = nullptr;
            startup.hStdOutput = startup.hStdError = output;
        }
    }
    PROCESS_INFORMATION info;
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(0);
    BOOL started = CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr,
                                  output != INVALID_HANDLE_VALUE, 0, nullptr,
                                  cwd.empty() ? nullptr : cwd.c_str(), &startup, &info);
    DWORD error = GetLastError();
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (!started) {
        Json j;
        j.Bool("ok", false).Str("error", "CreateProcess failed").Int("code", error);
        return j.Text();
    }
    CloseHandle(info.hThread);
    g_processes[info.dwProcessId] = info.hProcess;
    Json j;
    j.Bool("ok", true).Int("pid", info.dwProcessId).Int("tid", info.dwThreadId);
    return j.Text();
}

HANDLE ProcessHandle(DWORD pid) {
    auto it = g_processes.find(pid);
    if (it != g_processes.end()) return it->second;
    HANDLE process = OpenProcess(
        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    if (process) g_processes[pid] = process;
    return process;
}

std::string CmdWaitExit(const Args& args) {
    DWORD pid = (DWORD)GetInt(args, "pid");
    HANDLE process = ProcessHandle(pid);
    if (!process) return Fail("no such process");
    DWORD wait = WaitForSingleObject(process, (DWORD)GetInt(args, "timeout", 10000));
    Json j;
    j.Bool("ok", true);
    if (wait != WAIT_OBJECT_0) {
        j.Bool("exited", false);
        return j.Text();
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    j.Bool("exited", true).Int("code", code);
    return j.Text();
}

std::string CmdKill(const Args& args) {
    DWORD pid = (DWORD)GetInt(args, "pid");
    HANDLE process = ProcessHandle(pid);
    if (!process) return Fail("no such process");
    TerminateProcess(process, (UINT)GetInt(args, "code", 1));
    return "{\"ok\":true}";
}

std::string CmdPids(const Args& args) {
    std::string exe = LowerAscii(GetStr(args, "exe"));
    std::vector<std::string> pids;
    for (auto& entry : ProcessNames()) {
        if (!exe.empty() && entry.second != exe) continue;
        char buffer[16];
        wsprintfA(buffer, "%lu", entry.first);
        pids.push_back(buffer);
    }
    Json j;
    j.Bool("ok", true).Raw("pids", Array(pids));
    return j.Text();
}

std::string CmdPostQuit(const Args& args) {
    DWORD tid = (DWORD)GetInt(args, "tid");
    BOOL posted = PostThreadMessageW(tid, WM_QUIT, (WPARAM)GetInt(args, "code"), 0);
    Json j;
    j.Bool("ok", posted != 0);
    return j.Text();
}

// ---------------------------------------------------------------- objects

std::string CmdMutex(const Args& args) {
    std::string name = GetStr(args, "name");
    if (g_mutexes.count(name)) return Fail("already held");
    HANDLE mutex = CreateMutexW(nullptr, TRUE, ToWide(name).c_str());
    DWORD error = GetLastError();
    if (!mutex) return Fail("CreateMutex failed");
    g_mutexes[name] = mutex;
    Json j;
    j.Bool("ok", true).Bool("existed", error == ERROR_ALREADY_EXISTS);
    return j.Text();
}

std::string CmdRelease(const Args& args) {
    std::string name = GetStr(args, "name");
    auto it = g_mutexes.find(name);
    if (it == g_mutexes.end()) return Fail("not held");
    ReleaseMutex(it->second);
    CloseHandle(it->second);
    g_mutexes.erase(it);
    return "{\"ok\":true}";
}

std::string CmdMutexExists(const Args& args) {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, ToWide(GetStr(args, "name")).c_str());
    if (mutex) CloseHandle(mutex);
    Json j;
    j.Bool("ok", true).Bool("exists", mutex != nullptr);
    return j.Text();
}

std::string CmdHoldFile(const Args& args) {
    std::string path = GetStr(args, "path");
    if (g_files.count(path)) return Fail("already held");
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Json j;
        j.Bool("ok", false).Str("error", "CreateFile failed").Int("code", GetLastError());
        return j.Text();
    }
    g_files[path] = file;
    return "{\"ok\":true}";
}

std::string CmdReleaseFile(const Args& args) {
    auto it = g_files.find(GetStr(args, "path"));
    if (it == g_files.end()) return Fail("not held");
    CloseHandle(it->second);
    g_files.erase(it);
    return "{\"ok\":true}";
}

// Reads a registry value (root=HKCU or HKLM) without going through a console
// code page, so Japanese data arrives intact.
std::string CmdRegGet(const Args& args) {
    std::string root = GetStr(args, "root", "HKCU");
    HKEY base = root == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY key = nullptr;
    if (RegOpenKeyExW(base, ToWide(GetStr(args, "key")).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return "{\"ok\":true,\"exists\":false}";
    std::wstring name = ToWide(GetStr(args, "value"));
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 4, 0);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    Json j;
    j.Bool("ok", true);
    if (status != ERROR_SUCCESS) {
        j.Bool("exists", false).Bool("key", true);
        return j.Text();
    }
    j.Bool("exists", true).Int("type", type);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        size_t units = size / sizeof(wchar_t);
        const wchar_t* text = (const wchar_t*)data.data();
        while (units > 0 && text[units - 1] == 0) --units;
        j.Str("data", ToUtf8(text, (int)units));
    } else if (type == REG_DWORD && size >= 4) {
        j.Int("data", *(const DWORD*)data.data());
    } else {
        std::string hex;
        static const char digits[] = "0123456789abcdef";
        for (DWORD i = 0; i < size; ++i) {
            hex.push_back(digits[data[i] >> 4]);
            hex.push_back(digits[data[i] & 15]);
        }
        j.Str("hex", hex);
    }
    return j.Text();
}

std::string CmdClock(const Args&) {
    Json j;
    j.Bool("ok", true).Int("ms", timeGetTime());
    return j.Text();
}

// ---------------------------------------------------------------- pixels

// Runs draw on a top-down 32-bit picture of width x height that starts as
// pixels, and returns what it holds afterwards.
template <typename Draw>
std::vector<DWORD> DrawInto(std::vector<DWORD> pixels, int width, int height, Draw draw) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
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

// Captures a screen rectangle as 32-bit pixels (top-down).
std::vector<DWORD> Capture(const RECT& r) {
    int width = r.right - r.left, height = r.bottom - r.top;
    return DrawInto(std::vector<DWORD>((size_t)width * height, 0), width, height,
                    [&](HDC memory, HDC screen) {
                        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
                    });
}

// Draws icon over a plain background into a width x height picture.
std::vector<DWORD> Render(HICON icon, int width, int height, DWORD background) {
    return DrawInto(std::vector<DWORD>((size_t)width * height, background), width, height,
                    [&](HDC memory, HDC) {
                        DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
                    });
}

// Icons of another process cannot be read through their handle under Wine,
// so the icon control's pixels on screen are compared with each system icon
// drawn over the same background. The window must be unobscured.
std::string CmdIcon(const Args& args) {
    HWND control = Target(args);
    if (!IsWindow(control)) return Fail("no such control");
    RECT r;
    GetWindowRect(control, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) return Fail("odd control size");
    std::vector<DWORD> shown = Capture(r);
    DWORD background = shown[0] & 0xFFFFFF;
    struct {
        const char* name;
        LPCWSTR id;
    } icons[] = {{"error", IDI_HAND},
                 {"question", IDI_QUESTION},
                 {"warning", IDI_EXCLAMATION},
                 {"information", IDI_ASTERISK}};
    Json differences;
    const char* best = "";
    size_t bestCount = (size_t)-1;
    for (auto& icon : icons) {
        std::vector<DWORD> drawn = Render(LoadIconW(nullptr, icon.id), width, height, background);
        size_t count = 0;
        for (size_t i = 0; i < drawn.size(); ++i)
            if ((drawn[i] & 0xFFFFFF) != (shown[i] & 0xFFFFFF)) ++count;
        differences.Int(icon.name, (long long)count);
        if (count < bestCount) {
            bestCount = count;
            best = icon.name;
        }
    }
    Json j;
    j.Bool("ok", true)
        .Str("best", best)
        .Int("pixels", (long long)width * height)
        .Raw("differences", differences.Text());
    return j.Text();
}

// ---------------------------------------------------------------- dispatch

typedef std::string (*Command)(const Args&);

struct CommandEntry {
    const char* name;
    Command run;
};

const CommandEntry kCommands[] = {
    {"windows", CmdWindows},
    {"wait", CmdWait},
    {"controls", CmdControls},
    {"click", CmdClick},
    {"command", CmdCommand},
    {"type", CmdType},
    {"check", CmdCheck},
    {"key", CmdKey},
    {"close", CmdClose},
    {"clipboard", CmdClipboard},
    {"clipset", CmdClipSet},
    {"start", CmdStart},
    {"waitexit", CmdWaitExit},
    {"kill", CmdKill},
    {"pids", CmdPids},
    {"postquit", CmdPostQuit},
    {"mutex", CmdMutex},
    {"release", CmdRelease},
    {"mutexexists", CmdMutexExists},
    {"holdfile", CmdHoldFile},
    {"releasefile", CmdReleaseFile},
    {"clock", CmdClock},
    {"icon", CmdIcon},
    {"regget", CmdRegGet},
};

std::string Run(const std::string& name, const Args& args) {
    for (const CommandEntry& entry : kCommands)
        if (name == entry.name) return entry.run(args);
    return Fail("unknown command " + name);
}

// "key=value" with the value percent-decoded.
void AddArgument(Args& args, const std::string& token) {
    size_t equals = token.find('=');
    if (equals == std::string::npos)
        args[token] = "";
    else
        args[token.substr(0, equals)] = PercentDecode(token.substr(equals + 1));
}

std::string RunLine(const std::string& line) {
    std::vector<std::string> tokens;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        tokens.push_back(
            line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    Args args;
    for (size_t i = 1; i < tokens.size(); ++i) AddArgument(args, tokens[i]);
    return Run(tokens[0], args);
}

bool ReadLine(std::string& line) {
    line.clear();
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char c;
    DWORD got = 0;
    for (;;) {
        if (!ReadFile(input, &c, 1, &got, nullptr) || got == 0) return !line.empty();
        if (c == '\n') break;
        if (c != '\r') line.push_back(c);
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) {
        Args args;
        for (int i = 2; i < argc; ++i) AddArgument(args, ToUtf8(argv[i]));
        Emit(Run(ToUtf8(argv[1]), args));
        return 0;
    }
    Emit("{\"ok\":true,\"ready\":true}");
    std::string line;
    while (ReadLine(line)) {
        if (line.empty()) continue;
        if (line == "exit") break;
        Emit(RunLine(line));
    }
    for (auto& held : g_mutexes) {
        ReleaseMutex(held.second);
        CloseHandle(held.second);
    }
    for (auto& held : g_files) CloseHandle(held.second);
    for (auto& process : g_processes) CloseHandle(process.second);
    return 0;
}

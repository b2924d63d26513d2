// Registry reads and writes (see registry_win.h).
#include "shell/registry_win.h"

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <string.h>

#include "base/text.h"
#include "base/wide_win.h"

namespace {

// Which view of the registry: the game's installer is a 32-bit program, so on
// 64-bit Windows its HKLM\Software values landed in the 32-bit view
// (Software\WOW6432Node). The 32-bit updater is redirected to that same view
// without asking, and KEY_WOW64_64KEY would send it where the game never
// wrote. KEY_WOW64_32KEY names the 32-bit view explicitly: a no-op for the
// shipped 32-bit build (and ignored by 32-bit Windows), but it makes a 64-bit
// build of these sources, which the Wine bench runs on hosts without 32-bit
// execution, read and write where the installer did instead of the native
// view. HKCU\Software is shared by both views, so the flag changes nothing
// there.
const REGSAM kInstallerView = KEY_WOW64_32KEY;

// "Software\group\title" as UTF-16; the two names go in unchanged, "-"
// included. False when it does not fit or has no UTF-16 form.
bool KeyName(const char* group, const char* title, wchar_t (&wide)[kRegistryTextCapacity]) {
    char name[kRegistryTextCapacity];
    return CopyText(name, sizeof name, "Software\\") && AppendText(name, sizeof name, group) &&
           AppendText(name, sizeof name, "\\") && AppendText(name, sizeof name, title) &&
           Cp932ToWide(name, wide, kRegistryTextCapacity);
}

// Reads the REG_SZ value value_name under root\Software\group\title into
// text. False, with text untouched, for every case that leaves the caller's
// default in force.
bool ReadRegistryText(HKEY root, const char* group, const char* title, const char* value_name,
                      char (&text)[kRegistryTextCapacity]) {
    wchar_t wide_key[kRegistryTextCapacity];
    wchar_t wide_value[kRegistryTextCapacity];
    if (!KeyName(group, title, wide_key) ||
        !Cp932ToWide(value_name, wide_value, kRegistryTextCapacity)) {
        return false;
    }
    // Only reading: KEY_READ also for the user's key, where asking for full
    // access could only make the open fail and a readable version read as 0.
    HKEY key;
    if (RegOpenKeyExW(root, wide_key, 0, KEY_READ | kInstallerView, &key) != ERROR_SUCCESS) {
        return false;
    }
    // A text of 511 code page 932 bytes has at most 511 UTF-16 units, so a
    // longer value cannot fit and comes back as ERROR_MORE_DATA. One unit more
    // for the terminator that a stored string may lack.
    wchar_t data[kRegistryTextCapacity + 1];
    DWORD type = REG_NONE;
    DWORD size = kRegistryTextCapacity * sizeof(wchar_t);
    LONG status = RegQueryValueExW(key, wide_value, nullptr, &type, (BYTE*)data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    data[size / sizeof(wchar_t)] = L'\0';

    // Strict: a text with characters code page 932 cannot write, or more than
    // 511 bytes once written in it, is not the game's and is never cut.
    char converted[kRegistryTextCapacity];
    if (!WideToCp932(data, converted, sizeof converted)) return false;
    memcpy(text, converted, sizeof converted);
    return true;
}

int ReadRegistryInt(HKEY root, const char* group, const char* title, const char* value_name,
                    int fallback) {
    char text[kRegistryTextCapacity];
    if (!ReadRegistryText(root, group, title, value_name, text)) return fallback;
    return RegistryTextToInt(text);
}

}  // namespace

int ReadUserRegInt(const char* group, const char* title, const char* value_name, int fallback) {
    return ReadRegistryInt(HKEY_CURRENT_USER, group, title, value_name, fallback);
}

int ReadMachineRegInt(const char* group, const char* title, const char* value_name, int fallback) {
    return ReadRegistryInt(HKEY_LOCAL_MACHINE, group, title, value_name, fallback);
}

int ReadMachineRegString(const char* group, const char* title, const char* value_name,
                         const char* fallback, char* out, size_t capacity) {
    if (capacity == 0) return -1;
    char text[kRegistryTextCapacity];
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, group, title, value_name, text) &&
        strlen(text) < capacity) {
        memcpy(out, text, strlen(text) + 1);
        return 0;
    }
    // A folder cut to fit would be another folder: a default that does not
    // fit leaves the text empty, which no caller takes for a folder.
    if (fallback != out && !CopyText(out, capacity, fallback ? fallback : "")) out[0] = '\0';
    return -1;
}

int WriteRegString(const char* group, const char* title, const char* value_name,
                      const char* data) {
    wchar_t wide_key[kRegistryTextCapacity], wide_name[kRegistryTextCapacity],
        wide_data[kRegistryTextCapacity];
    if (!KeyName(group, title, wide_key) ||
        !Cp932ToWide(value_name, wide_name, kRegistryTextCapacity) ||
        !Cp932ToWide(data, wide_data, kRegistryTextCapacity)) {
        return -1;
    }
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, wide_key, 0, const_cast<wchar_t*>(L""),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | kInstallerView, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return -1;
    }
    // The data with its terminator, as a string value is stored.
    DWORD size = (DWORD)((wcslen(wide_data) + 1) * sizeof(wchar_t));
    LONG status = RegSetValueExW(key, wide_name, 0, REG_SZ, (const BYTE*)wide_data, size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : -1;
}

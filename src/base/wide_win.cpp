// Code page 932 <-> UTF-16 conversions with explicit buffers.
#include "base/wide_win.h"

#include <string.h>

#include "base/text.h"

namespace {

const UINT kCodePage932 = 932;

// MultiByteToWideChar and WideCharToMultiByte take int lengths.
int ClampToInt(size_t value) {
    return value > 0x7FFFFFFF ? 0x7FFFFFFF : (int)value;
}

}  // namespace

bool Cp932ToWide(const char* text, wchar_t* wide, size_t capacity) {
    if (capacity == 0) return false;
    wide[0] = L'\0';
    if (!text) return false;
    int length = ClampToInt(strlen(text) + 1);
    int written = MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, text, length, wide,
                                      ClampToInt(capacity));
    if (written <= 0) {
        wide[0] = L'\0';
        return false;
    }
    return true;
}

bool WideToCp932(const wchar_t* wide, char* text, size_t capacity) {
    if (capacity == 0) return false;
    text[0] = '\0';
    if (!wide) return false;
    int length = ClampToInt(wcslen(wide) + 1);
    BOOL used_default = FALSE;
    int written = WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS, wide, length, text,
                                      ClampToInt(capacity), nullptr, &used_default);
    if (written <= 0 || used_default) {
        text[0] = '\0';
        return false;
    }
    return true;
}

void Cp932ToWideForDisplay(const char* text, wchar_t* wide, size_t capacity) {
    if (capacity == 0) return;
    wide[0] = L'\0';
    if (!text) return;
    // Convert character by character count: find the longest prefix, cut at a
    // character boundary, whose conversion fits. Texts here are at most a few
    // kilobytes, so measuring first is cheap.
    size_t length = strlen(text);
    while (length > 0) {
        int needed = MultiByteToWideChar(kCodePage932, 0, text, ClampToInt(length), nullptr, 0);
        if (needed > 0 && (size_t)needed < capacity) {
            int written = MultiByteToWideChar(kCodePage932, 0, text, ClampToInt(length), wide,
                                              ClampToInt(capacity - 1));
            wide[written > 0 ? written : 0] = L'\0';
            return;
        }
        // Drop the last character (never half of one) and measure again.
        size_t boundary = 0;
        for (size_t i = 0; i < length;) {
            size_t step = CharLength(text + i);
            if (i + step >= length) break;
            i += step;
            boundary = i;
        }
        length = boundary;
    }
}

WidePath ToWidePath(const char* path) {
    WidePath wide;
    wide.ok = Cp932ToWide(path, wide.text, kWidePathCapacity);
    return wide;
}

bool GetWindowsFolder(char* out, size_t capacity) {
    wchar_t wide[kWidePathCapacity];
    UINT length = GetWindowsDirectoryW(wide, kWidePathCapacity);
    if (length == 0 || length >= kWidePathCapacity || !WideToCp932(wide, out, capacity)) {
        if (capacity > 0) out[0] = '\0';
        return false;
    }
    return true;
}

// Formatting of message-box texts, shared by every implementation of the boxes.
#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "ui/msgbox.h"

void FormatBoxText(char* buffer, size_t capacity, const char* format, va_list args) {
    if (capacity == 0) return;
    int wanted = vsnprintf(buffer, capacity, format, args);
    if (wanted < 0) {
        buffer[0] = '\0';
        return;
    }
    if ((size_t)wanted < capacity) return;
    // vsnprintf cut the text at a byte count; move the cut back to the start
    // of the character that it split, if any.
    size_t length = strlen(buffer);
    size_t i = 0;
    while (i < length) {
        // A lead byte as the last byte kept is the first half of a character
        // that the cut split: CharLength counts it as one byte, so test it here.
        if (IsLeadByte((unsigned char)buffer[i]) && i + 1 >= length) break;
        i += CharLength(buffer + i);
    }
    buffer[i] = '\0';
}

void FormatText(char* buffer, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatBoxText(buffer, capacity, format, args);
    va_end(args);
}

void ExpandLineBreaks(const char* text, char* buffer, size_t capacity) {
    if (capacity == 0) return;
    size_t used = 0;
    for (const char* p = text; *p; p += CharLength(p)) {
        bool bare_break = *p == '\n' && (p == text || p[-1] != '\r');
        size_t step = bare_break ? 2 : CharLength(p);
        if (used + step >= capacity) break;
        if (bare_break) buffer[used++] = '\r';
        memcpy(buffer + used, p, CharLength(p));
        used += CharLength(p);
    }
    buffer[used] = '\0';
}

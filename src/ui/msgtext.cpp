// Formatting of message-box texts, shared by every implementation of the boxes.
#include <stdio.h>
#include <string.h>

#include "app/text.h"
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
        size_t step = CharLength(buffer + i);
        if (i + step > length) break;
        i += step;
    }
    buffer[i] = '\0';
}

void FormatText(char* buffer, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatBoxText(buffer, capacity, format, args);
    va_end(args);
}

// Console stand-ins for the message boxes, for vnpack and the tests: texts go
// to stderr, and questions take the answer a test has set (default: No, and
// Cancel for the retry box).
#include <stdio.h>
#include <stdlib.h>

#include "ui/msgbox.h"
#include "ui/msgbox_console.h"

namespace {
ConsoleBoxHandler g_handler = nullptr;
}

void SetConsoleBoxHandler(ConsoleBoxHandler handler) { g_handler = handler; }

static ConsoleBoxAnswer Show(ConsoleBoxKind kind, const char* format, va_list args) {
    char text[kBoxTextCapacity];
    FormatBoxText(text, sizeof text, format, args);
    if (g_handler) return g_handler(kind, text);
    fprintf(stderr, "%s\n", text);
    return kConsoleAnswerNo;
}

void ErrorRetryBox(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ConsoleBoxAnswer answer = Show(kConsoleBoxRetry, format, args);
    va_end(args);
    if (answer != kConsoleAnswerYes) exit(-1);
}

void ErrorBox(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Show(kConsoleBoxError, format, args);
    va_end(args);
}

bool AskYesNo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ConsoleBoxAnswer answer = Show(kConsoleBoxQuestion, format, args);
    va_end(args);
    return answer == kConsoleAnswerYes;
}

int CopyToClipboard(const char* text) { return 0; }

void* AllocOrAbort(size_t size) {
    void* block = malloc(size + 16);
    if (!block) {
        fprintf(stderr, "malloc: out of memory\n");
        exit(-1);
    }
    return block;
}

// Test hook of the console message boxes: a handler sees every box's kind and
// formatted text and gives the answer (Yes stands for Retry and for Yes).
#pragma once

enum ConsoleBoxKind { kConsoleBoxRetry, kConsoleBoxError, kConsoleBoxQuestion };
enum ConsoleBoxAnswer { kConsoleAnswerNo = 0, kConsoleAnswerYes = 1 };
typedef ConsoleBoxAnswer (*ConsoleBoxHandler)(ConsoleBoxKind kind, const char* text);

// Null restores the default (print to stderr, answer No / Cancel).
void SetConsoleBoxHandler(ConsoleBoxHandler handler);

// The process entry of vnpack on Windows: the wide command line turned into
// UTF-8, and UTF-8 output on the console.
#include <windows.h>

#include "system.h"

int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(WideToUtf8(argv[i]));
    return VnpackMain(args);
}

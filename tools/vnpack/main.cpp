// vnpack: builds an updater from a folder, and lists, tests and unpacks one;
// converts title pictures between PNG and RCT.
#include <stdio.h>

#include "base/platform.h"
#include "system.h"
#include "vnpack.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  vnpack build DIR -o OUT.exe [--stub vnupdate.exe] [--level 0-9] [--jobs N]\n"
    "  vnpack list UPDATE.exe\n"
    "  vnpack test UPDATE.exe\n"
    "  vnpack extract UPDATE.exe DIR\n"
    "  vnpack lint install.env\n"
    "  vnpack rct IN.png OUT.rct [--name TEXT]\n"
    "  vnpack png IN.rct OUT.png\n";

int Usage() {
    fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int Complain(const std::string& subject, const std::string& problem) {
    fprintf(stderr, "vnpack: %s: %s\n", subject.c_str(), problem.c_str());
    return 2;
}

bool ToCp932(const std::string& utf8, std::string* cp932) {
    char buffer[4 * 260];
    if (!OsUtf8ToCp932(utf8.c_str(), buffer, sizeof buffer)) return false;
    *cp932 = buffer;
    return true;
}

int CorePath(const std::string& utf8, std::string* path) {
#ifdef _WIN32
    if (!ToCp932(utf8, path)) return Complain(utf8, "path cannot be written in code page 932");
#else
    *path = utf8;
#endif
    return 0;
}

std::string ToUtf8(const char* cp932) {
    char buffer[4 * 260];
    if (OsCp932ToUtf8(cp932, buffer, sizeof buffer)) return buffer;
    std::string shown;
    for (const char* p = cp932; *p; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c >= 0x20 && c < 0x7F) {
            shown += (char)c;
        } else {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02x", c);
            shown += escape;
        }
    }
    return shown;
}

int VnpackMain(const std::vector<std::string>& args) {
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    if (command == "build")
        return BuildCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    if (command == "list" && args.size() == 2) return ListCommand(args[1]);
    if (command == "test" && args.size() == 2) return TestCommand(args[1]);
    if (command == "extract" && args.size() == 3) return ExtractCommand(args[1], args[2]);
    if (command == "lint" && args.size() == 2) return LintCommand(args[1]);
    if (command == "rct") return RctCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    if (command == "png" && args.size() == 3) return PngCommand(args[1], args[2]);
    return Usage();
}

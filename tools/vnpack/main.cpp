// vnpack: builds an updater from a folder, and lists, tests and unpacks one;
// checks install.env; converts title pictures between PNG and RCT. Here: the
// command table, its help, and the argument reader every command shares.
#include <stdio.h>
#include <string.h>

#include "base/platform.h"
#include "system.h"
#include "vnpack.h"

extern const size_t kEmbeddedStubSize;

namespace {

const char kVersion[] = "1.1";

struct OptionRow {
    const char* name;
    const char* value;  // the value's placeholder; null for a switch
    const char* meaning;
    const char* fallback;  // the default as help shows it; null when none
};

struct CommandRow {
    const char* name;
    const char* operands;
    size_t operand_count;
    const char* summary;
    int (*run)(const Arguments& args);
    OptionRow options[6];
};

const CommandRow kCommands[] = {
    {"build",
     "DIR -o OUT.exe",
     1,
     "builds an updater from the update folder DIR",
     BuildCommand,
     {{"-o", "OUT.exe", "the updater to write (its folder must exist)", nullptr},
      {"--stub", "EXE", "the updater program to put the archive behind",
       "the one built into this vnpack"},
      {"--level", "0-9", "zlib compression level", "9"},
      {"--jobs", "N", "compressing threads", "the number of processors"},
      {"--strict", nullptr, "refuse install.env warnings as well as errors", "off"},
      {"--include-all", nullptr,
       "also pack system files (Thumbs.db, ehthumbs.db, desktop.ini, .DS_Store, ._*, *.bak, *~, "
       ".git, __MACOSX and the like)",
       "off"}}},
    {"list", "UPDATE.exe", 1, "lists the entries of an updater", ListCommand, {}},
    {"test", "UPDATE.exe", 1, "inflates every entry of an updater and checks it", TestCommand, {}},
    {"extract",
     "UPDATE.exe DIR",
     2,
     "unpacks an updater's files into DIR",
     ExtractCommand,
     {{"--force", nullptr, "write into a folder that is not empty", "off"}}},
    {"lint",
     "DIR|install.env",
     1,
     "checks an update folder as build and the updater will (or install.env alone), and shows "
     "what the updater will read",
     LintCommand,
     {{"--strict", nullptr, "count warnings as errors", "off"}}},
    {"rct",
     "IN.png OUT.rct",
     2,
     "converts a PNG picture into an RCT title picture",
     RctCommand,
     {{"--name", "TEXT", "a name stored in the picture's header", "none"}}},
    {"png", "IN.rct OUT.png", 2, "decodes an RCT title picture into PNG", PngCommand, {}},
    {"diff",
     "OLD NEW -o DIR",
     2,
     "writes an update folder from two game versions: new and changed files, and an "
     "install.env that deletes what NEW no longer has",
     DiffCommand,
     {{"-o", "DIR", "the update folder to write (new or empty)", nullptr},
      {"--env", "FILE",
       "an install.env whose settings and deletions are kept, in its own encoding and line ends",
       "a title only"},
      {"--player-data", "LIST",
       "what belongs to the player and is never deleted: folder names ending in /, file "
       "patterns, separated by commas",
       "save/,savedata/,\xe3\x82\xbb\xe3\x83\xbc\xe3\x83\x96/,*.sav"},
      {"--delete-player-data", nullptr, "list player data for deletion as well", "off"}}},
};

const char kExitCodes[] =
    "exit codes: 0 done (warnings allowed), 1 findings or a damaged file,\n"
    "            2 a usage mistake or a file that cannot be read or written\n";

void PrintCommandUsage(const CommandRow& command, FILE* out) {
    fprintf(out, "usage: vnpack %s %s%s\n  %s\n", command.name, command.operands,
            command.options[0].name ? " [options]" : "", command.summary);
    if (!command.options[0].name) return;
    fprintf(out, "options:\n");
    for (const OptionRow& option : command.options) {
        if (!option.name) break;
        std::string left = option.name;
        if (option.value) left += std::string(" ") + option.value;
        fprintf(out, "  %-16s %s", left.c_str(), option.meaning);
        if (option.fallback) fprintf(out, " (default: %s)", option.fallback);
        fputc('\n', out);
    }
}

void PrintUsage(FILE* out) {
    fprintf(out,
            "usage: vnpack COMMAND ARGUMENTS [options]\n       vnpack COMMAND --help\n"
            "       vnpack --help | --version\ncommands:\n");
    for (const CommandRow& command : kCommands)
        fprintf(out, "  %-8s %-15s %s\n", command.name, command.operands, command.summary);
    fputs(kExitCodes, out);
}

const OptionRow* FindOption(const CommandRow& command, const std::string& name) {
    for (const OptionRow& option : command.options) {
        if (option.name && name == option.name) return &option;
    }
    return nullptr;
}

int UsageMistake(const CommandRow& command, const std::string& problem) {
    fprintf(stderr, "vnpack %s: %s (see vnpack %s --help)\n", command.name, problem.c_str(),
            command.name);
    return 2;
}

int RunCommand(const CommandRow& command, const std::vector<std::string>& words) {
    Arguments args;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--help" || word == "-h") {
            PrintCommandUsage(command, stdout);
            fputs(kExitCodes, stdout);
            return 0;
        }
        if (word.size() > 1 && word[0] == '-') {
            const OptionRow* option = FindOption(command, word);
            if (!option) return UsageMistake(command, "unknown option " + word);
            if (!option->value) {
                args.options[word] = "";
            } else if (i + 1 < words.size()) {
                args.options[word] = words[++i];
            } else {
                return UsageMistake(command, word + " needs " + option->value);
            }
        } else {
            args.operands.push_back(word);
        }
    }
    if (args.operands.size() != command.operand_count)
        return UsageMistake(command, std::string("needs ") + command.operands);
    for (const OptionRow& option : command.options) {
        if (option.name && option.value && !option.fallback && !args.Has(option.name))
            return UsageMistake(command, std::string("needs ") + option.name + " " + option.value);
    }
    return command.run(args);
}

}  // namespace

bool Arguments::Has(const std::string& name) const {
    return options.count(name) != 0;
}

std::string Arguments::Get(const std::string& name) const {
    auto found = options.find(name);
    return found == options.end() ? std::string() : found->second;
}

int Complain(const std::string& subject, const std::string& problem) {
    fprintf(stderr, "vnpack: %s: %s\n", subject.c_str(), problem.c_str());
    return 2;
}

int Refuse(const std::string& subject, const std::string& problem) {
    Complain(subject, problem);
    return 1;
}

bool ToCp932(const std::string& utf8, std::string* cp932) {
    char buffer[4 * 260];
    if (!OsUtf8ToCp932(utf8.c_str(), buffer, sizeof buffer)) return false;
    *cp932 = buffer;
    return true;
}

int CorePath(const std::string& utf8, std::string* path) {
    if (!CorePathsAreCp932()) {
        *path = utf8;
        return 0;
    }
    if (!ToCp932(utf8, path)) return Complain(utf8, "path cannot be written in code page 932");
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
    if (args.empty()) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (name == "--version") {
        printf("vnpack %s (%s)\n", kVersion,
               kEmbeddedStubSize ? "updater built in" : "no updater built in: build needs --stub");
        return 0;
    }
    for (const CommandRow& command : kCommands) {
        if (name == command.name)
            return RunCommand(command, std::vector<std::string>(args.begin() + 1, args.end()));
    }
    fprintf(stderr,
            "vnpack: unknown command \"%s\" (commands: build, list, test, extract, lint, "
            "rct, png, diff; see vnpack --help)\n",
            name.c_str());
    return 2;
}

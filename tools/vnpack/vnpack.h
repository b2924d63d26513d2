// The commands of vnpack, the maker's tool that builds, inspects and unpacks
// updaters. Each returns the process exit code: 0 done, 1 findings or a
// damaged file, 2 a usage mistake or a file that cannot be read or written.
#pragma once

#include <map>
#include <string>
#include <vector>

// The arguments of one command as main.cpp read them against the command's
// table: operands in order, options by name ("-o", "--strict"), a switch with
// the empty value.
struct Arguments {
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;
    bool Has(const std::string& name) const;
    std::string Get(const std::string& name) const;
};

int BuildCommand(const Arguments& args);
int ListCommand(const Arguments& args);
int TestCommand(const Arguments& args);
int ExtractCommand(const Arguments& args);
int LintCommand(const Arguments& args);
int RctCommand(const Arguments& args);
int PngCommand(const Arguments& args);
int DiffCommand(const Arguments& args);

// Prints "vnpack: SUBJECT: PROBLEM" on stderr and returns 2.
int Complain(const std::string& subject, const std::string& problem);
// The same for a finding or damage in the input; returns 1.
int Refuse(const std::string& subject, const std::string& problem);

// Code page 932 names to and from UTF-8 text. ToCp932 fails on a character
// that code page 932 cannot represent; ToUtf8 shows undecodable bytes as \xNN.
bool ToCp932(const std::string& utf8, std::string* cp932);
std::string ToUtf8(const char* cp932);

// A path given in UTF-8 as the portable core takes it: code page 932 bytes on
// Windows, where the core converts them back to UTF-16 at each call; unchanged
// on Linux, where names are bytes. On Windows a path with no code page 932
// form is refused with a one-line complaint (result 2); 0 otherwise.
int CorePath(const std::string& utf8, std::string* path);

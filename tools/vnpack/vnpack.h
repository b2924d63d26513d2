// The commands of vnpack, the maker's tool that builds, inspects and unpacks
// updaters. Each returns the process exit code: 0 success, 2 bad input.
#pragma once

#include <string>
#include <vector>

int BuildCommand(const std::vector<std::string>& args);
int ListCommand(const std::string& update);
int TestCommand(const std::string& update);
int ExtractCommand(const std::string& update, const std::string& folder);
int LintCommand(const std::string& path);
int RctCommand(const std::vector<std::string>& args);
int PngCommand(const std::string& input, const std::string& output);

// Prints "vnpack: SUBJECT: PROBLEM" on stderr and returns 2.
int Complain(const std::string& subject, const std::string& problem);

// Code page 932 names to and from UTF-8 text. ToCp932 fails on a character
// that code page 932 cannot represent; ToUtf8 shows undecodable bytes as \xNN.
bool ToCp932(const std::string& utf8, std::string* cp932);
std::string ToUtf8(const char* cp932);

// A path given in UTF-8 as the portable core takes it: code page 932 bytes on
// Windows, where the core converts them back to UTF-16 at each call; unchanged
// on Linux, where names are bytes. On Windows a path with no code page 932
// form is refused with a one-line complaint (result 2); 0 otherwise.
int CorePath(const std::string& utf8, std::string* path);

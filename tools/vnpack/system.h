// What vnpack needs from the system beyond the standard library: threads
// (MinGW's default win32 thread model has no std::thread), source file times,
// wide-path opening on Windows, the terminal, the clock, the calendar and
// temporary files. system_win.cpp and system_posix.cpp hold the two sides;
// entry_win.cpp and entry_posix.cpp the process entries.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// The command itself, with the arguments in UTF-8 (argv[0] left out).
int VnpackMain(const std::vector<std::string>& args);

typedef void (*WorkerFunction)(void* context);
struct WorkerGroup;
// Starts count threads running function(context); null when none could start.
WorkerGroup* StartWorkers(int count, WorkerFunction function, void* context);
void JoinWorkers(WorkerGroup* group);

int ProcessorCount();
void SleepMilliseconds(int milliseconds);
double SecondsNow();
bool IsTerminal(FILE* stream);

// fopen of a path of any name (wide on Windows).
FILE* OpenPath(const fs::path& path, const char* mode);

// Last-write time as a Windows FILETIME. False when it cannot be read.
bool SourceFileTime(const fs::path& path, uint64_t* filetime);

// A path from / to UTF-8 text.
fs::path PathFromUtf8(const std::string& text);
std::string PathToUtf8(const fs::path& path);
// Wide text (the Windows command line) as UTF-8; Windows only.
std::string WideToUtf8(const wchar_t* text);

// True where the portable core takes paths as code page 932 bytes (Windows:
// it turns them into UTF-16 at each call); false where its paths are the file
// system's own bytes, UTF-8 (Linux).
bool CorePathsAreCp932();

// The calendar time of seconds since 1970 in UTC. False when there is none.
bool UtcTime(time_t seconds, struct tm* parts);

// A temporary file holding bytes, open at its start for reading in text mode
// as the updater reads install.env; removed when closed. Null when none can
// be made.
FILE* TemporaryTextStream(const std::string& bytes);

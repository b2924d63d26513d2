// What vnpack needs from the system beyond the standard library: threads
// (MinGW's default win32 thread model has no std::thread), source file times,
// wide-path opening on Windows, the terminal and the clock.
#pragma once

#include <stdint.h>
#include <stdio.h>

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

// The system services of vnpack on Windows: threads over CreateThread, wide
// paths, and temporary files.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include "system.h"

struct WorkerGroup {
    std::vector<HANDLE> threads;
    WorkerFunction function;
    void* context;
};

static DWORD WINAPI RunWorker(LPVOID group) {
    WorkerGroup* g = (WorkerGroup*)group;
    g->function(g->context);
    return 0;
}

WorkerGroup* StartWorkers(int count, WorkerFunction function, void* context) {
    WorkerGroup* group = new WorkerGroup{{}, function, context};
    for (int i = 0; i < count; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, RunWorker, group, 0, nullptr);
        if (thread) group->threads.push_back(thread);
    }
    if (group->threads.empty()) {
        delete group;
        return nullptr;
    }
    return group;
}

void JoinWorkers(WorkerGroup* group) {
    if (!group) return;
    for (HANDLE thread : group->threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    delete group;
}

int ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? (int)info.dwNumberOfProcessors : 1;
}

void SleepMilliseconds(int milliseconds) { Sleep((DWORD)milliseconds); }

double SecondsNow() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

static std::wstring Widen(const char* text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

std::string WideToUtf8(const wchar_t* text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], length, nullptr, nullptr);
    narrow.resize(strlen(narrow.c_str()));
    return narrow;
}

FILE* OpenPath(const fs::path& path, const char* mode) {
    return _wfopen(path.c_str(), Widen(mode).c_str());
}

bool SourceFileTime(const fs::path& path, uint64_t* filetime) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *filetime = (uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

fs::path PathFromUtf8(const std::string& text) { return fs::path(Widen(text.c_str())); }
std::string PathToUtf8(const fs::path& path) { return WideToUtf8(path.c_str()); }

bool CorePathsAreCp932() { return true; }

bool UtcTime(time_t seconds, struct tm* parts) { return gmtime_s(parts, &seconds) == 0; }

FILE* TemporaryTextStream(const std::string& bytes) {
    // tmpfile() of the system's C runtime creates its file in the root of the
    // drive, where a user may not write.
    static int counter = 0;
    FILE* stream = nullptr;
    for (int attempt = 0; attempt < 100 && !stream; ++attempt) {
        std::error_code error;
        fs::path name = fs::temp_directory_path(error) / ("vnpack-" + std::to_string(_getpid()) +
                                                          "-" + std::to_string(++counter) + ".env");
        int fd = _wopen(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                        _S_IREAD | _S_IWRITE);
        if (fd >= 0) stream = _fdopen(fd, "w+b");
    }
    if (!stream) return nullptr;
    fwrite(bytes.data(), 1, bytes.size(), stream);
    fflush(stream);
    _setmode(_fileno(stream), _O_TEXT);
    rewind(stream);
    return stream;
}

// The system services of vnpack on Linux.
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "system.h"

struct WorkerGroup {
    std::vector<pthread_t> threads;
    WorkerFunction function;
    void* context;
};

static void* RunWorker(void* group) {
    WorkerGroup* g = (WorkerGroup*)group;
    g->function(g->context);
    return nullptr;
}

WorkerGroup* StartWorkers(int count, WorkerFunction function, void* context) {
    WorkerGroup* group = new WorkerGroup{{}, function, context};
    for (int i = 0; i < count; ++i) {
        pthread_t thread;
        if (pthread_create(&thread, nullptr, RunWorker, group) == 0) group->threads.push_back(thread);
    }
    if (group->threads.empty()) {
        delete group;
        return nullptr;
    }
    return group;
}

void JoinWorkers(WorkerGroup* group) {
    if (!group) return;
    for (pthread_t thread : group->threads) pthread_join(thread, nullptr);
    delete group;
}

int ProcessorCount() {
    long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? (int)count : 1;
}

void SleepMilliseconds(int milliseconds) {
    struct timespec pause = {milliseconds / 1000, (long)(milliseconds % 1000) * 1000000};
    nanosleep(&pause, nullptr);
}

double SecondsNow() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

FILE* OpenPath(const fs::path& path, const char* mode) { return fopen(path.c_str(), mode); }

bool SourceFileTime(const fs::path& path, uint64_t* filetime) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    const int64_t kUnixEpochAsFiletime = 116444736000000000ll;
    *filetime = (uint64_t)((int64_t)info.st_mtim.tv_sec * 10000000 + info.st_mtim.tv_nsec / 100 +
                           kUnixEpochAsFiletime);
    return true;
}

fs::path PathFromUtf8(const std::string& text) { return fs::path(text); }
std::string PathToUtf8(const fs::path& path) { return path.string(); }

bool CorePathsAreCp932() { return false; }

bool UtcTime(time_t seconds, struct tm* parts) { return gmtime_r(&seconds, parts) != nullptr; }

FILE* TemporaryTextStream(const std::string& bytes) {
    FILE* stream = tmpfile();
    if (!stream) return nullptr;
    fwrite(bytes.data(), 1, bytes.size(), stream);
    rewind(stream);
    return stream;
}

// Console builds show no progress window; tests may record the calls.
#include "payload/progress.h"
#include "payload/progress_console.h"

namespace {
ProgressRecorder g_recorder = nullptr;
bool g_open = false;
// Any non-null value will do: the console window is never dereferenced.
CopyProgressHandle const kRecordingWindow = (CopyProgressHandle)&g_open;

void Record(ProgressCall call, int32_t value, const char* text) {
    if (g_recorder) g_recorder(call, value, text);
}
}  // namespace

void SetConsoleProgressRecorder(ProgressRecorder recorder) {
    g_recorder = recorder;
    g_open = false;
}

CopyProgressHandle OpenCopyProgress(int32_t total) {
    CloseCopyProgress();
    if (!g_recorder) return nullptr;
    g_open = true;
    Record(kProgressOpen, total, nullptr);
    return kRecordingWindow;
}

int CloseCopyProgress() {
    if (!g_open) return 1;
    g_open = false;
    Record(kProgressClose, 0, nullptr);
    return 0;
}

void SetCopyProgressFileName(CopyProgressHandle window, const char* path) {
    Record(kProgressFileName, 0, path);
}
void SetCopyProgressFileRange(CopyProgressHandle window, int32_t upper) {
    Record(kProgressFileRange, upper, nullptr);
}
void SetCopyProgressFilePosition(CopyProgressHandle window, int32_t position) {
    Record(kProgressFilePosition, position, nullptr);
}
void SetCopyProgressTotalPosition(CopyProgressHandle window, int32_t position) {
    Record(kProgressTotalPosition, position, nullptr);
}

// Console builds show no progress window.
#include "payload/progress.h"

CopyProgressHandle OpenCopyProgress(int32_t total) { return nullptr; }
int CloseCopyProgress() { return 1; }
void SetCopyProgressFileName(CopyProgressHandle window, const char* path) {}
void SetCopyProgressFileRange(CopyProgressHandle window, int32_t upper) {}
void SetCopyProgressFilePosition(CopyProgressHandle window, int32_t position) {}
void SetCopyProgressTotalPosition(CopyProgressHandle window, int32_t position) {}

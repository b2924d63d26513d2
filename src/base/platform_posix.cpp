// File-system and clock services on Linux: code page 932 names are used as
// bytes, and a real backslash separator becomes a slash.
#include "base/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "base/text.h"

namespace {

// Long enough for any path the program builds, plus room for conversions.
struct NativePath {
    char text[PATH_MAX];
    bool ok;
};

NativePath ToNative(const char* path) {
    NativePath native;
    native.ok = CopyText(native.text, sizeof native.text, path);
    for (char* p = native.text; *p; p += CharLength(p)) {
        if (*p == '\\') *p = '/';
    }
    return native;
}

// Seconds between 1601-01-01 and 1970-01-01.
const uint64_t kUnixEpochAsFiletime = 116444736000000000ull;

}  // namespace

FILE* OsOpenFile(const char* path, const char* mode) {
    NativePath native = ToNative(path);
    if (!native.ok) return nullptr;
    // Text mode means nothing here: "rt" is read as "r".
    char native_mode[8];
    size_t n = 0;
    for (const char* m = mode; *m && n + 1 < sizeof native_mode; ++m) {
        if (*m != 't') native_mode[n++] = *m;
    }
    native_mode[n] = '\0';
    FILE* file = fopen(native.text, native_mode);
    // Linux lets a folder be opened for reading; Windows does not, and the
    // file layer's existence test relies on that.
    struct stat info;
    if (file && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

bool OsIsLink(const char* path) {
    NativePath native = ToNative(path);
    struct stat info;
    return native.ok && lstat(native.text, &info) == 0 && S_ISLNK(info.st_mode);
}

FILE* OsCreateNewFile(const char* path, OsCreateResult* result) {
    OsCreateResult ignored;
    if (!result) result = &ignored;
    *result = kOsCreateFailed;
    NativePath native = ToNative(path);
    int descriptor =
        native.ok ? open(native.text, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666) : -1;
    if (descriptor < 0) {
        if (native.ok && errno == EEXIST) *result = kOsAlreadyExists;
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "wb");
    if (!file) close(descriptor);
    if (file) *result = kOsCreated;
    return file;
}

int OsFlushFile(FILE* file) {
    return fflush(file) == 0 && fsync(fileno(file)) == 0 ? 0 : -1;
}

OsCreateResult OsMoveToNewName(const char* from, const char* to) {
    NativePath native_from = ToNative(from);
    NativePath native_to = ToNative(to);
    if (!native_from.ok || !native_to.ok) return kOsCreateFailed;
    if (renameat2(AT_FDCWD, native_from.text, AT_FDCWD, native_to.text, RENAME_NOREPLACE) == 0)
        return kOsCreated;
    return errno == EEXIST ? kOsAlreadyExists : kOsCreateFailed;
}

FILE* OsSelfFile() {
    // Held for the process: every pass reads the file the program started from.
    static FILE* self = nullptr;
    if (!self) self = fopen("/proc/self/exe", "rb");
    return self;
}

OsCreateResult OsCreateFolder(const char* path) {
    NativePath native = ToNative(path);
    if (!native.ok) return kOsCreateFailed;
    if (mkdir(native.text, 0777) == 0) return kOsCreated;
    return errno == EEXIST ? kOsAlreadyExists : kOsCreateFailed;
}

struct OsFolderHold {
    int descriptor;
};

namespace {

// A hold of an open folder descriptor, which it then owns; null (and the
// descriptor closed) when there is none or memory runs out.
OsFolderHold* NewHold(int descriptor) {
    OsFolderHold* hold = descriptor >= 0 ? (OsFolderHold*)malloc(sizeof(OsFolderHold)) : nullptr;
    if (hold)
        hold->descriptor = descriptor;
    else if (descriptor >= 0)
        close(descriptor);
    return hold;
}

OsFolderHold* OpenFolder(const char* path, int flags) {
    NativePath native = ToNative(path);
    return NewHold(native.ok ? open(native.text, O_RDONLY | O_DIRECTORY | flags) : -1);
}

// Calls visit for every entry of the open folder but "." and "..", until it
// returns false. False when the folder cannot be read.
bool EachEntry(int folder, bool (*visit)(int folder, const char* name, void* context),
               void* context) {
    int descriptor = dup(folder);
    DIR* dir = descriptor >= 0 ? fdopendir(descriptor) : nullptr;
    if (!dir) {
        if (descriptor >= 0) close(descriptor);
        return false;
    }
    rewinddir(dir);
    while (struct dirent* record = readdir(dir)) {
        if (strcmp(record->d_name, ".") != 0 && strcmp(record->d_name, "..") != 0 &&
            !visit(folder, record->d_name, context))
            break;
    }
    closedir(dir);
    return true;
}

bool Nothing(int, const char*, void* empty) {
    *(bool*)empty = false;
    return false;
}

// Deletes a file or a link (as itself) of an abandoned folder; a subfolder,
// or anything that cannot be deleted, keeps the folder.
bool DeleteUnlessFolder(int folder, const char* name, void* kept) {
    struct stat info;
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(info.st_mode) ||
        unlinkat(folder, name, 0) != 0)
        *(bool*)kept = true;
    return true;
}

}  // namespace

OsFolderHold* OsHoldFolder(const char* path) {
    return OpenFolder(path, O_NOFOLLOW);
}

OsFolderHold* OsOpenFolder(const char* path) {
    return OpenFolder(path, 0);
}

void OsReleaseFolder(OsFolderHold* hold) {
    if (!hold) return;
    close(hold->descriptor);
    free(hold);
}

namespace {

// One component, never "." or "..": the walk names nothing else in a folder.
bool IsPlainName(const char* name) {
    return name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !strchr(name, '/') &&
           !FindChar(name, '\\');
}

int DescriptorOf(OsFolderHold* folder, const char* name) {
    return folder && IsPlainName(name) ? folder->descriptor : -1;
}

}  // namespace

OsFolderHold* OsCreatePrivateFolderIn(OsFolderHold* parent, const char* name,
                                      OsCreateResult* result) {
    *result = kOsCreateFailed;
    int at = DescriptorOf(parent, name);
    if (at < 0) return nullptr;
    if (mkdirat(at, name, 0700) != 0) {
        if (errno == EEXIST) *result = kOsAlreadyExists;
        return nullptr;
    }
    int descriptor = openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    struct stat info;
    bool empty = true;
    // The lock is what tells other runs that this folder is in use.
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != geteuid() || (info.st_mode & 07777) != 0700 ||
        !EachEntry(descriptor, Nothing, &empty) || !empty ||
        flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (descriptor >= 0) close(descriptor);
        return nullptr;
    }
    OsFolderHold* hold = NewHold(descriptor);
    if (hold) *result = kOsCreated;
    return hold;
}

void OsRemoveAbandonedFolder(OsFolderHold* parent, const char* name) {
    int at = DescriptorOf(parent, name);
    int descriptor = at >= 0 ? openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW) : -1;
    if (descriptor < 0) return;
    struct stat info, now;
    bool kept = fstat(descriptor, &info) != 0 || info.st_uid != geteuid() ||
                flock(descriptor, LOCK_EX | LOCK_NB) != 0 ||
                !EachEntry(descriptor, DeleteUnlessFolder, &kept);
    // Removed by name, so only while that name is still the folder emptied.
    if (!kept && fstatat(at, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == info.st_dev &&
        now.st_ino == info.st_ino)
        unlinkat(at, name, AT_REMOVEDIR);
    close(descriptor);
}

OsFolderHold* OsHoldChildFolder(OsFolderHold* parent, const char* name, bool create,
                                bool* created) {
    if (created) *created = false;
    int at = DescriptorOf(parent, name);
    if (at < 0) return nullptr;
    bool made = create && mkdirat(at, name, 0777) == 0;
    if (create && !made && errno != EEXIST) return nullptr;
    OsFolderHold* hold = NewHold(openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (hold && created) *created = made;
    return hold;
}

FILE* OsCreateNewFileIn(OsFolderHold* folder, const char* name, OsCreateResult* result) {
    *result = kOsCreateFailed;
    int at = DescriptorOf(folder, name);
    int descriptor = at >= 0 ? openat(at, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666) : -1;
    if (descriptor < 0) {
        if (at >= 0 && errno == EEXIST) *result = kOsAlreadyExists;
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "wb");
    if (!file) {
        close(descriptor);
        return nullptr;
    }
    *result = kOsCreated;
    return file;
}

OsCreateResult OsMoveToNewNameIn(OsFolderHold* folder, const char* from, const char* to) {
    int at = DescriptorOf(folder, from);
    if (at < 0 || !IsPlainName(to)) return kOsCreateFailed;
    if (renameat2(at, from, at, to, RENAME_NOREPLACE) == 0) return kOsCreated;
    return errno == EEXIST ? kOsAlreadyExists : kOsCreateFailed;
}

int OsReplaceFileIn(OsFolderHold* folder, const char* from, const char* to) {
    int at = DescriptorOf(folder, from);
    if (at < 0 || !IsPlainName(to)) return -1;
    return renameat(at, from, at, to) == 0 ? 0 : -1;
}

int OsDeleteFileIn(OsFolderHold* folder, const char* name) {
    int at = DescriptorOf(folder, name);
    return at >= 0 && unlinkat(at, name, 0) == 0 ? 0 : -1;
}

int OsRemoveFolderIn(OsFolderHold* folder, const char* name) {
    int at = DescriptorOf(folder, name);
    if (at < 0) return -1;
    struct stat info;
    if (fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    // A link is removed as itself: the folder it points to keeps its files.
    return unlinkat(at, name, S_ISLNK(info.st_mode) ? 0 : AT_REMOVEDIR) == 0 ? 0 : -1;
}

OsPathKind OsGetPathKindIn(OsFolderHold* folder, const char* name, bool* read_only) {
    if (read_only) *read_only = false;
    int at = DescriptorOf(folder, name);
    struct stat info;
    if (at < 0 || fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return kOsMissing;
    if (read_only) *read_only = !(info.st_mode & S_IWUSR);
    return S_ISDIR(info.st_mode) ? kOsFolder : kOsFile;
}

int OsForEachFileIn(OsFolderHold* folder, const char* pattern,
                    void (*found)(OsFolderHold* folder, const char* name, void* context),
                    void* context, bool folders) {
    struct Walk {
        OsFolderHold* folder;
        const char* pattern;
        void (*found)(OsFolderHold* folder, const char* name, void* context);
        void* context;
        bool folders;
        static bool Visit(int at, const char* name, void* walk_pointer) {
            Walk* walk = (Walk*)walk_pointer;
            struct stat info;
            if (fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(info.st_mode) == walk->folders && WildcardMatch(walk->pattern, name))
                walk->found(walk->folder, name, walk->context);
            return true;
        }
    } walk = {folder, pattern, found, context, folders};
    return folder && EachEntry(folder->descriptor, Walk::Visit, &walk) ? 0 : -1;
}

int OsRemoveFolder(const char* path) {
    NativePath native = ToNative(path);
    return native.ok && rmdir(native.text) == 0 ? 0 : -1;
}

int OsDeleteFile(const char* path) {
    NativePath native = ToNative(path);
    if (!native.ok) return -1;
    struct stat info;
    if (lstat(native.text, &info) != 0 || S_ISDIR(info.st_mode)) return -1;
    return unlink(native.text) == 0 ? 0 : -1;
}

int OsReplaceFile(const char* from, const char* to) {
    NativePath native_from = ToNative(from);
    NativePath native_to = ToNative(to);
    if (!native_from.ok || !native_to.ok) return -1;
    return rename(native_from.text, native_to.text) == 0 ? 0 : -1;
}

int OsGetCurrentFolder(char* buffer, size_t capacity) {
    char native[PATH_MAX];
    if (!getcwd(native, sizeof native)) return -1;
    if (!CopyText(buffer, capacity, native)) return -1;
    return 0;
}

int OsSetCurrentFolder(const char* path) {
    NativePath native = ToNative(path);
    return native.ok && chdir(native.text) == 0 ? 0 : -1;
}

OsTempResult OsGetTempFolder(char* buffer, size_t capacity) {
    const char* folder = getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    if (!CopyText(buffer, capacity, folder)) return kOsTempTooLong;
    size_t length = strlen(buffer);
    if (buffer[length - 1] != '/') {
        if (length + 2 > capacity) return kOsTempTooLong;
        buffer[length] = '/';
        buffer[length + 1] = '\0';
    }
    return kOsTempOk;
}

OsPathKind OsGetPathKind(const char* path) {
    NativePath native = ToNative(path);
    struct stat info;
    if (!native.ok || stat(native.text, &info) != 0) return kOsMissing;
    return S_ISDIR(info.st_mode) ? kOsFolder : kOsFile;
}

bool OsIsReadOnly(const char* path) {
    NativePath native = ToNative(path);
    struct stat info;
    return native.ok && stat(native.text, &info) == 0 && !(info.st_mode & S_IWUSR);
}

namespace {

// Access time kept, modification time set.
void ToTimes(uint64_t filetime, struct timespec times[2]) {
    times[0].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = 0;
    int64_t since_epoch = (int64_t)(filetime - kUnixEpochAsFiletime);
    int64_t seconds = since_epoch / 10000000;
    int64_t rest = since_epoch % 10000000;
    if (rest < 0) {
        rest += 10000000;
        seconds -= 1;
    }
    times[1].tv_sec = (time_t)seconds;
    times[1].tv_nsec = (long)(rest * 100);
}

}  // namespace

int OsSetFileTime(const char* path, uint64_t filetime) {
    NativePath native = ToNative(path);
    if (!native.ok) return -1;
    struct timespec times[2];
    ToTimes(filetime, times);
    return utimensat(AT_FDCWD, native.text, times, 0) == 0 ? 0 : -1;
}

int OsSetFileTime(FILE* file, uint64_t filetime) {
    struct timespec times[2];
    ToTimes(filetime, times);
    return fflush(file) == 0 && futimens(fileno(file), times) == 0 ? 0 : -1;
}

int OsGetFileTime(const char* path, uint64_t* filetime) {
    NativePath native = ToNative(path);
    struct stat info;
    if (!native.ok || stat(native.text, &info) != 0) return -1;
    *filetime = (uint64_t)((int64_t)info.st_mtim.tv_sec * 10000000 + info.st_mtim.tv_nsec / 100) +
                kUnixEpochAsFiletime;
    return 0;
}

uint32_t OsMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000);
}

uint32_t OsRandomNumber() {
    uint32_t value = 0;
    while (getrandom(&value, sizeof value, 0) != (ssize_t)sizeof value) {
    }
    return value;
}

struct OsFindHandle {
    DIR* dir;
    char folder[PATH_MAX];
    char pattern[260];
};

// Fills data with the next entry of the folder that matches the pattern.
static bool ReadMatching(OsFindHandle* handle, OsFindData* data) {
    while (struct dirent* entry = readdir(handle->dir)) {
        if (!WildcardMatch(handle->pattern, entry->d_name)) continue;
        if (!CopyText(data->name, sizeof data->name, entry->d_name)) continue;
        char full[PATH_MAX * 2];
        snprintf(full, sizeof full, "%s/%s", handle->folder, entry->d_name);
        struct stat info;
        data->is_folder = stat(full, &info) == 0 && S_ISDIR(info.st_mode);
        return true;
    }
    return false;
}

OsFindHandle* OsFindFirst(const char* pattern, OsFindData* data) {
    NativePath native = ToNative(pattern);
    if (!native.ok) return nullptr;
    OsFindHandle* handle = (OsFindHandle*)calloc(1, sizeof(OsFindHandle));
    if (!handle) return nullptr;
    char* slash = strrchr(native.text, '/');
    const char* name_pattern = native.text;
    if (slash) {
        *slash = '\0';
        CopyText(handle->folder, sizeof handle->folder, slash == native.text ? "/" : native.text);
        name_pattern = slash + 1;
    } else {
        CopyText(handle->folder, sizeof handle->folder, ".");
    }
    if (!CopyText(handle->pattern, sizeof handle->pattern, name_pattern) ||
        !(handle->dir = opendir(handle->folder))) {
        free(handle);
        return nullptr;
    }
    if (!ReadMatching(handle, data)) {
        OsFindClose(handle);
        return nullptr;
    }
    return handle;
}

bool OsFindNext(OsFindHandle* handle, OsFindData* data) {
    return handle && ReadMatching(handle, data);
}

void OsFindClose(OsFindHandle* handle) {
    if (!handle) return;
    if (handle->dir) closedir(handle->dir);
    free(handle);
}

struct OsLock {
    pthread_mutex_t mutex;
};

OsLock* OsCreateLock() {
    OsLock* lock = (OsLock*)malloc(sizeof(OsLock));
    if (lock) pthread_mutex_init(&lock->mutex, nullptr);
    return lock;
}

void OsEnterLock(OsLock* lock) {
    pthread_mutex_lock(&lock->mutex);
}
void OsLeaveLock(OsLock* lock) {
    pthread_mutex_unlock(&lock->mutex);
}

void OsDeleteLock(OsLock* lock) {
    if (!lock) return;
    pthread_mutex_destroy(&lock->mutex);
    free(lock);
}

static bool Convert(const char* to, const char* from, const char* input, char* output,
                    size_t capacity) {
    if (capacity == 0) return false;
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    char* in = (char*)input;
    size_t in_left = strlen(input);
    char* out = output;
    size_t out_left = capacity - 1;
    bool ok = iconv(cd, &in, &in_left, &out, &out_left) != (size_t)-1;
    iconv_close(cd);
    *out = '\0';
    return ok && in_left == 0;
}

bool OsCp932ToUtf8(const char* cp932, char* utf8, size_t capacity) {
    return Convert("UTF-8", "CP932", cp932, utf8, capacity);
}

bool OsUtf8ToCp932(const char* utf8, char* cp932, size_t capacity) {
    return Convert("CP932", "UTF-8", utf8, cp932, capacity);
}

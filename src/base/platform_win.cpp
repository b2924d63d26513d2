// File-system and clock services on Windows. Every path arrives as code page
// 932 bytes and is converted to UTF-16 at the call; only W functions are used,
// so the updater behaves the same whatever language the system is set to.
#include "base/platform.h"

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "base/text.h"
#include "base/wide_win.h"

namespace {

uint32_t (*g_test_clock)() = nullptr;
uint32_t (*g_test_random)() = nullptr;

bool IsElevated() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
        elevation.TokenIsElevated;
    CloseHandle(token);
    return elevated;
}

// Standard I/O modes are plain ASCII: widen them byte by byte.
bool WidenMode(const char* mode, wchar_t* wide, size_t capacity) {
    size_t i = 0;
    for (; mode[i]; ++i) {
        if (i + 1 >= capacity || (unsigned char)mode[i] >= 0x80) return false;
        wide[i] = (wchar_t)(unsigned char)mode[i];
    }
    wide[i] = L'\0';
    return true;
}

}  // namespace

FILE* OsOpenFile(const char* path, const char* mode) {
    WidePath wide = ToWidePath(path);
    wchar_t wide_mode[16];
    if (!wide.ok || !WidenMode(mode, wide_mode, 16)) return nullptr;
    return _wfopen(wide.text, wide_mode);
}

namespace {

// True when path exists and has the attribute.
bool HasAttribute(const char* path, DWORD attribute) {
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return false;
    DWORD attributes = GetFileAttributesW(wide.text);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & attribute);
}

}  // namespace

bool OsIsLink(const char* path) {
    return HasAttribute(path, FILE_ATTRIBUTE_REPARSE_POINT);
}

namespace {

OsCreateResult FailureKind() {
    DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? kOsAlreadyExists
                                                                       : kOsCreateFailed;
}

}  // namespace

FILE* OsCreateNewFile(const char* path, OsCreateResult* result) {
    OsCreateResult ignored;
    if (!result) result = &ignored;
    *result = kOsCreateFailed;
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return nullptr;
    // CREATE_NEW fails on any existing name, a link to elsewhere included.
    HANDLE handle = CreateFileW(wide.text, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *result = FailureKind();
        return nullptr;
    }
    int descriptor = _open_osfhandle((intptr_t)handle, _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, "wb");
    if (!file) _close(descriptor);
    if (file) *result = kOsCreated;
    return file;
}

int OsFlushFile(FILE* file) {
    if (fflush(file) != 0) return -1;
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(file));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) ? 0 : -1;
}

OsCreateResult OsMoveToNewName(const char* from, const char* to) {
    WidePath wide_from = ToWidePath(from);
    WidePath wide_to = ToWidePath(to);
    if (!wide_from.ok || !wide_to.ok) return kOsCreateFailed;
    // Without MOVEFILE_REPLACE_EXISTING the move fails on an existing name.
    return MoveFileExW(wide_from.text, wide_to.text, 0) ? kOsCreated : FailureKind();
}

FILE* OsSelfFile() {
    // Held from the first call to the end of the process: every pass reads
    // the file that was there when the updater started, and while it runs
    // nobody can write it or move another file into its place.
    static FILE* self = nullptr;
    if (self) return self;
    // Kept wide from start to end: the folder the user saved the updater in
    // may have a name that code page 932 cannot write.
    // The longest path Windows has, allocated: as a static array its 64 KiB
    // of zeros would be a third of the executable.
    const DWORD capacity = 32768;
    wchar_t* module = (wchar_t*)malloc(capacity * sizeof(wchar_t));
    if (!module) return nullptr;
    DWORD length = GetModuleFileNameW(nullptr, module, capacity);
    HANDLE handle = length > 0 && length < capacity
                        ? CreateFileW(module, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                        : INVALID_HANDLE_VALUE;
    free(module);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    int descriptor = _open_osfhandle((intptr_t)handle, _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    self = _fdopen(descriptor, "rb");
    if (!self) _close(descriptor);
    return self;
}

OsCreateResult OsCreateFolder(const char* path) {
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return kOsCreateFailed;
    if (CreateDirectoryW(wide.text, nullptr)) return kOsCreated;
    return GetLastError() == ERROR_ALREADY_EXISTS ? kOsAlreadyExists : kOsCreateFailed;
}

OsCreateResult OsCreatePrivateFolder(const char* path) {
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return kOsCreateFailed;
    // Protected (no access inherited from the user's Temp folder): full
    // access for SYSTEM and the Administrators, for the folder and all that
    // is made in it. Unelevated, the user's own Temp folder is private enough.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (IsElevated() &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr)) {
        return kOsCreateFailed;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    BOOL created = CreateDirectoryW(wide.text, descriptor ? &attributes : nullptr);
    DWORD error = GetLastError();
    if (descriptor) LocalFree(descriptor);
    if (created) return kOsCreated;
    return error == ERROR_ALREADY_EXISTS ? kOsAlreadyExists : kOsCreateFailed;
}

struct OsFolderHold {
    HANDLE handle;
};

OsFolderHold* OsHoldFolder(const char* path) {
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return nullptr;
    // Without FILE_SHARE_DELETE nobody can rename or delete the folder while
    // it is held; the link itself is opened, never what it points to.
    HANDLE handle = CreateFileW(wide.text, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    // Wine shows a Unix symbolic link as a reparse point only by its name.
    DWORD by_name = GetFileAttributesW(wide.text);
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        by_name == INVALID_FILE_ATTRIBUTES || (by_name & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(handle);
        return nullptr;
    }
    OsFolderHold* hold = (OsFolderHold*)malloc(sizeof(OsFolderHold));
    if (!hold) {
        CloseHandle(handle);
        return nullptr;
    }
    hold->handle = handle;
    return hold;
}

void OsReleaseFolder(OsFolderHold* hold) {
    if (!hold) return;
    CloseHandle(hold->handle);
    free(hold);
}

namespace {

// One name of a held folder in UTF-16: a single component, never "." or
// ".." (the system would take them literally inside a folder, not as a way
// out, but nothing here has a use for them).
struct WideName {
    wchar_t text[MAX_PATH];
    UNICODE_STRING string;
    bool ok;
};

WideName ToWideName(const char* name) {
    WideName wide = {};
    wide.ok = name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
              !FindChar(name, '\\') && !strchr(name, '/') &&
              Cp932ToWide(name, wide.text, MAX_PATH);
    wide.string.Buffer = wide.text;
    wide.string.Length = wide.string.MaximumLength =
        wide.ok ? (USHORT)(wcslen(wide.text) * sizeof(wchar_t)) : 0;
    return wide;
}

// Opens name inside folder, by the folder's handle: the folder's path is never
// looked up again. A link at the name is opened itself, never followed.
// STATUS_OBJECT_NAME_COLLISION when CREATE finds the name taken.
const NTSTATUS kNameCollision = (NTSTATUS)0xC0000035L;
NTSTATUS OpenIn(OsFolderHold* folder, const char* name, ACCESS_MASK access, ULONG share,
                ULONG disposition, ULONG options, HANDLE* handle, bool* created = nullptr) {
    WideName wide = ToWideName(name);
    *handle = INVALID_HANDLE_VALUE;
    if (!folder || !wide.ok) return (NTSTATUS)0xC0000033L;  // STATUS_OBJECT_NAME_INVALID
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &wide.string, OBJ_CASE_INSENSITIVE, folder->handle,
                               nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE opened;
    NTSTATUS status = NtCreateFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                   FILE_ATTRIBUTE_NORMAL, share, disposition,
                                   options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                                   nullptr, 0);
    if (status >= 0) {
        *handle = opened;
        if (created) *created = io.Information == FILE_CREATED;
    }
    return status;
}

DWORD AttributesOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(handle, &information) ? information.dwFileAttributes
                                                            : INVALID_FILE_ATTRIBUTES;
}

// Whether the path the system gives for handle still leads to its file.
// Wine moves a file by the path it was opened under, not by its handle: had a
// program outside Wine renamed a held folder and put a link in its place, the
// move would be made wherever the link points.
bool StillAtItsPath(HANDLE handle) {
    wchar_t path[kWidePathCapacity];
    DWORD length = GetFinalPathNameByHandleW(handle, path, kWidePathCapacity, 0);
    if (length == 0 || length >= kWidePathCapacity) return false;
    HANDLE again = CreateFileW(path, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (again == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION one, other;
    bool same =
        GetFileInformationByHandle(handle, &one) && GetFileInformationByHandle(again, &other) &&
        one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
        one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
    CloseHandle(again);
    return same;
}

// Renames the file name of folder to another name of the same folder.
int RenameIn(OsFolderHold* folder, const char* from, const char* to, bool replace,
             bool* taken = nullptr) {
    WideName wide_to = ToWideName(to);
    if (!wide_to.ok) return -1;
    HANDLE handle;
    if (OpenIn(folder, from, DELETE | FILE_READ_ATTRIBUTES,
               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
               FILE_NON_DIRECTORY_FILE, &handle) < 0)
        return -1;
    if (!StillAtItsPath(handle)) {
        CloseHandle(handle);
        return -1;
    }
    // Through ntdll: kernel32's SetFileInformationByHandle makes the new name
    // a full path first under Wine, and the root folder is then ignored.
    size_t length = wcslen(wide_to.text) * sizeof(wchar_t);
    union {
        FILE_RENAME_INFORMATION info;
        unsigned char bytes[sizeof(FILE_RENAME_INFORMATION) + MAX_PATH * sizeof(wchar_t)];
    } rename = {};
    rename.info.ReplaceIfExists = replace;
    rename.info.RootDirectory = folder->handle;
    rename.info.FileNameLength = (ULONG)length;
    memcpy(rename.info.FileName, wide_to.text, length);
    IO_STATUS_BLOCK io = {};
    NTSTATUS status = NtSetInformationFile(handle, &io, &rename, sizeof rename,
                                           FileRenameInformation);
    bool done = status >= 0;
    if (taken) *taken = status == kNameCollision;
    CloseHandle(handle);
    return done ? 0 : -1;
}

// Whether the listing of folder shows name as a link (or not at all). Wine
// opens a Unix symbolic link's target all the same and shows the link only
// where the name is looked at, and its look-up of attributes by name ignores
// the folder a name is relative to: the listing is read instead, through a
// handle of its own opened inside the held one (a handle keeps the first name
// it was asked about).
bool ListedAsLink(OsFolderHold* folder, const char* name) {
    WideName wide = ToWideName(name);
    UNICODE_STRING itself = {};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &itself, 0, folder->handle, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE listing;
    if (!wide.ok ||
        NtCreateFile(&listing, FILE_LIST_DIRECTORY | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                     FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0) < 0)
        return true;
    union {
        FILE_BOTH_DIR_INFORMATION info;
        unsigned char bytes[sizeof(FILE_BOTH_DIR_INFORMATION) + MAX_PATH * sizeof(wchar_t)];
    } found;
    NTSTATUS status = NtQueryDirectoryFile(listing, nullptr, nullptr, nullptr, &io, &found,
                                           sizeof found, FileBothDirectoryInformation, TRUE,
                                           &wide.string, TRUE);
    CloseHandle(listing);
    return status < 0 || (found.info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

OsFolderHold* OsHoldChildFolder(OsFolderHold* parent, const char* name, bool create,
                                bool* created) {
    if (created) *created = false;
    HANDLE handle;
    bool made = false;
    if (OpenIn(parent, name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
               FILE_SHARE_READ | FILE_SHARE_WRITE, create ? FILE_OPEN_IF : FILE_OPEN,
               FILE_DIRECTORY_FILE, &handle, &made) < 0)
        return nullptr;
    DWORD attributes = AttributesOf(handle);
    if (ListedAsLink(parent, name)) attributes = INVALID_FILE_ATTRIBUTES;
    OsFolderHold* hold = attributes != INVALID_FILE_ATTRIBUTES &&
                                 (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                 !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                             ? (OsFolderHold*)malloc(sizeof(OsFolderHold))
                             : nullptr;
    if (!hold) {
        CloseHandle(handle);
        return nullptr;
    }
    hold->handle = handle;
    if (created) *created = made;
    return hold;
}

FILE* OsCreateNewFileIn(OsFolderHold* folder, const char* name, OsCreateResult* result) {
    *result = kOsCreateFailed;
    HANDLE handle;
    NTSTATUS status = OpenIn(folder, name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                             FILE_CREATE, FILE_NON_DIRECTORY_FILE, &handle);
    if (status < 0) {
        if (status == kNameCollision) *result = kOsAlreadyExists;
        return nullptr;
    }
    int descriptor = _open_osfhandle((intptr_t)handle, _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, "wb");
    if (!file) {
        _close(descriptor);
        return nullptr;
    }
    *result = kOsCreated;
    return file;
}

OsCreateResult OsMoveToNewNameIn(OsFolderHold* folder, const char* from, const char* to) {
    bool taken = false;
    if (RenameIn(folder, from, to, false, &taken) == 0) return kOsCreated;
    return taken ? kOsAlreadyExists : kOsCreateFailed;
}

int OsReplaceFileIn(OsFolderHold* folder, const char* from, const char* to) {
    return RenameIn(folder, from, to, true);
}

int OsDeleteFileIn(OsFolderHold* folder, const char* name) {
    HANDLE handle;
    if (OpenIn(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
               FILE_OPEN, FILE_NON_DIRECTORY_FILE, &handle) < 0)
        return -1;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    bool done = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                           sizeof disposition);
    CloseHandle(handle);
    return done ? 0 : -1;
}

int OsRemoveFolderIn(OsFolderHold* folder, const char* name) {
    HANDLE handle;
    if (OpenIn(folder, name, DELETE | FILE_READ_ATTRIBUTES,
               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
               FILE_DIRECTORY_FILE, &handle) < 0)
        return -1;
    // A link is removed as itself: the folder it points to keeps its files.
    FILE_DISPOSITION_INFO disposition = {TRUE};
    bool done = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                           sizeof disposition);
    CloseHandle(handle);
    return done ? 0 : -1;
}

OsPathKind OsGetPathKindIn(OsFolderHold* folder, const char* name, bool* read_only) {
    if (read_only) *read_only = false;
    HANDLE handle;
    if (OpenIn(folder, name, FILE_READ_ATTRIBUTES,
               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, &handle) < 0)
        return kOsMissing;
    DWORD attributes = AttributesOf(handle);
    CloseHandle(handle);
    if (attributes == INVALID_FILE_ATTRIBUTES) return kOsMissing;
    if (read_only) *read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? kOsFolder : kOsFile;
}

int OsForEachFileIn(OsFolderHold* folder, const char* pattern,
                    void (*found)(OsFolderHold* folder, const char* name, void* context),
                    void* context) {
    if (!folder) return -1;
    // Read through the held handle: the same folder whatever its path is now.
    alignas(8) unsigned char buffer[16384];
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder->handle, kind, buffer, sizeof buffer)) {
        kind = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            const FILE_ID_BOTH_DIR_INFO* record = (const FILE_ID_BOTH_DIR_INFO*)(buffer + at);
            wchar_t wide[MAX_PATH + 1];
            size_t length = record->FileNameLength / sizeof(wchar_t);
            char name[kPathCapacity];
            if (!(record->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && length <= MAX_PATH) {
                memcpy(wide, record->FileName, length * sizeof(wchar_t));
                wide[length] = L'\0';
                // A name code page 932 cannot write goes by its short form.
                bool named = WideToCp932(wide, name, sizeof name);
                if (!named && record->ShortNameLength) {
                    length = record->ShortNameLength / sizeof(wchar_t);
                    memcpy(wide, record->ShortName, length * sizeof(wchar_t));
                    wide[length] = L'\0';
                    named = WideToCp932(wide, name, sizeof name);
                }
                if (named && WildcardMatch(pattern, name)) found(folder, name, context);
            }
            if (!record->NextEntryOffset) break;
            at += record->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES ? 0 : -1;
}

int OsRemoveFolder(const char* path) {
    WidePath wide = ToWidePath(path);
    return wide.ok && RemoveDirectoryW(wide.text) ? 0 : -1;
}

int OsDeleteFile(const char* path) {
    WidePath wide = ToWidePath(path);
    return wide.ok && DeleteFileW(wide.text) ? 0 : -1;
}

int OsReplaceFile(const char* from, const char* to) {
    WidePath wide_from = ToWidePath(from);
    WidePath wide_to = ToWidePath(to);
    if (!wide_from.ok || !wide_to.ok) return -1;
    return MoveFileExW(wide_from.text, wide_to.text, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

int OsGetCurrentFolder(char* buffer, size_t capacity) {
    if (capacity == 0) return -1;
    buffer[0] = '\0';
    wchar_t wide[kWidePathCapacity];
    DWORD length = GetCurrentDirectoryW(kWidePathCapacity, wide);
    if (length == 0 || length >= kWidePathCapacity) return -1;
    return WideToCp932(wide, buffer, capacity) ? 0 : -1;
}

int OsSetCurrentFolder(const char* path) {
    WidePath wide = ToWidePath(path);
    return wide.ok && SetCurrentDirectoryW(wide.text) ? 0 : -1;
}

OsTempResult OsGetTempFolder(char* buffer, size_t capacity) {
    if (capacity == 0) return kOsTempTooLong;
    buffer[0] = '\0';
    wchar_t wide[kWidePathCapacity];
    DWORD length = GetTempPathW(kWidePathCapacity, wide);
    if (length == 0 || length >= kWidePathCapacity) return kOsTempTooLong;
    if (WideToCp932(wide, buffer, capacity)) return kOsTempOk;

    // Either too long or not writable in code page 932. Tell the two apart
    // with a conversion into a buffer that is large enough.
    char probe[kWidePathCapacity * 2];
    bool representable = WideToCp932(wide, probe, sizeof probe);

    // The 8.3 short name is plain ASCII when the volume keeps short names; it
    // also helps a long path that merely does not fit.
    wchar_t short_name[kWidePathCapacity];
    DWORD short_length = GetShortPathNameW(wide, short_name, kWidePathCapacity);
    if (short_length > 0 && short_length < kWidePathCapacity &&
        WideToCp932(short_name, buffer, capacity)) {
        return kOsTempOk;
    }
    if (!representable) {
        char short_probe[kWidePathCapacity * 2];
        bool short_representable = short_length > 0 && short_length < kWidePathCapacity &&
                                   WideToCp932(short_name, short_probe, sizeof short_probe);
        if (!short_representable) return kOsTempNotRepresentable;
    }
    return kOsTempTooLong;
}

OsPathKind OsGetPathKind(const char* path) {
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return kOsMissing;
    DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes == INVALID_FILE_ATTRIBUTES) return kOsMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kOsFolder : kOsFile;
}

bool OsIsReadOnly(const char* path) {
    return HasAttribute(path, FILE_ATTRIBUTE_READONLY);
}

namespace {

BOOL SetLastWriteTime(HANDLE file, uint64_t filetime) {
    FILETIME last_write;
    last_write.dwLowDateTime = (DWORD)filetime;
    last_write.dwHighDateTime = (DWORD)(filetime >> 32);
    return SetFileTime(file, nullptr, nullptr, &last_write);
}

}  // namespace

int OsSetFileTime(const char* path, uint64_t filetime) {
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return -1;
    // An existing file only, opened without sharing: the time is set on the
    // file just written, never on one created here by accident.
    HANDLE file = CreateFileW(wide.text, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    BOOL ok = SetLastWriteTime(file, filetime);
    CloseHandle(file);
    return ok ? 0 : -1;
}

int OsSetFileTime(FILE* file, uint64_t filetime) {
    // A time set through the handle stays when the handle is closed.
    if (fflush(file) != 0) return -1;
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(file));
    return handle != INVALID_HANDLE_VALUE && SetLastWriteTime(handle, filetime) ? 0 : -1;
}

int OsGetFileTime(const char* path, uint64_t* filetime) {
    WidePath wide = ToWidePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!wide.ok || !GetFileAttributesExW(wide.text, GetFileExInfoStandard, &data)) return -1;
    *filetime =
        ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    return 0;
}

uint32_t OsMilliseconds() {
    if (g_test_clock) return g_test_clock();
    return GetTickCount();
}

void OsSetClockForTesting(uint32_t (*clock)()) {
    g_test_clock = clock;
}

uint32_t OsRandomNumber() {
    if (g_test_random) return g_test_random();
    uint32_t value = 0;
    // The system's generator (advapi32's SystemFunction036). Should it ever
    // fail, the clock and the process id still make a name hard to guess.
    if (!RtlGenRandom(&value, sizeof value))
        value = GetTickCount() * 2654435761u ^ GetCurrentProcessId();
    return value;
}

void OsSetRandomForTesting(uint32_t (*random)()) {
    g_test_random = random;
}

struct OsFindHandle {
    HANDLE search;
};

// Reports one system record as a code page 932 name. A name that code page
// 932 cannot write is reported by its short 8.3 form when it has one, so that
// such a file can still be deleted; without one the entry is skipped.
static bool TakeRecord(const WIN32_FIND_DATAW& record, OsFindData* data) {
    data->is_folder = (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (WideToCp932(record.cFileName, data->name, sizeof data->name)) return true;
    return record.cAlternateFileName[0] &&
           WideToCp932(record.cAlternateFileName, data->name, sizeof data->name);
}

OsFindHandle* OsFindFirst(const char* pattern, OsFindData* data) {
    WidePath wide = ToWidePath(pattern);
    if (!wide.ok) return nullptr;
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(wide.text, &record);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    OsFindHandle* handle = (OsFindHandle*)malloc(sizeof(OsFindHandle));
    if (!handle) {
        FindClose(search);
        return nullptr;
    }
    handle->search = search;
    if (TakeRecord(record, data)) return handle;
    if (OsFindNext(handle, data)) return handle;
    OsFindClose(handle);
    return nullptr;
}

bool OsFindNext(OsFindHandle* handle, OsFindData* data) {
    if (!handle) return false;
    WIN32_FIND_DATAW record;
    while (FindNextFileW(handle->search, &record)) {
        if (TakeRecord(record, data)) return true;
    }
    return false;
}

void OsFindClose(OsFindHandle* handle) {
    if (!handle) return;
    FindClose(handle->search);
    free(handle);
}

struct OsLock {
    CRITICAL_SECTION section;
};

OsLock* OsCreateLock() {
    OsLock* lock = (OsLock*)malloc(sizeof(OsLock));
    if (lock) InitializeCriticalSection(&lock->section);
    return lock;
}

void OsEnterLock(OsLock* lock) {
    EnterCriticalSection(&lock->section);
}
void OsLeaveLock(OsLock* lock) {
    LeaveCriticalSection(&lock->section);
}

void OsDeleteLock(OsLock* lock) {
    if (!lock) return;
    DeleteCriticalSection(&lock->section);
    free(lock);
}

// Converts between two code pages through UTF-16. The output is cut at a
// character boundary of the target when it does not fit (result false).
static bool ConvertThroughWide(UINT from_page, UINT to_page, const char* input, char* output,
                               size_t capacity) {
    if (capacity == 0) return false;
    output[0] = '\0';
    size_t input_length = strlen(input);
    if (input_length == 0) return true;
    if (input_length > 0x3FFFFFFF) return false;
    int wide_length =
        MultiByteToWideChar(from_page, MB_ERR_INVALID_CHARS, input, (int)input_length, nullptr, 0);
    if (wide_length <= 0) return false;
    wchar_t* wide = (wchar_t*)malloc(((size_t)wide_length + 1) * sizeof(wchar_t));
    if (!wide) return false;
    MultiByteToWideChar(from_page, MB_ERR_INVALID_CHARS, input, (int)input_length, wide,
                        wide_length);
    wide[wide_length] = L'\0';

    bool ok = true;
    // Every UTF-16 unit becomes at least one byte, so more than capacity - 1
    // units can never fit.
    int count = (size_t)wide_length < capacity ? wide_length : (int)(capacity - 1);
    if (count < wide_length) ok = false;
    if (count > 0 && wide[count] >= 0xDC00 && wide[count] <= 0xDFFF && wide[count - 1] >= 0xD800 &&
        wide[count - 1] <= 0xDBFF) {
        --count;
    }
    for (;;) {
        BOOL used_default = FALSE;
        // CP_UTF8 refuses a used-default argument; every code point has a form there.
        BOOL* default_flag = to_page == CP_UTF8 ? nullptr : &used_default;
        DWORD flags = to_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
        int needed =
            WideCharToMultiByte(to_page, flags, wide, count, nullptr, 0, nullptr, default_flag);
        if (needed <= 0 || used_default) {
            ok = false;
            break;
        }
        if ((size_t)needed < capacity) {
            WideCharToMultiByte(to_page, flags, wide, count, output, (int)capacity, nullptr,
                                nullptr);
            output[needed] = '\0';
            break;
        }
        // Too long: drop one character (a surrogate pair as a whole) and retry.
        ok = false;
        --count;
        if (count > 0 && wide[count] >= 0xDC00 && wide[count] <= 0xDFFF &&
            wide[count - 1] >= 0xD800 && wide[count - 1] <= 0xDBFF) {
            --count;
        }
        if (count == 0) break;
    }
    if (count == 0) output[0] = '\0';
    free(wide);
    return ok;
}

bool OsCp932ToUtf8(const char* cp932, char* utf8, size_t capacity) {
    return ConvertThroughWide(932, CP_UTF8, cp932, utf8, capacity);
}

bool OsUtf8ToCp932(const char* utf8, char* cp932, size_t capacity) {
    return ConvertThroughWide(CP_UTF8, 932, utf8, cp932, capacity);
}

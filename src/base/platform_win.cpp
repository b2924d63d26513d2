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

// A standard I/O stream over an open handle; the handle is closed when no
// stream can be made.
FILE* StreamOf(HANDLE handle, int flags, const char* mode) {
    int descriptor = _open_osfhandle((intptr_t)handle, flags | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, mode);
    if (!file) _close(descriptor);
    return file;
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
    FILE* file = StreamOf(handle, _O_WRONLY, "wb");
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
    self = StreamOf(handle, _O_RDONLY, "rb");
    return self;
}

OsCreateResult OsCreateFolder(const char* path) {
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return kOsCreateFailed;
    if (CreateDirectoryW(wide.text, nullptr)) return kOsCreated;
    return GetLastError() == ERROR_ALREADY_EXISTS ? kOsAlreadyExists : kOsCreateFailed;
}

struct OsFolderHold {
    HANDLE handle;
};

namespace {

// A hold of an open folder handle, which it then owns; null (and the handle
// closed) when memory runs out.
OsFolderHold* NewHold(HANDLE handle) {
    OsFolderHold* hold = (OsFolderHold*)malloc(sizeof(OsFolderHold));
    if (hold)
        hold->handle = handle;
    else
        CloseHandle(handle);
    return hold;
}

// A folder opened as handle that is neither a reparse point nor shown as one
// by its name: Wine opens a Unix symbolic link's target all the same and
// shows the link only in the attributes of its name.
bool IsPlainFolder(HANDLE handle, DWORD by_name) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(handle, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !((information.dwFileAttributes | by_name) & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

OsFolderHold* OsHoldFolder(const char* path) {
    WidePath wide = ToWidePath(path);
    if (!wide.ok) return nullptr;
    // Without FILE_SHARE_DELETE nobody can rename or delete the folder while
    // it is held; the link itself is opened, never what it points to.
    HANDLE handle = CreateFileW(wide.text, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    DWORD by_name = GetFileAttributesW(wide.text);
    if (by_name == INVALID_FILE_ATTRIBUTES || !IsPlainFolder(handle, by_name)) {
        CloseHandle(handle);
        return nullptr;
    }
    return NewHold(handle);
}

OsFolderHold* OsOpenFolder(const char* path) {
    WidePath wide = ToWidePath(path);
    HANDLE handle = wide.ok
                        ? CreateFileW(wide.text, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                        : INVALID_HANDLE_VALUE;
    return handle == INVALID_HANDLE_VALUE ? nullptr : NewHold(handle);
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

// Filled in place: the counted string points into the same record.
bool ToWideName(const char* name, WideName* wide) {
    wide->ok = name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
               !FindChar(name, '\\') && !strchr(name, '/') &&
               Cp932ToWide(name, wide->text, MAX_PATH);
    wide->string.Buffer = wide->text;
    wide->string.Length = wide->string.MaximumLength =
        wide->ok ? (USHORT)(wcslen(wide->text) * sizeof(wchar_t)) : 0;
    return wide->ok;
}

// Opens name inside folder, by the folder's handle: the folder's path is never
// looked up again. A link at the name is opened itself, never followed.
// STATUS_OBJECT_NAME_COLLISION when CREATE finds the name taken.
const NTSTATUS kNameCollision = (NTSTATUS)0xC0000035L;
NTSTATUS OpenAt(HANDLE folder, UNICODE_STRING* name, ACCESS_MASK access, ULONG share,
                ULONG disposition, ULONG options, HANDLE* handle, bool* created = nullptr,
                PSECURITY_DESCRIPTOR descriptor = nullptr) {
    *handle = INVALID_HANDLE_VALUE;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE, folder, descriptor);
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

NTSTATUS OpenIn(OsFolderHold* folder, const char* name, ACCESS_MASK access, ULONG share,
                ULONG disposition, ULONG options, HANDLE* handle, bool* created = nullptr) {
    WideName wide;
    *handle = INVALID_HANDLE_VALUE;
    if (!folder || !ToWideName(name, &wide)) return (NTSTATUS)0xC0000033L;  // STATUS_OBJECT_NAME_INVALID
    return OpenAt(folder->handle, &wide.string, access, share, disposition, options, handle,
                  created);
}

DWORD AttributesOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(handle, &information) ? information.dwFileAttributes
                                                            : INVALID_FILE_ATTRIBUTES;
}

// The attributes of name inside folder as the folder's listing shows them
// (see IsPlainFolder; Wine's NtQueryAttributesFile ignores the root folder):
// a reparse point when they cannot be read or name would be taken for a mask.
DWORD AttributesByName(HANDLE folder, UNICODE_STRING* name) {
    DWORD attributes = FILE_ATTRIBUTE_REPARSE_POINT;
    for (size_t i = 0; i < name->Length / sizeof(wchar_t); ++i) {
        if (wcschr(L"*?<>\"", name->Buffer[i])) return attributes;
    }
    // A listing of its own: the folder's handle may be in the middle of one.
    UNICODE_STRING itself = {0, 0, nullptr};
    HANDLE listing;
    if (OpenAt(folder, &itself, FILE_LIST_DIRECTORY,
               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
               FILE_DIRECTORY_FILE, &listing) < 0)
        return attributes;
    alignas(8) unsigned char buffer[sizeof(FILE_BOTH_DIR_INFORMATION) + MAX_PATH * sizeof(wchar_t)];
    IO_STATUS_BLOCK io;
    if (NtQueryDirectoryFile(listing, nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
                             FileBothDirectoryInformation, TRUE, name, TRUE) >= 0)
        attributes = ((FILE_BOTH_DIR_INFORMATION*)buffer)->FileAttributes;
    CloseHandle(listing);
    return attributes;
}

// Marks the file or empty folder open as handle (with delete access) for
// deletion when it is closed.
bool Dispose(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition);
}

// Calls visit for every entry of the folder open as handle but "." and "..",
// until it returns false; visit may delete the entry. False when the folder
// cannot be read to its end.
bool EachEntry(HANDLE folder,
               bool (*visit)(HANDLE folder, const FILE_ID_BOTH_DIR_INFO* record, void* context),
               void* context) {
    alignas(8) unsigned char buffer[16384];
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, buffer, sizeof buffer)) {
        kind = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            const FILE_ID_BOTH_DIR_INFO* record = (const FILE_ID_BOTH_DIR_INFO*)(buffer + at);
            const wchar_t* name = record->FileName;
            size_t length = record->FileNameLength / sizeof(wchar_t);
            bool dots = name[0] == L'.' && (length == 1 || (length == 2 && name[1] == L'.'));
            if (!dots && !visit(folder, record, context)) return true;
            if (!record->NextEntryOffset) break;
            at += record->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool Nothing(HANDLE, const FILE_ID_BOTH_DIR_INFO*, void* empty) {
    *(bool*)empty = false;
    return false;
}

// True when the entry open as handle is the one that record of folder lists.
// Wine opens a Unix link as what it points to, even as itself, shows a link
// to a file as that file, and deletes through such a handle what it points
// to; the path that it gives the handle is that one's, though.
bool IsListedEntry(HANDLE folder, HANDLE handle, const FILE_ID_BOTH_DIR_INFO* record) {
    struct Name {
        FILE_NAME_INFO info;
        wchar_t rest[MAX_PATH * 2];
    } folder_name, entry_name;
    if (!GetFileInformationByHandleEx(folder, FileNameInfo, &folder_name, sizeof folder_name) ||
        !GetFileInformationByHandleEx(handle, FileNameInfo, &entry_name, sizeof entry_name))
        return false;
    size_t at = folder_name.info.FileNameLength / sizeof(wchar_t);
    const wchar_t* entry = entry_name.info.FileName;
    return entry_name.info.FileNameLength ==
               folder_name.info.FileNameLength + sizeof(wchar_t) + record->FileNameLength &&
           memcmp(entry, folder_name.info.FileName, at * sizeof(wchar_t)) == 0 &&
           entry[at] == L'\\' &&
           memcmp(entry + at + 1, record->FileName, record->FileNameLength) == 0;
}

// Deletes a file or a link (as itself) of an abandoned folder; a subfolder,
// or anything that cannot be deleted, keeps the folder.
bool DeleteUnlessFolder(HANDLE folder, const FILE_ID_BOTH_DIR_INFO* record, void* kept) {
    UNICODE_STRING name;
    name.Buffer = (PWSTR)record->FileName;
    name.Length = name.MaximumLength = (USHORT)record->FileNameLength;
    HANDLE handle;
    bool done =
        OpenAt(folder, &name, DELETE | FILE_READ_ATTRIBUTES,
               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, &handle) >= 0;
    if (done) {
        // A link only when opened as itself (see IsListedEntry).
        DWORD attributes = AttributesOf(handle);
        done = attributes != INVALID_FILE_ATTRIBUTES &&
               ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                !((attributes | record->FileAttributes) &
                  (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) &&
               IsListedEntry(folder, handle, record) && Dispose(handle);
        CloseHandle(handle);
    }
    if (!done) *(bool*)kept = true;
    return true;
}

// The owner that this process gives what it makes, and the access list of
// made, on the folder open as handle: what a folder made with made has.
// Always so under Wine, which enforces no access list (the Unix permissions
// are what protect there) and shows one made up from them.
bool HasSecurityOf(HANDLE handle, PSECURITY_DESCRIPTOR made) {
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return true;
    PSID owner = nullptr;
    PACL found = nullptr, wanted = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &found, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    BOOL present = FALSE, defaulted;
    bool same = owner && found && GetSecurityDescriptorDacl(made, &present, &wanted, &defaulted) &&
                present && wanted && found->AceCount == wanted->AceCount;
    // Entry by entry, each within its list: an entry inherited from the
    // temporary folder, or one missing, and the list is not the one set.
    for (size_t i = 0, at = sizeof(ACL); same && i < wanted->AceCount; ++i) {
        const ACE_HEADER* a = (const ACE_HEADER*)((const BYTE*)found + at);
        const ACE_HEADER* b = (const ACE_HEADER*)((const BYTE*)wanted + at);
        same = at + sizeof(ACE_HEADER) <= found->AclSize &&
               at + sizeof(ACE_HEADER) <= wanted->AclSize && a->AceSize == b->AceSize &&
               a->AceSize >= sizeof(ACE_HEADER) && at + a->AceSize <= found->AclSize &&
               at + a->AceSize <= wanted->AclSize && memcmp(a, b, a->AceSize) == 0;
        at += a->AceSize;
    }
    HANDLE token;
    if (same && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(8) unsigned char buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        same = GetTokenInformation(token, TokenOwner, buffer, sizeof buffer, &size) &&
               EqualSid(owner, ((TOKEN_OWNER*)buffer)->Owner);
        CloseHandle(token);
    } else {
        same = false;
    }
    LocalFree(descriptor);
    return same;
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
    WideName wide_to;
    if (!ToWideName(to, &wide_to)) return -1;
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
    WideName wide;
    ToWideName(name, &wide);
    if (!IsPlainFolder(handle, AttributesByName(parent->handle, &wide.string))) {
        CloseHandle(handle);
        return nullptr;
    }
    OsFolderHold* hold = NewHold(handle);
    if (hold && created) *created = made;
    return hold;
}

OsFolderHold* OsCreatePrivateFolderIn(OsFolderHold* parent, const char* name,
                                      OsCreateResult* result) {
    *result = kOsCreateFailed;
    WideName wide;
    ToWideName(name, &wide);
    if (!parent || !wide.ok) return nullptr;
    // Protected (no access inherited from the user's Temp folder): full
    // access for SYSTEM and the Administrators, for the folder and all that
    // is made in it. Unelevated, the user's own Temp folder is private enough.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (IsElevated() &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr)) {
        return nullptr;
    }
    // Made and opened in one step, held (no delete sharing) from then on.
    HANDLE handle;
    bool made = false, empty = true;
    NTSTATUS status = OpenAt(parent->handle, &wide.string,
                             FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE,
                             &handle, &made, descriptor);
    if (status == kNameCollision) *result = kOsAlreadyExists;
    OsFolderHold* hold = nullptr;
    if (status >= 0) {
        if (made && IsPlainFolder(handle, AttributesByName(parent->handle, &wide.string)) &&
            EachEntry(handle, Nothing, &empty) && empty &&
            (!descriptor || HasSecurityOf(handle, descriptor)))
            hold = NewHold(handle);
        else
            CloseHandle(handle);
    }
    if (descriptor) LocalFree(descriptor);
    if (hold) *result = kOsCreated;
    return hold;
}

void OsRemoveAbandonedFolder(OsFolderHold* parent, const char* name) {
    WideName wide;
    ToWideName(name, &wide);
    HANDLE handle;
    // Delete access without delete sharing: a sharing violation while a run
    // holds its work folder (which it does from creation to removal), and
    // once open, nobody renames, deletes or swaps the folder until closed.
    if (!parent || !wide.ok ||
        OpenAt(parent->handle, &wide.string, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
               FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, FILE_DIRECTORY_FILE, &handle) < 0)
        return;
    bool kept = false;
    if (IsPlainFolder(handle, AttributesByName(parent->handle, &wide.string)) &&
        EachEntry(handle, DeleteUnlessFolder, &kept) && !kept)
        Dispose(handle);
    CloseHandle(handle);
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
    FILE* file = StreamOf(handle, _O_WRONLY, "wb");
    if (file) *result = kOsCreated;
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
    bool done = Dispose(handle);
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
    bool done = Dispose(handle);
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

namespace {

struct FileWalk {
    OsFolderHold* folder;
    const char* pattern;
    void (*found)(OsFolderHold* folder, const char* name, void* context);
    void* context;
    bool folders;
};

bool FoundIfMatching(HANDLE, const FILE_ID_BOTH_DIR_INFO* record, void* walk_pointer) {
    FileWalk* walk = (FileWalk*)walk_pointer;
    wchar_t wide[MAX_PATH + 1];
    size_t length = record->FileNameLength / sizeof(wchar_t);
    char name[kPathCapacity];
    if (((record->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != walk->folders ||
        length > MAX_PATH)
        return true;
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
    if (named && WildcardMatch(walk->pattern, name)) walk->found(walk->folder, name, walk->context);
    return true;
}

}  // namespace

int OsForEachFileIn(OsFolderHold* folder, const char* pattern,
                    void (*found)(OsFolderHold* folder, const char* name, void* context),
                    void* context, bool folders) {
    // Read through the held handle: the same folder whatever its path is now.
    FileWalk walk = {folder, pattern, found, context, folders};
    return folder && EachEntry(folder->handle, FoundIfMatching, &walk) ? 0 : -1;
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
    return GetTickCount();
}

uint32_t OsRandomNumber() {
    uint32_t value = 0;
    // The system's generator (advapi32's SystemFunction036). Should it ever
    // fail, the clock and the process id still make a name hard to guess.
    if (!RtlGenRandom(&value, sizeof value))
        value = GetTickCount() * 2654435761u ^ GetCurrentProcessId();
    return value;
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

// Checks of the Win32 side of the updater that its own runs under Wine do not
// show. Prints one line per failed check; the exit code is their number.
// platform_check.exe SCRATCH_FOLDER PROGRAM_TO_START (a plain-ASCII folder,
// empty but for the work folders planted in its "temp"; a program under a
// folder name with a space)
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "shell/window_win.h"
#include "base/platform.h"
#include "base/text.h"
#include "base/wide_win.h"
#include "base/workfolder.h"
#include "shell/launch_win.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    if (ok) return;
    ++g_failures;
    printf("FAILED: %s\n", what);
}

bool Closed(FILE* file) {
    if (file) fclose(file);
    return file != nullptr;
}

// Code page 932 spellings used below. 表 and ソ end in 0x5C.
#define HYO "\x95\x5c"
#define SO "\x83\x5c"
#define A_HIRA "\x82\xa0"

bool ToWide(const char* text, size_t capacity, bool ok, const wchar_t* wide) {
    wchar_t out[16];
    return Cp932ToWide(text, out, capacity) == ok && wcscmp(out, wide) == 0;
}

bool ToCp932(const wchar_t* wide, size_t capacity, bool ok, const char* text) {
    char out[8];
    return WideToCp932(wide, out, capacity) == ok && strcmp(out, text) == 0;
}

void CheckConversions() {
    Check(ToWide(HYO SO "\\x", 16, true, L"\u8868\u30bd\\x"), "0x5C second bytes");
    Check(ToWide("ab\x95", 16, false, L""), "lead byte at the end");
    Check(ToWide("\x95\x0a", 16, false, L""), "lead byte before a control byte");
    Check(ToWide(A_HIRA A_HIRA, 3, true, L"\u3042\u3042"), "exact fit");
    Check(ToWide(A_HIRA A_HIRA, 2, false, L""), "one unit short");
    Check(ToCp932(L"\u8868", 8, true, HYO), "back: 0x5C second byte");
    Check(ToCp932(L"caf\u00e9", 8, false, ""), "back: no best fit for e acute");
    Check(ToCp932(L"\u2460", 8, true, "\x87\x40"), "back: circled one (NEC row)");
    Check(ToCp932(L"\u3042a", 4, true, A_HIRA "a"), "back: exact fit");
    Check(ToCp932(L"\u3042a", 3, false, ""), "back: one byte short");

    wchar_t wide[8];
    Cp932ToWideForDisplay(A_HIRA A_HIRA A_HIRA, wide, 3);
    Check(wcscmp(wide, L"\u3042\u3042") == 0, "display: cut to two characters");
    Cp932ToWideForDisplay("a\x95", wide, 8);
    Check(wide[0] == L'a' && wcslen(wide) <= 2, "display: bad byte does not stop the text");

    char utf8[16];
    Check(OsCp932ToUtf8(HYO, utf8, sizeof utf8) && strcmp(utf8, "\xe8\xa1\xa8") == 0,
          "utf8: 0x5C second byte");
    char cut[5];
    Check(!OsCp932ToUtf8(HYO HYO, cut, sizeof cut) && strcmp(cut, "\xe8\xa1\xa8") == 0,
          "utf8: cut at a character, reported");
    char cp932[8];
    Check(OsUtf8ToCp932("\xe3\x82\xbd", cp932, sizeof cp932) && strcmp(cp932, SO) == 0,
          "utf8 back: katakana so");
    Check(!OsUtf8ToCp932("caf\xc3\xa9", cp932, sizeof cp932), "utf8 back: e acute refused");
    Check(!OsUtf8ToCp932("\xff", cp932, sizeof cp932), "utf8 back: invalid UTF-8 refused");
}

// By name, as the journal, the settings and the file layer go at files.
void CheckFiles(const char* scratch) {
    char folder[kPathCapacity], file[kPathCapacity], other[kPathCapacity];
    snprintf(folder, sizeof folder, "%s\\" HYO, scratch);
    snprintf(file, sizeof file, "%s\\" SO ".txt", folder);
    snprintf(other, sizeof other, "%s\\other.txt", folder);
    wchar_t wide_folder[kWidePathCapacity];
    Cp932ToWide(folder, wide_folder, kWidePathCapacity);
    CreateDirectoryW(wide_folder, nullptr);
    Check(Closed(OsOpenFile(file, "wb")), "files: create 表\\ソ.txt");
    Check(OsGetPathKind(file) == kOsFile, "files: file kind");
    OsCreateResult created = kOsCreateFailed;
    Check(Closed(OsCreateNewFile(other, &created)) && created == kOsCreated, "files: create a new file");
    Check(!OsCreateNewFile(other, &created) && created == kOsAlreadyExists,
          "files: create a new file over a taken name");
    OsDeleteFile(other);

    // A name that code page 932 cannot write, made behind the module's back.
    wchar_t foreign[kWidePathCapacity];
    swprintf(foreign, kWidePathCapacity, L"%ls\\caf\u00e9 long name.txt", wide_folder);
    Check(Closed(_wfopen(foreign, L"wb")), "files: make a foreign name");

    char pattern[kPathCapacity];
    snprintf(pattern, sizeof pattern, "%s\\*.*", folder);
    OsFindData data;
    int folders = 0;
    bool names_valid = true;
    OsFindHandle* search = OsFindFirst(pattern, &data);
    for (bool more = search != nullptr; more; more = OsFindNext(search, &data)) {
        folders += data.is_folder;
        names_valid =
            names_valid && IsValidCp932(data.name, strlen(data.name)) && !FindChar(data.name, '?');
    }
    OsFindClose(search);
    Check(folders == 2, "find: . and .. as folders");
    Check(names_valid, "find: every name is real code page 932, no '?'");

    // As the work folder goes: its files by name, then the folder.
    OsDeleteFile(file);
    DeleteFileW(foreign);
    Check(OsRemoveFolder(folder) == 0, "delete: 表\\ソ.txt and the folder removed");
}

void CheckTempFolder(const char* scratch) {
    char temp[kPathCapacity];
    Check(OsGetTempFolder(temp, sizeof temp) == kOsTempOk, "temp: normal");

    // A temporary folder whose name code page 932 cannot write.
    wchar_t wide_scratch[kWidePathCapacity];
    Cp932ToWide(scratch, wide_scratch, kWidePathCapacity);
    wchar_t foreign[kWidePathCapacity];
    swprintf(foreign, kWidePathCapacity, L"%ls\\t\u00e9mp folder", wide_scratch);
    CreateDirectoryW(foreign, nullptr);
    // This process's own variables, left so: the work-folder checks set TMP again.
    SetEnvironmentVariableW(L"TMP", foreign);
    SetEnvironmentVariableW(L"TEMP", foreign);

    OsTempResult result = OsGetTempFolder(temp, sizeof temp);
    Check(result == kOsTempOk || result == kOsTempNotRepresentable, "temp: foreign name result");
    if (result == kOsTempOk) {
        Check(IsValidCp932(temp, strlen(temp)) && !FindChar(temp, '?'), "temp: short form clean");
        Check(OsGetPathKind(temp) == kOsFolder, "temp: short form names the folder");
    } else {
        Check(temp[0] == '\0', "temp: nothing half-converted left in the buffer");
    }

    char tiny[8];
    Check(OsGetTempFolder(tiny, sizeof tiny) == kOsTempTooLong || result != kOsTempOk,
          "temp: too long for the buffer");
    RemoveDirectoryW(foreign);
}

void CheckWindowsAndLaunch(const char* program) {
    // Larger than the screen, a window is still centred: its corner off it.
    int width = GetSystemMetrics(SM_CXSCREEN) + 200, height = GetSystemMetrics(SM_CYSCREEN) + 101;
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, width, height, nullptr,
                                  nullptr, nullptr, nullptr);
    CenterOnScreen(window);
    RECT rect;
    GetWindowRect(window, &rect);
    Check(rect.left == (GetSystemMetrics(SM_CXSCREEN) - width) / 2 &&
              rect.top == (GetSystemMetrics(SM_CYSCREEN) - height) / 2 &&
              rect.right - rect.left == width,
          "centre: larger than the screen");
    DestroyWindow(window);

    Check(RunProgram(std::string(399, 'a').c_str()) == 0, "run: a path that does not fit is not started");
    Check(RunProgram(program) != 0, "run: a path with spaces");
}

// Work inside held folders, by handle, as the copy and the deletion do.
void CountFound(OsFolderHold*, const char*, void* count) { ++*(int*)count; }

void CheckHeldFolders(const char* scratch) {
    OsFolderHold* root = OsHoldFolder(scratch);
    Check(root != nullptr, "held: hold the scratch folder");
    bool created = false;
    OsFolderHold* folder = OsHoldChildFolder(root, HYO, true, &created);
    Check(folder && created, "held: make and hold a child folder");
    OsCreateResult result;
    Check(Closed(OsCreateNewFileIn(folder, SO ".txt", &result)) && result == kOsCreated,
          "held: create a file inside");
    Check(!OsCreateNewFileIn(folder, SO ".txt", &result) && result == kOsAlreadyExists,
          "held: a taken name is refused");
    Check(OsMoveToNewNameIn(folder, SO ".txt", "b.txt") == kOsCreated, "held: move to a new name");
    Closed(OsCreateNewFileIn(folder, "c.txt", &result));
    Check(OsMoveToNewNameIn(folder, "c.txt", "b.txt") == kOsAlreadyExists,
          "held: a move to a taken name is refused");
    Check(OsReplaceFileIn(folder, "c.txt", "b.txt") == 0, "held: replace");
    bool read_only = true;
    Check(OsGetPathKindIn(folder, "b.txt", &read_only) == kOsFile && !read_only, "held: kind");
    int count = 0;
    Check(OsForEachFileIn(folder, "*.*", CountFound, &count) == 0 && count == 1, "held: list");
    Check(OsDeleteFileIn(folder, "b.txt") == 0, "held: delete");
    Check(OsRemoveFolderIn(root, HYO) != 0, "held: a held folder cannot be removed");
    OsReleaseFolder(folder);
    Check(OsRemoveFolderIn(root, HYO) == 0, "held: remove the released folder");
    // The work folder, made and checked through one opening and held from then on.
    OsFolderHold* made = OsCreatePrivateFolderIn(root, "made", &result);
    Check(made && result == kOsCreated, "work: made, checked and held");
    Check(!OsCreatePrivateFolderIn(root, "made", &result) && result == kOsAlreadyExists,
          "work: a taken name is refused");
    OsReleaseFolder(made);
    OsReleaseFolder(root);
}

// A start removes what killed runs left in the temporary folder, which the
// bench plants in SCRATCH\temp, and what it keeps is the bench's to see.
void CheckWorkFolders(const char* scratch) {
    char temp[kPathCapacity], held[kPathCapacity];
    snprintf(temp, sizeof temp, "%s\\temp", scratch);
    snprintf(held, sizeof held, "%s\\TempGPInstallFolder_000000002", temp);
    wchar_t wide_temp[kWidePathCapacity];
    Cp932ToWide(temp, wide_temp, kWidePathCapacity);
    SetEnvironmentVariableW(L"TMP", wide_temp);
    OsFolderHold* running = OsHoldFolder(held);
    Check(CreateWorkFolder() == kWorkFolderReady, "work: created in the planted temp folder");
    RemoveWorkFolder();
    OsReleaseFolder(running);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        printf("usage: platform_check SCRATCH_FOLDER PROGRAM_TO_START\n");
        return 100;
    }
    CheckConversions();
    CheckFiles(argv[1]);
    CheckTempFolder(argv[1]);
    CheckHeldFolders(argv[1]);
    CheckWorkFolders(argv[1]);
    CheckWindowsAndLaunch(argv[2]);
    printf("%d failed\n", g_failures);
    return g_failures;
}

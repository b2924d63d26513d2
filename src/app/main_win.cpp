// Entry of vnupdate.exe: the fixed start-up order, then the start-up window
// until the user leaves it. The command line and the show state are ignored.
// Every step hands its end up as a result; the run ends in one place, at the
// bottom of wWinMain, which is also the one end of the process.
#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <zlib.h>

#include "base/text.h"
#include "base/wide_win.h"
#include "base/workfolder.h"
#include "config/sections.h"
#include "config/settings.h"
#include "filelayer/filelayer.h"
#include "payload/extract.h"
#include "shell/exitpath_win.h"
#include "shell/msgbox_win.h"
#include "shell/window_win.h"
#include "texts.h"
#include "ui/startup_win.h"

namespace {

// The settings file of the payload, opened by its bare name from the work
// folder.
const char* const kSettingsName = kSettingsFileName;

// The setup files are the work folder's, removed with it at the end.
void NoteSetupFile(void* context, const char* path) {
    NoteWorkFile(path);
}

// The work folder, the payload's setup files, the settings and the sections,
// in this order. kRunLeft when the run goes on.
RunEnd PrepareRun() {
    switch (CreateWorkFolder()) {
        case kWorkFolderReady:
            break;
        case kWorkFolderBadTemp:
            // Never mangle a path the system gave: say what is wrong instead.
            return {kRunTempFolderUnusable, nullptr, 0};
        case kWorkFolderFailed:
            return {kRunPayloadDamaged, nullptr, 0};
    }
    PayloadArchive archive;
    if (OpenPayloadArchive(&archive) != 0) return {kRunPayloadDamaged, nullptr, 0};
    ExtractTarget work = {WorkFolderPath(), kSetupPass, nullptr, nullptr, nullptr};
    ExtractEvents events = {nullptr, nullptr, nullptr, PumpWalkMessages, NoteSetupFile};
    StagedList staged = {};
    switch (ExtractArchive(&archive, &work, &events, &staged, nullptr)) {
        case kExtractDone:
            break;
        case kExtractQuit:
            return {kRunQuit, nullptr, staged.quit_code};
        case kExtractFailed:
            return {kRunPayloadDamaged, nullptr, 0};
    }
    if (!Ffexist(kSettingsName)) return {kRunSetupFilesMissing, nullptr, 0};
    if (LoadSettings(kSettingsName) != 0) return {kRunCancelled, nullptr, 0};
    SectionId open_section;
    switch (LoadSectionLists(kSettingsName, &open_section)) {
        case kSectionsLoaded:
            return {kRunLeft, nullptr, 0};
        case kSectionsOpenFailed:
            return {kRunSectionOpenFailed, kSettingsName, 0};
        case kSectionsNotTerminated:
            return {kRunSectionNotTerminated, SectionName(open_section), 0};
    }
    return {kRunSectionOpenFailed, kSettingsName, 0};
}

// The mutex named after the configured title, held until the run has ended:
// while it exists another start with the same title learns that this one
// runs. A backslash would name a kernel namespace, so it becomes the
// full-width one.
RunEnd HoldSingleInstance(HANDLE* mutex) {
    char title[kBoxTextCapacity];
    WindowTitle(title, sizeof title);
    char name[kBoxTextCapacity];
    CopyReplacingBackslashes(name, sizeof name, title, kTextFullWidthBackslash);
    wchar_t wide_name[kBoxTextCapacity];
    Cp932ToWideForDisplay(name, wide_name, kBoxTextCapacity);
    *mutex = CreateMutexW(nullptr, TRUE, wide_name);
    if (!*mutex) return {kRunNoMutex, nullptr, 0};
    if (GetLastError() == ERROR_ALREADY_EXISTS) return {kRunAlreadyRunning, nullptr, 0};
    return {kRunLeft, nullptr, 0};
}

}  // namespace

// inflate names crc32 only for gzip streams, which inflateInit_ never accepts
// here. Answered by the file layer's own CRC-32, zlib's crc32.o and its 8 KB
// of tables stay out of the updater.
extern "C" uLong crc32(uLong crc, const Bytef* data, uInt length) {
    return FfCrc32((uint32_t)crc, data, length);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Without the system's DLLs there is no window, not even a message box.
    if (!LoadDllsFromSystemFolderOnly()) return -1;
    InstallShellHandlers();
    CoInitialize(nullptr);
    // Setup files are opened by their bare names from the work folder.
    Ffsetdirect(1);
    // The progress bar and animation classes of the version 6 controls.
    InitCommonControls();

    StartupWindow window = {};
    HANDLE mutex = nullptr;
    RunEnd end = PrepareRun();
    // The settings come first: the mutex is named after the configured title.
    if (end.outcome == kRunLeft) end = HoldSingleInstance(&mutex);
    int exit_code;
    if (end.outcome == kRunLeft) {
        // The window tells the run's end itself, while it still owns the boxes.
        RunStartupWindow(&window);
        exit_code = window.exit_code;
    } else {
        exit_code = EndRun(end);
    }

    // The one way out, in this order: the settings, the sections and the file
    // layer's lock, COM, and last the mutex, so that a second start waits
    // until this run has cleaned up.
    ReleaseSettings();
    ReleaseSectionLists();
    FfReleaseLock();
    CoUninitialize();
    if (mutex) CloseHandle(mutex);
    return exit_code;
}

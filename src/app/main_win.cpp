// Entry of vnupdate.exe: the fixed start-up order, then the start-up window
// until the user leaves it. The command line and the show state are ignored.
// Every early end goes through EndRun, which knows each one's message, its
// work-folder rule and its exit code.
#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <stdlib.h>
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
#include "ui/startup_win.h"

namespace {

// The one configuration file of the payload, by the name its readers take.
char g_settings_name[128];

// Held, never closed, until the process ends: while it exists another start
// with the same title learns that this one runs.
HANDLE g_single_instance = nullptr;

void ReleaseCom() {
    CoUninitialize();
}

void EnsureSingleInstance() {
    char name[kBoxTextCapacity];
    SingleInstanceName(name, sizeof name);
    wchar_t wide_name[kBoxTextCapacity];
    Cp932ToWideForDisplay(name, wide_name, kBoxTextCapacity);
    g_single_instance = CreateMutexW(nullptr, TRUE, wide_name);
    if (!g_single_instance) EndRun(kRunNoMutex);
    if (GetLastError() == ERROR_ALREADY_EXISTS) EndRun(kRunAlreadyRunning);
}

// The setup files are the work folder's, removed with it at the end.
void NoteSetupFile(void* context, const char* path) {
    NoteWorkFile(path);
}

}  // namespace

// inflate names crc32 only for gzip streams, which inflateInit_ never accepts
// here. Answered by the file layer's own CRC-32, zlib's crc32.o and its 8 KB
// of tables stay out of the updater.
extern "C" uLong crc32(uLong crc, const Bytef* data, uInt length) {
    return FfCrc32((uint32_t)crc, data, length);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Without the system's DLLs there is no window, not even a message box.
    if (!LoadDllsFromSystemFolderOnly()) return -1;
    InstallShellHandlers();
    CopyText(g_settings_name, sizeof g_settings_name, kSettingsFileName);

    // Exit handlers run in reverse order of registration: the setting store
    // and the file layer's lock (registered later, on first use) are released
    // before COM.
    CoInitialize(nullptr);
    atexit(ReleaseCom);

    // Setup files are opened by their bare names from the work folder.
    Ffsetdirect(1);

    // The progress bar and animation classes of the version 6 controls.
    InitCommonControls();

    switch (CreateWorkFolder()) {
        case kWorkFolderReady:
            break;
        case kWorkFolderBadTemp:
            // Never mangle a path the system gave: say what is wrong instead.
            EndRun(kRunTempFolderUnusable);
        case kWorkFolderFailed:
            EndRun(kRunPayloadDamaged);
    }

    PayloadArchive archive;
    StagedList staged = {};
    ExtractTarget work = {WorkFolderPath(), kSetupPass, nullptr, nullptr, nullptr};
    ExtractEvents events = {nullptr, nullptr, nullptr, PumpWalkMessages, NoteSetupFile};
    if (OpenPayloadArchive(&archive) != 0) EndRun(kRunPayloadDamaged);
    ExtractResult extracted = ExtractArchive(&archive, &work, &events, &staged, nullptr);
    if (extracted == kExtractQuit) EndRun(kRunQuit, nullptr, staged.quit_code);
    if (extracted != kExtractDone) EndRun(kRunPayloadDamaged);
    if (!Ffexist(g_settings_name)) EndRun(kRunSetupFilesMissing);
    LoadSettings(g_settings_name);
    SectionId open_section;
    switch (LoadSectionLists(g_settings_name, &open_section)) {
        case kSectionsLoaded:
            break;
        case kSectionsOpenFailed:
            EndRun(kRunSectionOpenFailed, g_settings_name);
        case kSectionsNotTerminated:
            EndRun(kRunSectionNotTerminated, SectionName(open_section));
    }
    // The settings come first: the mutex is named after the configured title.
    EnsureSingleInstance();

    for (;;) {
        INT_PTR result = DialogBoxParamW(instance, L"MAINDIALOG", nullptr, StartupWindowProc, 0);
        if (result == 0) break;
        // -1: the window could not be created at all; showing it again would
        // only fail again, for ever.
        if (result == -1) EndRun(kRunStartupWindowFailed);
    }
    return 0;
}

// Entry of vnupdate.exe: the fixed start-up order, then the start-up window
// until the user leaves it. The command line and the show state are ignored.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <stdlib.h>

#include "base/text.h"
#include "base/wide_win.h"
#include "base/workfolder.h"
#include "config/sections.h"
#include "config/settings.h"
#include "filelayer/filelayer.h"
#include "payload/extract.h"
#include "texts.h"
#include "ui/msgbox.h"
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

// Reports a start-up failure after which nothing can go on, and ends the run.
[[noreturn]] void FailStartup(const char* text) {
    ErrorBox("%s", text);
    RemoveWorkFolder();
    exit(-1);
}

// Ends the run quietly, or after telling the user that an updater with the
// same title is already running, when this is not the only instance.
void EnsureSingleInstance() {
    char name[kBoxTextCapacity];
    SingleInstanceName(name, sizeof name);
    wchar_t wide_name[kBoxTextCapacity];
    Cp932ToWideForDisplay(name, wide_name, kBoxTextCapacity);
    g_single_instance = CreateMutexW(nullptr, TRUE, wide_name);
    if (!g_single_instance) {
        RemoveWorkFolder();
        exit(0);
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;

    // A plain box without owner and without clipboard copy: nothing failed.
    char text[kBoxTextCapacity];
    FormatText(text, sizeof text, kTextAlreadyRunning, WindowTitle());
    wchar_t wide_text[kBoxTextCapacity];
    Cp932ToWideForDisplay(text, wide_text, kBoxTextCapacity);
    wchar_t wide_caption[kPathCapacity];
    Cp932ToWideForDisplay(SettingTitleBar(), wide_caption, kPathCapacity);
    MessageBoxW(nullptr, wide_text, wide_caption, MB_OK | MB_ICONERROR);
    RemoveWorkFolder();
    exit(0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    CopyText(g_settings_name, sizeof g_settings_name, "install.env");

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
            FailStartup(kTextTempFolderUnusable);
        case kWorkFolderFailed:
            FailStartup(kTextPayloadDamaged);
    }

    ExtractPayload(WorkFolderPath(), kSetupPass);

    CheckSetupFiles(g_settings_name);
    LoadSettings(g_settings_name);
    LoadSectionLists(g_settings_name);
    // The settings come first: the mutex is named after the configured title.
    EnsureSingleInstance();

    for (;;) {
        INT_PTR result = DialogBoxParamW(instance, L"MAINDIALOG", nullptr, StartupWindowProc, 0);
        if (result == 0) break;
        // -1: the window could not be created at all; showing it again would
        // only fail again, for ever.
        if (result == -1) FailStartup(kTextStartupWindowFailed);
    }
    return 0;
}

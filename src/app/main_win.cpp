// Entry of vnupdate.exe: the fixed start-up order, then the start-up window
// until the user leaves it. The command line and the show state are ignored.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <stdlib.h>

#include "app/text.h"
#include "app/wide_win.h"
#include "app/workfolder.h"
#include "payload/extract.h"
#include "texts.h"
#include "ui/msgbox.h"
#include "ui/startup_win.h"

namespace {

// The one configuration file of the payload, by the name its readers take.
char g_settings_name[128];

void ReleaseCom() {
    CoUninitialize();
}

// Reports a start-up failure after which nothing can go on, and ends the run.
[[noreturn]] void FailStartup(const char* text) {
    ErrorBox("%s", text);
    RemoveWorkFolder();
    exit(-1);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    CopyText(g_settings_name, sizeof g_settings_name, "install.env");

    // Exit handlers run in reverse order of registration: the setting store
    // and the file layer's lock (registered later, on first use) are released
    // before COM.
    CoInitialize(nullptr);
    atexit(ReleaseCom);

    // TODO(filelayer merge): Ffsetdirect(1);

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

    // TODO(config merge): settings file check, LoadSettings, LoadSectionLists
    // and the single-instance mutex go here.

    for (;;) {
        INT_PTR result = DialogBoxParamW(instance, L"MAINDIALOG", nullptr, StartupWindowProc, 0);
        if (result == 0) break;
        // -1: the window could not be created at all; showing it again would
        // only fail again, for ever.
        if (result == -1) FailStartup(kTextStartupWindowFailed);
    }
    return 0;
}

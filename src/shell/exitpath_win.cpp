// The early ends of a run, one row each (see exitpath_win.h).
#include "shell/exitpath_win.h"

#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include "base/text.h"
#include "base/wide_win.h"
#include "base/workfolder.h"
#include "config/settings.h"
#include "texts.h"
#include "shell/msgbox_win.h"
#include "shell/window_win.h"

namespace {

enum Report {
    kReportNothing,
    kReportError,    // ErrorBox: OK, owner and caption from the main window
    kReportRetry,    // ErrorRetryBox; either answer ends the run
    kReportRunning,  // plain box: no owner, TITLEBAR as caption, nothing copied
};

struct OutcomeRow {
    Report report;
    const char* text;
    bool remove_work_folder;
    int exit_code;
};

// After a Retry/Cancel question the work folder stays, as after every
// question the user can abandon; the run ends whichever button is pressed.
// A quit message leaves everything where it stands.
const OutcomeRow kOutcomes[kRunOutcomeCount] = {
    /* kRunLeft                 */ {kReportNothing, nullptr, true, 0},
    /* kRunCancelled            */ {kReportNothing, nullptr, false, -1},
    /* kRunQuit                 */ {kReportNothing, nullptr, false, 0},
    /* kRunTempFolderUnusable   */ {kReportError, kTextTempFolderUnusable, true, -1},
    /* kRunPayloadDamaged       */ {kReportError, kTextPayloadDamaged, true, -1},
    /* kRunSetupFilesMissing    */ {kReportError, kTextSetupFilesMissing, true, -1},
    /* kRunSectionOpenFailed    */ {kReportRetry, kTextSectionOpenFailed, false, -1},
    /* kRunSectionNotTerminated */ {kReportRetry, kTextSectionNotTerminated, false, -1},
    /* kRunNoMutex              */ {kReportNothing, nullptr, true, 0},
    /* kRunAlreadyRunning       */ {kReportRunning, kTextAlreadyRunning, true, 0},
    /* kRunStartupWindowFailed  */ {kReportError, kTextStartupWindowFailed, true, -1},
};

// Not an error of this run, so no clipboard copy, and no owner: the start-up
// window does not exist yet.
void ShowAlreadyRunning() {
    char title[kPathCapacity];
    WindowTitle(title, sizeof title);
    char text[kBoxTextCapacity];
    FormatText(text, sizeof text, kTextAlreadyRunning, title);
    wchar_t wide_text[kBoxTextCapacity];
    Cp932ToWideForDisplay(text, wide_text, kBoxTextCapacity);
    wchar_t wide_caption[kPathCapacity];
    Cp932ToWideForDisplay(SettingText(kSettingTitleBar), wide_caption, kPathCapacity);
    MessageBoxW(nullptr, wide_text, wide_caption, MB_OK | MB_ICONERROR);
}

}  // namespace

int EndRun(const RunEnd& end) {
    const OutcomeRow& row = kOutcomes[end.outcome];
    const char* detail = end.detail;
    switch (row.report) {
        case kReportNothing:
            break;
        case kReportError:
            ErrorBox(row.text, detail ? detail : "");
            break;
        case kReportRetry:
            ErrorRetryBox(row.text, detail ? detail : "");
            break;
        case kReportRunning:
            ShowAlreadyRunning();
            break;
    }
    if (row.remove_work_folder) RemoveWorkFolder();
    return end.outcome == kRunQuit ? end.quit_code : row.exit_code;
}

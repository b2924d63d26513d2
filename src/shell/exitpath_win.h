// The one way a run ends early. The portable core hands its fatal results up;
// the entry (and, during the copy, the update procedure) passes them here,
// where each outcome has its message, its work-folder rule and its exit code.
#pragma once

enum RunOutcome {
    kRunTempFolderUnusable,    // the temporary folder has no code page 932 form
    kRunPayloadDamaged,        // the payload cannot be read, or a stream is damaged
    kRunSetupFilesMissing,     // install.env is not in the work folder
    kRunSectionOpenFailed,     // install.env cannot be opened for its sections (detail: name)
    kRunSectionNotTerminated,  // a section is still open at the end (detail: its name)
    kRunNoMutex,               // the single-instance mutex cannot be made
    kRunAlreadyRunning,        // another updater with the same title runs
    kRunStartupWindowFailed,   // the start-up window cannot be created
    kRunQuit,                  // a pump took a quit message (code: its code)
    kRunOutcomeCount,
};

// Tells the user (or not), removes the work folder (or leaves it) and ends
// the process with the outcome's exit code (kRunQuit: code). detail fills
// the %s of the messages that have one.
[[noreturn]] void EndRun(RunOutcome outcome, const char* detail = nullptr, int code = 0);

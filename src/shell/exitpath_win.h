// How a run ends. The portable core and the procedures hand their results up;
// whoever holds the end of the run (the entry before the start-up window, the
// start-up window while it is open) passes the outcome here, where each one
// has its message, its work-folder rule and its exit code. The process itself
// ends only by returning from the entry.
#pragma once

enum RunOutcome {
    kRunLeft,                  // the start-up window was left: the work is done or not wanted
    kRunCancelled,             // the user chose Cancel in a Retry/Cancel box
    kRunQuit,                  // a quit message was taken (its code is the exit code)
    kRunTempFolderUnusable,    // the temporary folder has no code page 932 form
    kRunPayloadDamaged,        // the payload cannot be read, or a stream is damaged
    kRunSetupFilesMissing,     // install.env is not in the work folder
    kRunSectionOpenFailed,     // install.env cannot be opened for its sections (detail: name)
    kRunSectionNotTerminated,  // a section is still open at the end (detail: its name)
    kRunNoMutex,               // the single-instance mutex cannot be made
    kRunAlreadyRunning,        // another updater with the same title runs
    kRunStartupWindowFailed,   // the start-up window cannot be created
    kRunOutcomeCount,
};

// Where a run stands: kRunLeft with no detail while it goes on.
struct RunEnd {
    RunOutcome outcome;
    const char* detail;  // fills the %s of the messages that have one
    int quit_code;       // the exit code of kRunQuit
};

// Tells the user (or not) and removes the work folder (or leaves it); returns
// the outcome's exit code. The entry releases the rest and returns it.
int EndRun(const RunEnd& end);

// The configuration check of vnpack: reads install.env with the updater's own
// two readers and reports what the updater will see.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// How much LintInstallEnv writes: everything (the lint command: findings, then
// every setting and section as the updater will see them), or only warnings
// and errors (vnpack build, which otherwise prints one summary line).
enum LintDetail { kLintFull, kLintProblemsOnly };

struct LintOptions {
    LintDetail detail = kLintFull;
    bool strict = false;  // warnings count as errors
    // The names the update installs (code page 932, folders ending in a
    // backslash), when the folder was read: [delfiles_afterinst] must not
    // reach them. Null for a file checked alone.
    const std::vector<std::string>* shipped = nullptr;
    // Findings about the folder already reported, for the closing count.
    int prior_errors = 0, prior_warnings = 0;
};

// What the check found beyond its findings.
struct LintOutcome {
    // The bytes the updater must be given: the file's own, or their code page
    // 932 form when the file was saved as UTF-8. Empty on errors.
    std::string cp932;
    bool converted = false;
    std::string encoding_note;  // one line on the conversion, or empty
};

// Writes the findings ("FILE:LINE: severity: message", UTF-8) to diagnostics
// and, in full detail, what the updater will see to summary. Returns 0 when
// clean or only warned, 1 on errors, 2 when the file cannot be read.
int LintInstallEnv(const char* path, FILE* diagnostics, FILE* summary,
                   const LintOptions& options = LintOptions(), LintOutcome* outcome = nullptr);

// The start-up window's space for the title picture, in pixels at 96 dpi: a
// square at the left of the window as high as its client area (the dialog
// template is 234 x 179 dialog units; its 9-point font makes a dialog unit
// 1.5 pixels each way, so the client area is 351 x 268). The picture is
// centred in that square whatever its size: a larger one loses equal parts
// on every side (docs/install-env.md has the button column's place too).
enum { kTitleSquare = 268 };

// Empty when a picture of this size fits the square and fills a fair part
// of it; otherwise a warning saying what the window will do with it.
std::string TitlePictureFit(int32_t width, int32_t height);

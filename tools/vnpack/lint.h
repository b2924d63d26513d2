// The configuration check of vnpack: reads install.env with the updater's own
// two readers and reports what the updater will see.
#pragma once

#include <stdio.h>

#include <string>

// How much LintInstallEnv writes: everything (the lint command: findings, then
// every setting and section as the updater will see them), or only warnings
// and errors (vnpack build, which otherwise prints one summary line).
enum LintDetail { kLintFull, kLintProblemsOnly };

struct LintOptions {
    LintDetail detail = kLintFull;
    bool strict = false;  // warnings count as errors
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

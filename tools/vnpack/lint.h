// The configuration check of vnpack: reads install.env with the updater's own
// two readers and reports what the updater will see.
#pragma once

#include <stdio.h>

// How much LintInstallEnv writes: everything (the lint command: findings, then
// every setting and section as the updater will see them), or only warnings
// and errors (vnpack build, which otherwise prints one summary line).
enum LintDetail { kLintFull, kLintProblemsOnly };

// Writes the findings (UTF-8, with line numbers) to out. Returns 0 when clean
// or only warned, 1 on errors, 2 when the file cannot be read.
int LintInstallEnv(const char* path, FILE* out, LintDetail detail = kLintFull);

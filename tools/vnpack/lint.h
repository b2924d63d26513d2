// The configuration check of vnpack: reads install.env with the updater's own
// two readers and reports what the updater will see.
#pragma once

#include <stdio.h>

// Writes the findings (UTF-8, with line numbers) to out. Returns 0 when clean
// or only warned, 1 on errors, 2 when the file cannot be read.
int LintInstallEnv(const char* path, FILE* out);

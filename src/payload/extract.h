// Extraction of the payload appended to the program's own executable.
#pragma once

enum ExtractPass { kCopyPass = 0, kSetupPass = 1 };

// Walks the payload into destination (no trailing backslash). Returns when the
// walk has ended; on any failure it shows the damaged-file message, removes
// the work folder and ends the process with exit code -1.
void ExtractPayload(const char* destination, int pass);

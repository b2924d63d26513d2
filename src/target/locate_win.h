// Finding the installed game's folder with the user: from the registry or the
// key file without asking, or through the folder prompt, each ending with the
// confirmation question. Every refusal has told the user why.
#pragma once

#include <stddef.h>

enum LocateResult {
    kLocateFound = 0,      // confirmed; out holds the folder
    kLocateNotFound = -1,  // not installed, or its folder unknown (told)
    kLocateRefused = -2,   // the version gate refused, or the user declined the folder
};

// Without asking for a folder: the key file in the default folder, else the
// installer's IsInst and InstTo. The version gate first, when CHKREG is set.
// out holds kPathCapacity bytes and is written only on kLocateFound.
LocateResult LocateTarget(char* out);

// Through the folder prompt, its text cleaned up and checked, the version
// gate last. 0 with the folder in out, or -1 (cancelled, declined or refused).
int ChooseTarget(char* out);

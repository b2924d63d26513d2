// Finding the installed game's folder with the user: from the registry or the
// key file without asking, or from what the folder prompt handed back, each
// ending with the confirmation question. Every refusal has told the user why.
#pragma once

#include <stddef.h>

enum LocateResult {
    kLocateFound = 0,      // confirmed; out holds the folder
    kLocateNotFound = -1,  // not installed, or its folder unknown (told)
    kLocateRefused = -2,   // the version gate or a check refused, or the user declined
    kLocateEndsRun = -3,   // the user chose Cancel in a Retry/Cancel box
};

// Without asking for a folder: the key file in the default folder, else the
// installer's IsInst and InstTo. The version gate first, when CHKREG is set.
// out holds kPathCapacity bytes and is written only on kLocateFound.
LocateResult LocateTarget(char* out);

// How the folder prompt ended.
enum PromptResult {
    kPromptCancelled = 0,
    kPromptAccepted = 1,  // the text is the field's
    kPromptTooLong = 2,   // the field's text does not fit a path buffer
    kPromptUnusable = 3,  // the field's text has characters code page 932 cannot write
};

// What the folder prompt proposes (kPathCapacity bytes): the installer's
// InstTo when it says the game is installed, the default folder otherwise.
void ProposeTarget(char* out);

// What the folder prompt handed back: a refusal of the prompt's told, then
// text (kPathCapacity bytes) cleaned up in place and checked, the key file,
// the version gate last, then the confirmation. out as for LocateTarget.
LocateResult AcceptChosenTarget(PromptResult prompt, char* text, char* out);

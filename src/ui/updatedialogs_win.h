// The update's two dialogs over the start-up window: the folder prompt
// "SETUP", where the user names the game's folder, and the end dialog.
#pragma once

#include "target/locate_win.h"

// Shows "SETUP" with proposal (kPathCapacity bytes) in its field; the field's
// text, or a folder picked in the shell's browser, comes back in text
// (kPathCapacity bytes) with kPromptAccepted. The current folder is as before
// afterwards.
PromptResult RunFolderPrompt(const char* proposal, char* text);

// The user names the game's folder: the prompt with the proposal
// (ProposeTarget), then what it handed back checked and confirmed
// (AcceptChosenTarget). out as for LocateTarget.
LocateResult ChooseTarget(char* out);

// "ENDINSTALL" with the readme check box captioned readme_caption, or
// "ENDINSTALL_SHORT" when that is switched off ("-"). True when the user asked
// for the readme.
bool ShowEndDialog(const char* readme_caption);

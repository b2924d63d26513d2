// The update itself, behind the start-up window's "アップデート" button: find
// the game, copy the whole payload into it, write the [ini] and [reg]
// entries, delete what [delfiles_afterinst] lists, and say it is done.
#pragma once

// 0 when the payload was copied into the game (the start-up window then
// ends), -1 when the update stopped before anything was copied (the user has
// been told; the window stays open). A copy that fails ends the run through
// EndRun, with the game folder as it was.
int ApplyUpdate();

// The root of the first CD-ROM drive from A: to Z: ("Q:\"), or "E:\" when
// the machine has none.
const char* FindCdromRoot();

// A REG_SZ value under HKEY_CURRENT_USER\Software\group\title, created as
// needed. 0, or -1 when the key or the value could not be written.
int WriteRegString(const char* group, const char* title, const char* value_name, const char* data);

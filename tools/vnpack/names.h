// Names as Windows compares them, and the names that belong to the player.
// Every check of vnpack that asks "is this the same file on Windows?" goes
// through FoldedName, so that all commands fold alike and one change here
// changes them all.
#pragma once

#include <string>
#include <vector>

// The key under which Windows takes code page 932 names for one and the
// same: two names are one file on Windows exactly when their keys are equal.
// Separators are kept, so a path folds part by part.
std::string FoldedName(const std::string& cp932);
bool SameWindowsName(const std::string& cp932_a, const std::string& cp932_b);

// True when a deletion pattern of [delfiles_afterinst] (code page 932,
// backslashes, wildcards in its last part) would delete the file name as the
// updater finds it: the folders equal under folding, the last part matched
// as Windows matches wildcards.
bool PatternReaches(const std::string& pattern, const std::string& name);

// What counts as the player's own data (saved games, settings): patterns in
// code page 932, a folder name ending in "/" (any depth) or a file name with
// wildcards. The maker may give other ones.
std::vector<std::string> DefaultPlayerData();
// True when the file name (code page 932, backslashes) lies in a player-data
// folder or matches a player-data file pattern.
bool IsPlayerData(const std::string& name, const std::vector<std::string>& patterns);

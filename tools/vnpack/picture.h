// The title picture in vnpack build: a maker may give insttscr.png instead of
// insttscr.rct, and the archive then carries the converted insttscr.rct.
#pragma once

#include <stdio.h>

#include <string>

#include "config/setup_files.h"
#include "system.h"

// What a maker may give in place of the title picture (kTitlePictureName).
inline constexpr char kTitlePictureSource[] = "insttscr.png";

// Maps the archive name of a top-level file: insttscr.png in any letter case
// becomes "insttscr.rct". False for a folder that holds both.
bool TitlePictureName(const fs::path& folder, std::string* name);

// Opens an entry's source for reading. A title picture given as PNG is
// converted first into scratch_folder (which the caller removes); on failure
// the result is null and *problem says why, or stays empty when the plain
// open failed (errno).
FILE* OpenEntrySource(const fs::path& source, const std::string& name,
                      const fs::path& scratch_folder, std::string* problem);

// Profile (INI) files written byte for byte in code page 932. The system's
// profile calls write a new file in the system's code page, which turns every
// Japanese character into "?" on a Windows not set to Japanese; the game reads
// its INI file as code page 932 bytes, so the updater edits it itself.
//
// The rules are those of the system's calls: section and key names compared
// without regard to letter case and to the blanks around them; an existing
// key gets its line replaced, a new one is added after the last line of its
// section, a new section goes at the end of the file. Every other byte of the
// file stays as it was.
#pragma once

enum {
    // Larger files are not profiles and are left alone.
    kProfileFileLimit = 1 << 20,
};

// Sets key=value under [section] in the file at path, creating the file when
// it does not exist. The file is replaced as a whole, through a sibling
// written first. 0, or -1 when it could not be read or written (it is then
// as it was).
int WriteProfileEntry(const char* path, const char* section, const char* key, const char* value);

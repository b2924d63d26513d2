// Profile (INI) files written byte for byte in code page 932. The system's
// profile calls write a new file in the system's code page, which turns every
// Japanese character into "?" on a Windows not set to Japanese; the game reads
// its INI file as code page 932 bytes, so the updater edits it itself.
//
// The rules are those of the system's calls: section and key names compared
// without regard to letter case and to the blanks around them; an existing
// key gets its line replaced, a new one is added after the last line of its
// section, a new section goes at the end of the file. A line ends at CR LF,
// LF or a lone CR (old Mac files), and new lines end as the file's first line
// does; a UTF-8 byte-order mark before the first line is passed over. Every
// other byte of the file stays as it was.
#pragma once

enum {
    // Larger files are not profiles and are left alone.
    kProfileFileLimit = 1 << 20,
    // Sibling names tried before the write is given up: each one taken is
    // something the editor did not make and will not touch.
    kProfileSiblingAttempts = 16,
};

// Why a profile file could not give a name or value back as written; such an
// entry is never written (it would be added again on every run, or open a
// section of its own).
enum ProfileProblem {
    kProfileFits = 0,
    kProfileSectionBracket,  // a "]" in the section name, or a last byte that would pair with it
    kProfileKeyBracket,      // a key that begins with "[" (blanks before it aside)
    kProfileKeyEquals,       // an "=" in the key
    kProfileLineBreak,       // a CR or LF in the section name, the key or the value
};
ProfileProblem CheckProfileSection(const char* section);
ProfileProblem CheckProfileEntry(const char* key, const char* value);

// Sets key=value under [section] in the file at path, creating the file when
// it does not exist. The new text is written to a sibling that this call
// creates ("<path>~vn", or the next free "<path>~vnN"; a name already taken,
// link or file, is passed over and never opened), which then replaces the
// file. 0, or -1 when the entry does not fit (CheckProfile*), the file is a
// link, a folder, too large, in UTF-16, or could not be read or written; the
// file is then as it was.
int WriteProfileEntry(const char* path, const char* section, const char* key, const char* value);

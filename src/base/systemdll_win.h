// The updater runs with administrator rights from a download folder, where
// anyone may have left a DLL under a system DLL's name. Its executable imports
// only kernel32 and the C runtime when it starts; every other system DLL is
// delay-loaded (see CMakeLists.txt), so that it and what it imports in turn
// are loaded after the search has been restricted to the system folder.
#pragma once

// Restricts the DLL search of this process to the system folder, and loads
// from there the DLLs that the shell and the common controls would otherwise
// look up later, beside the executable first. The first call of the entry,
// before any call into a delay-loaded DLL.
void LoadDllsFromSystemFolderOnly();

// The file name that COM registration writes for the server: the module that
// holds this code (the DLL inside the shell, the program in a test), in its
// short 8.3 form so that the path holds no spaces.
#pragma once

#include <windows.h>

#include <string>

namespace vellum::shellext {

// The module (DLL or program) this code is linked into.
HMODULE ThisModule();

// True on the Windows NT family (the high bit of GetVersion is clear).
bool IsWindowsNT();

// The module's file name in short form; the long form where the volume has
// no short names or the conversion fails.
std::string ShortModulePath(HMODULE module);

}  // namespace vellum::shellext

// The password for a module's protected debug-data names comes from the
// module itself: a module that wants its names readable in reports exports
// "DeveruVuz_PasswordRequestEvent", which receives a length-prefixed buffer
// holding the current password and leaves the password to use in it.
#pragma once

#include <windows.h>

#include "exceptlog/capture/debugdata/debug_data.h"

namespace vellum::exceptlog {

inline constexpr char kPasswordRequestExport[] = "DeveruVuz_PasswordRequestEvent";
// The buffer: a length byte, then up to this many characters.
inline constexpr DWORD kPasswordCapacity = 255;

// The export's type: `buffer` holds kPasswordCapacity + 1 bytes, `capacity`
// is kPasswordCapacity.
using PasswordRequestEvent = void WINAPI(unsigned char* buffer, DWORD capacity);

// A request that calls `module`'s export; an empty request (the password
// stays empty) when the module has none.
PasswordRequest ExportedPasswordRequest(HMODULE module);

}  // namespace vellum::exceptlog

// The Win32 handle of the module this code is linked into.
#pragma once

#include <windows.h>

namespace vellum::exceptlog {

HMODULE ThisModuleHandle();

}  // namespace vellum::exceptlog

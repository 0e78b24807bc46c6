// What the registry says about the band in one registry view: its class,
// the file it names, the desk band category, the shell's approval, and the
// shell's cached list of desk bands; and the policies that hide the
// taskbar's toolbars. A missing key or value is a fact, never an error.
#pragma once

#include <windows.h>

#include <string>

#include "band/doctor/findings.h"

namespace vellum::band {

// The registry view of a bitness (KEY_WOW64_64KEY or KEY_WOW64_32KEY).
REGSAM ViewFlag(Bits view);

ViewRegistration ReadViewRegistration(Bits view);

// Below HKEY_CURRENT_USER; the 64-bit view's cache has a key of its own.
std::string CategoryCacheKey(Bits view);

// A cache that exists and leaves out the band while the view registers it
// in the category: the Toolbars menu does not offer the band until the
// cache is gone.
bool CategoryCacheStale(Bits view, const ViewRegistration& registration);

// NoToolbarsOnTaskbar set for the user or the machine (both views of the
// machine's on 64-bit Windows).
bool ToolbarsForbidden(Bits windows);

}  // namespace vellum::band

// The panel's start at logon: one value under the current user's Run key
// that starts this DLL's panel with the rundll32 of the DLL's own bitness.
#pragma once

#include <string>

namespace vellum::band {

inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunValue[] = "Vellum Taskbar Panel";

// `"<rundll32>" "<this DLL>",TaskbarPanel`: on 64-bit Windows a 32-bit DLL
// needs the 32-bit rundll32 from the WOW64 system folder.
std::string PanelStartCommand();

// Writes or removes the Run value; a failing write raises EOSError, removing
// a value that is not there is no error.
void InstallPanelStart();
void UninstallPanelStart();

}  // namespace vellum::band

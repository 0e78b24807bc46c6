#include "band/panel/panel_start_win.h"

#include <windows.h>

#include "runtime/gui/control_win.h"
#include "runtime/registry/registry_key_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::band {

namespace {

std::string ThisModulePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(gui::ModuleInstance(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) win::RaiseLastOSError("GetModuleFileNameA");
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string SystemFolderForThisBitness() {
  char folder[MAX_PATH] = {};
  BOOL wow64 = FALSE;
  // A 32-bit module in a 64-bit Windows: System32 is the 64-bit folder.
  if (sizeof(void*) == 4 && IsWow64Process(GetCurrentProcess(), &wow64) && wow64 &&
      GetSystemWow64DirectoryA(folder, MAX_PATH) != 0) {
    return folder;
  }
  if (GetSystemDirectoryA(folder, MAX_PATH) == 0) win::RaiseLastOSError("GetSystemDirectoryA");
  return folder;
}

}  // namespace

std::string PanelStartCommand() {
  return "\"" + SystemFolderForThisBitness() + "\\rundll32.exe\" \"" + ThisModulePath() + "\",TaskbarPanel";
}

void InstallPanelStart() {
  RegistryKey::Create(HKEY_CURRENT_USER, kRunKey, KEY_SET_VALUE).WriteString(kRunValue, PanelStartCommand());
}

void UninstallPanelStart() {
  RegistryKey::DeleteValue(HKEY_CURRENT_USER, kRunKey, kRunValue);
}

}  // namespace vellum::band

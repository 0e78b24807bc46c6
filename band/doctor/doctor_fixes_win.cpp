#include "band/doctor/doctor_fixes_win.h"

#include <cstdio>

#include "band/doctor/registry_facts_win.h"
#include "runtime/registry/registry_key_win.h"
#include "runtime/win/unique_handle_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::band {

namespace {

const char* BitsName(Bits bits) {
  return bits == Bits::k64 ? "64-bit" : "32-bit";
}

std::string HresultText(HRESULT result) {
  char code[16] = {};
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  return code;
}

}  // namespace

std::string RegisterForExplorer(const DoctorModule& module, Bits windows) {
  if (module.bits != windows) {
    // Only 32-bit on 64-bit Windows gets here; the 32-bit Explorer cannot
    // start this doctor in a 64-bit DLL at all.
    return std::string("This is the ") + BitsName(module.bits) + " VellumDeskBand.dll; the " + BitsName(windows) +
           " Explorer needs the " + BitsName(windows) +
           " one: register it from an elevated prompt with %windir%\\System32\\regsvr32 VellumDeskBand.dll.";
  }
  const HRESULT result = module.register_server();
  if (result != S_OK) {
    throw EOSError("Registering " + module.dll_path + " failed (" + HresultText(result) +
                   "); registering needs an elevated prompt.");
  }
  return "Registered " + module.dll_path + ".";
}

std::string ClearCategoryCache() {
  bool any = false;
  for (const Bits view : {Bits::k32, Bits::k64})
    any |= RegistryKey::DeleteTree(HKEY_CURRENT_USER, CategoryCacheKey(view));
  return any ? "Cleared the shell's cached list of desk bands; sign out and in again."
             : "The shell keeps no cached list of desk bands.";
}

std::string RundllFor(Bits dll, Bits windows) {
  char folder[MAX_PATH] = {};
  const bool other = dll == Bits::k32 && windows == Bits::k64;
  const UINT length = other ? GetSystemWow64DirectoryA(folder, MAX_PATH) : GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    win::RaiseLastOSError(other ? "GetSystemWow64Directory" : "GetSystemDirectory");
  return std::string(folder) + "\\rundll32.exe";
}

std::string StartTaskbarPanel(const DoctorModule& module, Bits windows) {
  const std::string rundll = RundllFor(module.bits, windows);
  std::string command = "\"" + rundll + "\" \"" + module.dll_path + "\",TaskbarPanel";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(rundll.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    win::RaiseLastOSError("CreateProcess");
  }
  const win::UniqueKernelHandle process_handle(process.hProcess);
  const win::UniqueKernelHandle thread_handle(process.hThread);
  return "Started the taskbar panel.";
}

std::string PerformFix(DoctorAction action, const DoctorModule& module, Bits windows) {
  switch (action) {
    case DoctorAction::kRegister: return RegisterForExplorer(module, windows);
    case DoctorAction::kClearCategoryCache: return ClearCategoryCache();
    case DoctorAction::kStartPanel: return StartTaskbarPanel(module, windows);
    case DoctorAction::kNone: break;
  }
  return {};
}

}  // namespace vellum::band

// The doctor's fixes, each run only when the user asks for it by name. Each
// answers a sentence saying what it did (or, where this DLL cannot do it,
// what the user has to do), and raises when it fails.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "band/doctor/findings.h"

namespace vellum::band {

// The DLL the doctor runs in.
struct DoctorModule {
  std::string dll_path;
  Bits bits = sizeof(void*) == 8 ? Bits::k64 : Bits::k32;
  std::function<HRESULT()> register_server;  // the DLL's own DllRegisterServer
};

// Registers this DLL when Explorer can load it; otherwise says which DLL and
// which regsvr32 Explorer needs.
std::string RegisterForExplorer(const DoctorModule& module, Bits windows);

// Deletes the shell's cached lists of desk bands of both views; the shell
// writes them anew from the registry.
std::string ClearCategoryCache();

// The rundll32 that loads a DLL of `dll` bitness: on 64-bit Windows a
// 32-bit DLL needs the one in SysWOW64.
std::string RundllFor(Bits dll, Bits windows);

// Starts this DLL's taskbar panel in a process of its own and does not wait.
std::string StartTaskbarPanel(const DoctorModule& module, Bits windows);

// Runs the fix for `action` (none for kNone).
std::string PerformFix(DoctorAction action, const DoctorModule& module, Bits windows);

}  // namespace vellum::band

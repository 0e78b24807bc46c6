// A DLL whose code the call-stack tests walk through: its call chain and
// import-thunk call are written in assembly, one file per architecture
// (callstack_probe_x86_win.cpp, callstack_probe_x64_win.cpp), so that their
// call encodings and call sites are known to the byte. Here: what both
// share, a password handler and published options.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "exceptlog/capture/options/module_block_win.h"
#include "exceptlog/capture/options/module_identity.h"
#include "exceptlog/capture/options/module_options_ex.h"

// The password the probe hands out for its protected names.
extern "C" void WINAPI DeveruVuz_PasswordRequestEvent(unsigned char* buffer, DWORD capacity) {
  static const char kPassword[] = "probe-secret";
  const std::size_t length = std::min<std::size_t>(sizeof kPassword - 1, capacity);
  buffer[0] = static_cast<unsigned char>(length);
  std::memcpy(buffer + 1, kPassword, length);
}

// Publishes options of this module with `smtp_server` set, as a module of
// the process whose subsystem runs does.
extern "C" BOOL __cdecl ProbePublishOptions(const char* smtp_server) {
  try {
    vellum::exceptlog::TRuzadaModuleOptionsEx options(vellum::exceptlog::ThisModuleFileName(), true,
                                                      vellum::exceptlog::ModuleBlockPublisher());
    options.SetSmtpServer(smtp_server);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

extern "C" void __cdecl ProbeWithdrawOptions() {
  vellum::exceptlog::ReleaseModuleBlock();
}

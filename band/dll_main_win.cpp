// The module's exports and its load and unload notifications. Static
// initialisation of every unit has run before process attach; detach is
// where finalisation begins. Both run under the loader lock, so they do only
// the exception subsystem's start and stop (it must run before any of the
// module's code can raise, and it starts no thread there), the control word
// and the server's tear-down; building happens on the first entry point call.
#include <windows.h>

#include "band/exception_log_win.h"
#include "band/server_module_win.h"

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  return vellum::band::ServerGetClassObject(clsid, riid, object);
}

HRESULT WINAPI DllCanUnloadNow() {
  return vellum::band::ServerCanUnloadNow();
}

HRESULT WINAPI DllRegisterServer() {
  return vellum::band::ServerRegister();
}

HRESULT WINAPI DllUnregisterServer() {
  return vellum::band::ServerUnregister();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      vellum::band::StartBandExceptionLog(instance);
      vellum::band::ProcessAttach();
      vellum::band::BandModuleInitialized();
      break;
    case DLL_PROCESS_DETACH:
      vellum::band::BandModuleFinalizing();
      // A non-null `reserved` means the process is ending, not a FreeLibrary.
      vellum::band::ProcessDetach(reserved != nullptr);
      vellum::band::StopBandExceptionLog();
      break;
    default:
      // Thread attach and detach: the runtime's per-thread storage is the
      // compiler's thread_local data, which the C runtime releases itself.
      break;
  }
  return TRUE;
}

}  // extern "C"

// The module's exports and its load and unload notifications. Static
// initialisation of every unit has run before process attach; detach is
// where finalisation begins. Both run under the loader lock, so they do only
// the control word and the server's tear-down; building happens on the first
// entry point call.
#include <windows.h>

#include "band/server_module_win.h"

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  return vellum::band::ServerGetClassObject(clsid, riid, object);
}

HRESULT WINAPI DllCanUnloadNow() { return vellum::band::ServerCanUnloadNow(); }

HRESULT WINAPI DllRegisterServer() { return vellum::band::ServerRegister(); }

HRESULT WINAPI DllUnregisterServer() { return vellum::band::ServerUnregister(); }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      vellum::band::ProcessAttach();
      break;
    case DLL_PROCESS_DETACH:
      // A non-null `reserved` means the process is ending, not a FreeLibrary.
      vellum::band::ProcessDetach(reserved != nullptr);
      break;
    default:
      // Thread attach and detach: the runtime's per-thread storage is the
      // compiler's thread_local data, which the C runtime releases itself.
      break;
  }
  return TRUE;
}

}  // extern "C"

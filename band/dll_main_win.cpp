// The module's load and unload notifications. Static initialisation of every
// unit has run before process attach; detach is where finalisation begins.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    // The band is loaded into Explorer; thread attach/detach notices are not
    // needed yet and would only cost every thread of the shell a call.
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

// start_probe.dll: a library that carries the subsystem with a stored block
// of its own and starts it in its process attach, as the band does; with
// VELLUM_START_PROBE_OFF set it starts nothing, so that a load without the
// subsystem costs the same apart from the start.
#include <windows.h>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/capture/manager/manager_state_win.h"

extern "C" {

// 1 when the subsystem runs and its own record's line tables are still
// undecoded, 0 when they were decoded, -1 when the subsystem is not running.
int WINAPI StartProbeLineTablesWaiting() {
  using namespace vellum::exceptlog;
  const ManagerState* state = State();
  if (state == nullptr || state->modules == nullptr) return -1;
  const auto record = state->modules->Find(state->self.module);
  if (record == nullptr) return -1;
  return record->DebugDataLoaded() ? 0 : 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  using namespace vellum::exceptlog;
  if (reason == DLL_PROCESS_ATTACH) {
    if (GetEnvironmentVariableA("VELLUM_START_PROBE_OFF", nullptr, 0) != 0) return TRUE;
    try {
      StartExceptionLog({instance, true, false});
    } catch (...) {
      return FALSE;
    }
    SetModuleInitializing(false);
  } else if (reason == DLL_PROCESS_DETACH) {
    SetModuleFinalizing(true);
    try {
      StopExceptionLog();
    } catch (...) {
    }
  }
  return TRUE;
}

}  // extern "C"

// The freeze watchdog: a thread that probes the program's main window and,
// when it stays silent for the running module's `FreezeSeconds`, stops the
// main thread, reads its registers and hands them to the reporter, which
// reports the main thread as if it had raised where it hangs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EFrozenApplication, Exception);

struct FreezeWatchdogSettings {
  HANDLE main_thread = nullptr;  // suspend, resume and get-context access
  // A library's watchdog is killed at stop instead of waited for: the unload
  // holds the loader lock, and a thread cannot end while another holds it.
  bool kill_at_stop = false;
  // Read before every count: the options may change while it watches.
  std::function<std::int32_t()> freeze_seconds;
  // Called in the watchdog's thread with the main thread suspended and its
  // registers read (the instruction and stack pointers non-zero).
  std::function<void(const CONTEXT& main_thread)> report;
};

// Starts a watchdog unless one runs or one is being started.
void StartFreezeWatchdog(FreezeWatchdogSettings settings);
// Stops the running watchdog, if any: waits for it, or kills it (once it is
// outside a report) when the settings say so.
void StopFreezeWatchdog();
bool FreezeWatchdogRunning();
// The running watchdog's thread id, 0 when none runs.
DWORD FreezeWatchdogThreadId();

// The main window as the watchdog finds it: the first top-level window of
// this process that is visible, owned by no window but the desktop, and no
// tool window unless it also asks for a taskbar button. nullptr when none.
HWND FindFreezeMainWindow();

}  // namespace vellum::exceptlog

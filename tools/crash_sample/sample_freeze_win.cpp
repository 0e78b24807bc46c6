// The crash sample's hangs. Apart from the other faults, whose frames (and
// with them the room left when stack-overflow hits the guard page) stay as
// they were.
#include <windows.h>

#include <string>

#include "exceptlog/capture/freeze/freeze_watchdog_win.h"
#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/capture/options/module_options.h"
#include "tools/crash_sample/sample_faults_win.h"

namespace vellum::crash_sample {

namespace {

volatile int busy = 0;

void PrintWatchdog() {
  const DWORD id = exceptlog::FreezeWatchdogThreadId();
  PrintLine(id == 0 ? std::string("watchdog: none") : "watchdog: " + std::to_string(id));
}

}  // namespace

__attribute__((noinline)) void Freeze(int seconds) {
  const DWORD start = GetTickCount();
  // Long stretches between looks at the clock, so that the registers are
  // almost always caught here and not inside the clock's procedure.
  while (GetTickCount() - start < static_cast<DWORD>(seconds) * 1000) {
    for (int i = 0; i < 1000000; ++i) busy = busy + 1;
  }
}

bool RaiseFreezeFault(const std::string& name, int argument) {
  if (name != "freeze-switch") return false;
  // The watchdog follows the running module's FreezeCheck: off, the freeze
  // goes unnoticed; on again, a new watchdog sees the next one.
  exceptlog::TRuzadaModuleOptions& options = exceptlog::CurrentDeveruVuzOptions();
  PrintWatchdog();
  options.SetFreezeCheck(false);
  PrintWatchdog();
  Freeze(argument);
  options.SetFreezeCheck(true);
  PrintWatchdog();
  Freeze(argument);
  return true;
}

}  // namespace vellum::crash_sample

// vellum_standin.exe: plays the Vellum application's side of the host link for
// tests and the demo. See event_log_win.h for the log it writes and
// standin_commands.h for the commands and exit codes.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "band/testing/command_line.h"
#include "band/testing/standin_commands.h"
#include "runtime/win/unique_handle_win.h"
#include "runtime/win/win_error_win.h"
#include "tools/vellum_standin/event_log_win.h"
#include "tools/vellum_standin/host_link_registry_win.h"
#include "tools/vellum_standin/standin_window_win.h"

namespace vellum::standin {

// The commands and the command line the stand-in shares with the tests that drive it.
using namespace band::testing;
namespace {

// Pumps messages until WM_QUIT (the hidden window was closed), the stop event
// or the time limit; the time limit keeps a stand-in whose test died from
// living on in the session.
int RunMessageLoop(EventLog& log, HANDLE stop_event, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  const DWORD handle_count = stop_event != nullptr ? 1 : 0;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        log.Write("quit close");
        return kExitClosed;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout_ms) {
      log.Write("quit timeout");
      return kExitTimedOut;
    }
    const DWORD result = MsgWaitForMultipleObjects(handle_count, &stop_event, FALSE, timeout_ms - elapsed, QS_ALLINPUT);
    if (handle_count == 1 && result == WAIT_OBJECT_0) {
      log.Write("quit stop-event");
      return kExitClosed;
    }
    if (result == WAIT_FAILED) win::RaiseLastOSError("MsgWaitForMultipleObjects");
  }
}

int Run(const StandinOptions& options) {
  EventLog log(options.log_path);
  win::UniqueKernelHandle stop_event;
  if (!options.stop_event.empty()) {
    // Opens the caller's event when it exists; creating it otherwise lets a
    // stand-in start before whoever will signal it.
    stop_event.reset(CreateEventA(nullptr, TRUE, FALSE, options.stop_event.c_str()));
    if (!stop_event) win::RaiseLastOSError("CreateEventA");
  }
  StandinWindow window(options, log);
  log.Write("ready " + HandleText(window.window()));
  if (options.answer_registry) window.AnswerFromRegistry();
  if (options.dock) window.DockFromRegistry();
  return RunMessageLoop(log, stop_event.get(), options.timeout_ms);
}

}  // namespace
}  // namespace vellum::standin

int main(int argc, char** argv) {
  using namespace vellum::standin;
  StandinOptions options;
  try {
    options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EStandinUsage& error) {
    std::fprintf(stderr, "vellum_standin: %s\n%s", error.what(), kUsageText);
    return kExitUsage;
  }
  try {
    return Run(options);
  } catch (const vellum::Exception& error) {
    std::fprintf(stderr, "vellum_standin: %s\n", error.what());
    return kExitStartFailed;
  }
}

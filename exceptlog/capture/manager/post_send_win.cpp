// What follows a delivery: the burst check, then the terminate or restart
// that the user or the burst asked for. Run by the pipeline, or by a send
// thread of its own when that thread has delivered.
#include <windows.h>

#include <string>

#include "exceptlog/capture/manager/manager_state_win.h"

namespace vellum::exceptlog {

namespace {

// The same command line, from the folder the program started in.
void Restart(const ManagerState& state) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string command_line = GetCommandLineA();
  if (CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     state.start_folder.empty() ? nullptr : state.start_folder.c_str(), &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

// Too many reports too fast end or restart the program as BurstAction says.
void CheckBurst(ManagerState& state) {
  TRuzadaModuleOptionsEx& options = *state.current_options;
  if (options.BehaviorFlags().Contains(bfBurstCheck) &&
      state.bursts.IsBurst(options.BurstCount(), options.BurstMinutes())) {
    options.SetTerminateAction(options.BurstAction());
    state.terminate_request = true;
  }
}

// `confirmed`: the dialog asked the atTerminating handlers already.
void TerminateOnRequest(ManagerState& state, const TRuzadaExceptionRecord& record, bool confirmed) {
  if (!state.terminate_request) return;
  if (confirmed || ManagerPipelineContext().FireAction(record, atTerminating)) {
    if (state.current_options->TerminateAction() == 1) Restart(state);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  state.terminate_request = false;
}

}  // namespace

void RunPostSendSteps(ManagerState& state, const TRuzadaExceptionRecord& record, const TerminateRequest& request) {
  if (request.requested) {
    state.terminate_request = true;
    if (request.action >= 0) state.current_options->SetTerminateAction(static_cast<std::uint8_t>(request.action));
  }
  CheckBurst(state);
  TerminateOnRequest(state, record, request.confirmed);
}

}  // namespace vellum::exceptlog

// The pipeline context the manager hands every step: events in the raising
// thread, delivery warnings kept as the report's last delivery error, and the
// lock and post-send steps of a send thread of its own.
#include <windows.h>

#include "exceptlog/capture/manager/manager_state_win.h"

namespace vellum::exceptlog {

namespace {

class ManagerContext final : public PipelineContext {
 public:
  using PipelineContext::Warn;

  void RunInRaisingThread(const std::function<void()>& procedure) override { exceptlog::RunInRaisingThread(procedure); }

  void Warn(TDeveruVuzErrorCode code, const std::string& message, bool send_dialog_shows_errors) override {
    std::uint64_t address = 0;
    if (ManagerState* state = State()) {
      state->last_error = {code, message};
      address = state->record.RaiseAddress;
    }
    OutputDebugStringA(FormatDeliveryWarningLine(code, address, message).c_str());
    if (DeliveryWarningIsShown(code, send_dialog_shows_errors)) {
      MessageBoxA(nullptr, message.c_str(), "Error.", kDeliveryWarningBoxStyle);
    }
  }

  void RunUnderPipelineLock(const std::function<void()>& body) override {
    ManagerState* state = State();
    if (state == nullptr) {
      body();
      return;
    }
    const CriticalSectionLock lock(state->pipeline_lock);
    body();
  }

  void RunPostSendSteps(const TRuzadaExceptionRecord& record, const TerminateRequest& request) override {
    ManagerState* state = State();
    if (state == nullptr) return;
    const CriticalSectionLock lock(state->pipeline_lock);
    exceptlog::RunPostSendSteps(*state, record, request);
  }

  void ReportSendThreadFailure(const std::exception_ptr& failure, std::uint64_t address) override {
    if (ManagerState* state = State()) state->progress = ppSend;
    ReportPipelineFailure(failure, address);
  }
};

}  // namespace

PipelineContext& ManagerPipelineContext() {
  static ManagerContext context;
  return context;
}

TDeveruVuzErrorCode LastDeliveryErrorCode() {
  const ManagerState* state = State();
  return state != nullptr ? state->last_error.Code : eeNone;
}

std::string LastDeliveryErrorMessage() {
  const ManagerState* state = State();
  return state != nullptr ? state->last_error.Message : std::string();
}

}  // namespace vellum::exceptlog

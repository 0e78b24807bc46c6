#include "exceptlog/capture/manager/overflow_reporter_win.h"

#include "exceptlog/capture/manager/fault_conversion_win.h"
#include "exceptlog/capture/manager/manager_state_win.h"

namespace vellum::exceptlog {

namespace {

OverflowReporter* active_reporter = nullptr;

void ReportThroughActive(TRaiseState& faulting_thread) {
  if (active_reporter != nullptr) active_reporter->Report(faulting_thread);
}

}  // namespace

OverflowReporter::OverflowReporter(ManagerState& state)
    : state_(state),
      create_thread_(reinterpret_cast<decltype(&CreateThread)>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateThread")))) {
  active_reporter = this;
  SetStackOverflowReporter(&ReportThroughActive);
}

OverflowReporter::~OverflowReporter() {
  SetStackOverflowReporter(nullptr);
  active_reporter = nullptr;
}

void OverflowReporter::Report(TRaiseState& faulting_thread) {
  if (create_thread_ == nullptr) return;
  if (state_.self.is_library && (state_.initializing.load() || state_.finalizing.load())) return;
  CriticalSectionLock lock(one_at_a_time_);
  pending_ = &faulting_thread;
  pending_thread_ = GetCurrentThreadId();
  HANDLE reporter = create_thread_(nullptr, 256 * 1024, &Run, this, 0, nullptr);
  if (reporter == nullptr) return;
  WaitForSingleObject(reporter, INFINITE);
  CloseHandle(reporter);
}

DWORD WINAPI OverflowReporter::Run(void* self_pointer) {
  auto& self = *static_cast<OverflowReporter*>(self_pointer);
  try {
    ExceptionRun run;
    run.error = ExceptionFromFault(self.pending_->fault);
    run.object = AsStdException(run.error);
    run.class_chain = ExceptionClassChain(run.error);
    run.message = ExceptionMessage(run.error);
    run.address = self.pending_->raise_address;
    run.language = false;
    run.kind = rkGeneral;
    run.module = self.state_.self.module;
    run.raising_thread = self.pending_thread_;
    run.raise = std::make_unique<TRaiseState>(*self.pending_);
    Dispatch(self.state_, run);
  } catch (...) {
  }
  return 0;
}

}  // namespace vellum::exceptlog

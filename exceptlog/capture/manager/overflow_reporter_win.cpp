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

OverflowReporter::OverflowReporter(ManagerState& state) : state_(state) {
  // Made with the system's CreateThread before the thread hooks exist: the
  // reporter is the subsystem's own and no report lists it.
  thread_.reset(CreateThread(nullptr, 64 * 1024, &Run, this, 0, nullptr));
  active_reporter = this;
  SetStackOverflowReporter(&ReportThroughActive);
}

OverflowReporter::~OverflowReporter() {
  SetStackOverflowReporter(nullptr);
  active_reporter = nullptr;
  stopping_.store(true);
  SetEvent(request_.get());
  const bool under_loader_lock = state_.self.is_library && state_.finalizing.load();
  if (thread_ && !under_loader_lock) WaitForSingleObject(thread_.get(), INFINITE);
}

void OverflowReporter::Report(TRaiseState& faulting_thread) {
  if (!thread_) return;
  CriticalSectionLock lock(one_at_a_time_);
  pending_ = &faulting_thread;
  pending_thread_ = GetCurrentThreadId();
  SetEvent(request_.get());
  WaitForSingleObject(done_.get(), INFINITE);
}

DWORD WINAPI OverflowReporter::Run(void* self_pointer) {
  auto& self = *static_cast<OverflowReporter*>(self_pointer);
  for (;;) {
    WaitForSingleObject(self.request_.get(), INFINITE);
    if (self.stopping_.load()) return 0;
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
    SetEvent(self.done_.get());
  }
}

}  // namespace vellum::exceptlog

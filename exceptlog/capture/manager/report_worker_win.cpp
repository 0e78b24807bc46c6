#include "exceptlog/capture/manager/report_worker_win.h"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "exceptlog/capture/manager/manager_state_win.h"

namespace vellum::exceptlog {

RTL_CRITICAL_SECTION* LoaderLock() {
  const std::uint8_t* environment = nullptr;
#if defined(__x86_64__)
  asm("movq %%gs:0x60, %0" : "=r"(environment));
  constexpr std::size_t kLoaderLockOffset = 0x110;
#else
  asm("movl %%fs:0x30, %0" : "=r"(environment));
  constexpr std::size_t kLoaderLockOffset = 0xA0;
#endif
  return *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(environment + kLoaderLockOffset);
}

bool ThisThreadHoldsLoaderLock() {
  const RTL_CRITICAL_SECTION* lock = LoaderLock();
  return lock != nullptr &&
         static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(lock->OwningThread)) == GetCurrentThreadId();
}

// What one submitted callback owns.
struct TExceptionThread::Submitted {
  std::shared_ptr<ReportJob> job;
  std::shared_ptr<TExceptionThread> worker;
};

TExceptionThread::TExceptionThread() : finished_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
  pool_ = CreateThreadpool(nullptr);
  if (pool_ == nullptr) return;
  // One report at a time: one thread, made when the first report comes.
  SetThreadpoolThreadMaximum(pool_, 1);
  InitializeThreadpoolEnvironment(&environment_);
  SetThreadpoolCallbackPool(&environment_, pool_);
  // The pool keeps this module loaded while a callback runs its code.
  HMODULE module = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&LoaderLock), &module)) {
    SetThreadpoolCallbackLibrary(&environment_, module);
  }
}

TExceptionThread::~TExceptionThread() {
  if (pool_ == nullptr) return;
  DestroyThreadpoolEnvironment(&environment_);
  CloseThreadpool(pool_);
}

bool TExceptionThread::Hand(ManagerState& state, const std::shared_ptr<ReportJob>& job,
                            std::shared_ptr<TExceptionThread>& worker) {
  if (state.report_worker == nullptr) {
    auto made = std::make_shared<TExceptionThread>();
    if (made->pool_ == nullptr || !made->finished_) return false;
    state.report_worker = std::move(made);
  }
  auto submitted = std::make_unique<Submitted>(Submitted{job, state.report_worker});
  if (!TrySubmitThreadpoolCallback(&TExceptionThread::Run, submitted.get(), &state.report_worker->environment_)) {
    return false;
  }
  static_cast<void>(submitted.release());  // the callback's now
  worker = state.report_worker;
  return true;
}

void TExceptionThread::Dismiss(ManagerState& state) {
  state.report_worker.reset();
}

void CALLBACK TExceptionThread::Run(PTP_CALLBACK_INSTANCE, void* context) {
  const std::unique_ptr<Submitted> submitted(static_cast<Submitted*>(context));
  submitted->worker->Run(*submitted->job);
}

void TExceptionThread::Run(ReportJob& job) {
  job.started.store(true);
  if (!job.Claim()) return;  // the raising thread ran the report itself
  // The pool's one thread runs every report while it lives: raised once.
  const DWORD self = GetCurrentThreadId();
  if (raised_priority_of_.exchange(self) != self) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  ManagerState& state = job.state;
  state.worker_thread.store(self);
  job.result = RunPipeline(state, job.run);
  state.worker_thread.store(0);
  // The raising thread may return, and its run go, once it sees this.
  job.executing.store(false);
  SetEvent(finished_.get());
}

}  // namespace vellum::exceptlog

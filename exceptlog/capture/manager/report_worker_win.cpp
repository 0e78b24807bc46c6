#include "exceptlog/capture/manager/report_worker_win.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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
  // The owner is kept as a thread id in a handle-sized field.
  return lock != nullptr && reinterpret_cast<std::uintptr_t>(lock->OwningThread) == GetCurrentThreadId();
}

TExceptionThread::TExceptionThread() : finished_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
  pool_ = CreateThreadpool(nullptr);
  if (pool_ == nullptr) return;
  // One report at a time: one thread, made when the first report comes.
  SetThreadpoolThreadMaximum(pool_, 1);
  InitializeThreadpoolEnvironment(&environment_);
  SetThreadpoolCallbackPool(&environment_, pool_);
  work_ = CreateThreadpoolWork(&TExceptionThread::Work, this, &environment_);
}

TExceptionThread::~TExceptionThread() {
  if (work_ != nullptr) CloseThreadpoolWork(work_);
  if (pool_ == nullptr) return;
  DestroyThreadpoolEnvironment(&environment_);
  CloseThreadpool(pool_);
}

TExceptionThread* TExceptionThread::For(ManagerState& state) {
  if (state.report_worker == nullptr) {
    auto made = std::make_unique<TExceptionThread>();
    if (made->work_ == nullptr || !made->finished_) return nullptr;
    state.report_worker = std::move(made);
  }
  return state.report_worker.get();
}

void TExceptionThread::Submit(ReportJob& job) {
  job_ = &job;
  SubmitThreadpoolWork(work_);
}

void TExceptionThread::WaitUntilReturned() {
  WaitForThreadpoolWorkCallbacks(work_, TRUE);
  job_ = nullptr;
}

void CALLBACK TExceptionThread::Work(PTP_CALLBACK_INSTANCE, void* self, PTP_WORK) {
  auto& worker = *static_cast<TExceptionThread*>(self);
  worker.Run(*worker.job_);
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
  job.executing.store(false);
  SetEvent(finished_.get());
}

}  // namespace vellum::exceptlog

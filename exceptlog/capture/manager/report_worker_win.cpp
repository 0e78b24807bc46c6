#include "exceptlog/capture/manager/report_worker_win.h"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
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

TExceptionThread::TExceptionThread()
    : request_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), finished_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

TExceptionThread::~TExceptionThread() = default;

bool TExceptionThread::Hand(ManagerState& state, const std::shared_ptr<ReportJob>& job,
                            std::shared_ptr<TExceptionThread>& worker) {
  if (const std::shared_ptr<TExceptionThread> parked = state.parked_worker) {
    CriticalSectionLock guard(parked->lock_);
    if (!parked->gone_ && !parked->dismissed_.load()) {
      parked->job_ = job;
      SetEvent(parked->request_.get());
      worker = parked;
      return true;
    }
  }
  state.parked_worker.reset();
  auto fresh = std::make_shared<TExceptionThread>();
  if (!fresh->request_ || !fresh->finished_) return false;
  fresh->job_ = job;
  SetEvent(fresh->request_.get());
  // The thread keeps the module, and the module's code it runs, loaded.
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&TExceptionThread::Main),
                          &fresh->module_reference_)) {
    return false;
  }
  auto owned = std::make_unique<std::shared_ptr<TExceptionThread>>(fresh);
  HANDLE thread = nullptr;
  {
    // Not one of the program's threads: no record, no stack copies.
    const OwnThreadsScope own;
    thread = CreateThread(nullptr, 0, &TExceptionThread::Main, owned.get(), 0, nullptr);
  }
  if (thread == nullptr) {
    FreeLibrary(fresh->module_reference_);
    return false;
  }
  static_cast<void>(owned.release());  // the thread's own reference now
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  CloseHandle(thread);
  state.parked_worker = fresh;
  worker = std::move(fresh);
  return true;
}

void TExceptionThread::Dismiss(ManagerState& state) {
  const std::shared_ptr<TExceptionThread> parked = std::exchange(state.parked_worker, nullptr);
  if (parked == nullptr) return;
  parked->dismissed_.store(true);
  SetEvent(parked->request_.get());
}

std::shared_ptr<ReportJob> TExceptionThread::Next() {
  for (;;) {
    const DWORD woken = WaitForSingleObject(request_.get(), kWorkerIdleLimit);
    CriticalSectionLock guard(lock_);
    if (job_ != nullptr) return std::move(job_);
    // Idle for the whole limit, or dismissed: from here on no job is
    // handed to this worker.
    if (woken != WAIT_OBJECT_0 || dismissed_.load()) {
      gone_ = true;
      return nullptr;
    }
  }
}

void TExceptionThread::Run(ReportJob& job) {
  job.started.store(true);
  if (!job.Claim()) return;  // the raising thread ran the report itself
  ManagerState& state = job.state;
  state.worker_thread.store(GetCurrentThreadId());
  job.result = RunPipeline(state, job.run);
  state.worker_thread.store(0);
  // The raising thread may return, and its run go, once it sees this.
  job.executing.store(false);
  SetEvent(finished_.get());
}

DWORD WINAPI TExceptionThread::Main(void* parameter) {
  HMODULE reference = nullptr;
  {
    const std::unique_ptr<std::shared_ptr<TExceptionThread>> owned(
        static_cast<std::shared_ptr<TExceptionThread>*>(parameter));
    TExceptionThread& self = **owned;
    reference = self.module_reference_;
    while (const std::shared_ptr<ReportJob> job = self.Next()) self.Run(*job);
  }  // everything of this module is freed before the module may go
  FreeLibraryAndExitThread(reference, 0);
}

}  // namespace vellum::exceptlog

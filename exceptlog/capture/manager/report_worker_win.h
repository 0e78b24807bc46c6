// The thread that runs reports while their raising threads wait. It stays
// parked after a report, for the next one, and ends after kWorkerIdleLimit
// without one: starting a thread and waiting for its end cost a report about
// a millisecond and a half under Wine, and reports come in bursts.
//
// It holds a reference to this module while it lives, given back as it
// ends, so the module's code stays while the thread may run it; a library
// that is freed meanwhile is unloaded when the worker ends.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "runtime/threading/critical_section_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

struct ManagerState;
struct ExceptionRun;

inline constexpr DWORD kWorkerIdleLimit = 3000;

// The loader's lock: the critical section the process environment block
// names, at the same place since the first NT (Wine keeps it there too).
RTL_CRITICAL_SECTION* LoaderLock();
// True when the calling thread holds it: it runs a module's initialisation
// or finalisation, or took the lock itself.
bool ThisThreadHoldsLoaderLock();

// One report handed to the worker. Whoever claims it first runs it:
// normally the worker; the raising thread when the worker has not taken it
// within a time limit (a new worker cannot start while the raising thread
// holds the loader lock). Shared, so that a worker that takes it late finds
// it still there.
struct ReportJob {
  ReportJob(ManagerState& state_, ExceptionRun& run_) : state(state_), run(run_) {}

  bool Claim() { return !claimed.exchange(true); }

  ManagerState& state;
  ExceptionRun& run;
  std::atomic<bool> started{false};
  std::atomic<bool> claimed{false};
  std::atomic<bool> executing{true};
  bool result = true;
};

class TExceptionThread {
 public:
  TExceptionThread();
  ~TExceptionThread();
  TExceptionThread(const TExceptionThread&) = delete;
  TExceptionThread& operator=(const TExceptionThread&) = delete;

  // Hands `job` to the parked worker of `state`, or to a new one when none
  // is parked (it parks in `state`). False when no thread could be started:
  // the caller runs the report itself.
  static bool Hand(ManagerState& state, const std::shared_ptr<ReportJob>& job,
                   std::shared_ptr<TExceptionThread>& worker);
  // Lets the parked worker of `state` end; it touches nothing of the state
  // from now on.
  static void Dismiss(ManagerState& state);

  // Set (auto-reset) when a job the worker ran has ended.
  HANDLE Finished() const { return finished_.get(); }

 private:
  static DWORD WINAPI Main(void* parameter);
  // The next job; nullptr when the worker is to end (idle, or dismissed).
  std::shared_ptr<ReportJob> Next();
  void Run(ReportJob& job);

  CriticalSection lock_;
  std::shared_ptr<ReportJob> job_;  // handed, not yet taken
  // Set without the lock: at a process's end the worker may have been ended
  // holding it, and the subsystem's stop still dismisses it.
  std::atomic<bool> dismissed_{false};
  bool gone_ = false;  // the thread took no more jobs and ends
  win::UniqueKernelHandle request_;   // auto-reset: a job or the dismissal
  win::UniqueKernelHandle finished_;  // auto-reset
  HMODULE module_reference_ = nullptr;
};

}  // namespace vellum::exceptlog

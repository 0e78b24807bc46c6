// The worker that runs reports while their raising threads wait: a private
// thread pool of one thread. Its thread waits for the next report inside the
// system's pool code and ends when idle, so nothing of this module stays on
// a thread between reports; starting a thread of our own for every report
// and waiting for its end cost a report about a millisecond and a half
// under Wine, and reports come in bursts.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

struct ManagerState;
struct ExceptionRun;

// The loader's lock: the critical section the process environment block
// names, at the same place since the first NT (Wine keeps it there too).
RTL_CRITICAL_SECTION* LoaderLock();
// True when the calling thread holds it: it runs a module's initialisation
// or finalisation, or took the lock itself.
bool ThisThreadHoldsLoaderLock();

// One report handed to the worker. Whoever claims it first runs it:
// normally the worker; the raising thread when the worker has not taken it
// within a time limit. Shared, so that a worker that takes it late finds it
// still there.
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

  // Hands `job` to the worker of `state`, made on the first report. False
  // when the system takes no work: the caller runs the report itself.
  static bool Hand(ManagerState& state, const std::shared_ptr<ReportJob>& job,
                   std::shared_ptr<TExceptionThread>& worker);
  // Closes the worker of `state`: its thread ends once it is idle.
  static void Dismiss(ManagerState& state);

  // Set (auto-reset) when a job the worker ran has ended.
  HANDLE Finished() const { return finished_.get(); }

 private:
  struct Submitted;
  static void CALLBACK Run(PTP_CALLBACK_INSTANCE instance, void* context);
  void Run(ReportJob& job);

  PTP_POOL pool_ = nullptr;
  TP_CALLBACK_ENVIRON environment_{};
  win::UniqueKernelHandle finished_;
  std::atomic<DWORD> raised_priority_of_{0};
};

}  // namespace vellum::exceptlog

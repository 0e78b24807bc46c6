// The worker that runs reports while their raising threads wait: a private
// thread pool of one thread. Its thread waits for the next report inside the
// system's pool code and ends when idle; the raising thread returns only once
// the report's callback has returned, so no thread runs this module's code
// between reports and a library freed after a report unloads at once.
// Starting a thread of our own for every report and waiting for its end cost
// a report about a millisecond and a half under Wine.
#pragma once

#include <windows.h>

#include <atomic>

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
// within a time limit (the pool's thread may have to start, and no thread
// starts while another holds the loader lock).
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

  // The worker of `state`, made by the first report (under the pipeline
  // lock); nullptr when the system gives no pool: the caller runs the
  // report itself.
  static TExceptionThread* For(ManagerState& state);

  // One job at a time: the next is submitted after WaitUntilReturned.
  void Submit(ReportJob& job);
  // Until the job's callback has returned; one that has not started yet is
  // not run at all.
  void WaitUntilReturned();
  // Set (auto-reset) when a job the worker ran has ended.
  HANDLE Finished() const { return finished_.get(); }

 private:
  static void CALLBACK Work(PTP_CALLBACK_INSTANCE instance, void* self, PTP_WORK work);
  void Run(ReportJob& job);

  PTP_POOL pool_ = nullptr;
  TP_CALLBACK_ENVIRON environment_{};
  PTP_WORK work_ = nullptr;
  ReportJob* job_ = nullptr;
  win::UniqueKernelHandle finished_;
  std::atomic<DWORD> raised_priority_of_{0};
};

}  // namespace vellum::exceptlog

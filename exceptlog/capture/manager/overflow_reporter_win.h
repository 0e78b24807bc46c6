// Stack overflows are reported from a thread made for the purpose: the
// thread that overflowed has a page of stack left, far from what a report
// needs. The thread lives for one report only, so that nothing of this module
// is left running when a library is unloaded.
#pragma once

#include <windows.h>

#include "exceptlog/capture/manager/raise_state_win.h"
#include "runtime/threading/critical_section_win.h"

namespace vellum::exceptlog {

struct ManagerState;

class OverflowReporter {
 public:
  explicit OverflowReporter(ManagerState& state);
  ~OverflowReporter();
  OverflowReporter(const OverflowReporter&) = delete;
  OverflowReporter& operator=(const OverflowReporter&) = delete;

  // Called by the overflowing thread: reports its raise state and returns
  // when the report is done. Under a library's loader lock no thread can
  // start, and the overflow goes unreported.
  void Report(TRaiseState& faulting_thread);

 private:
  static DWORD WINAPI Run(void* self);

  ManagerState& state_;
  CriticalSection one_at_a_time_;
  // The system's own CreateThread, past the thread hooks: the reporter is
  // the subsystem's and no report lists it.
  decltype(&CreateThread) create_thread_ = nullptr;
  TRaiseState* pending_ = nullptr;
  DWORD pending_thread_ = 0;
};

}  // namespace vellum::exceptlog

// A thread made at start that waits to report stack overflows: the thread
// that overflowed has a page of stack left, far from what a report needs.
#pragma once

#include <windows.h>

#include <atomic>

#include "exceptlog/capture/manager/raise_state_win.h"
#include "runtime/threading/critical_section_win.h"
#include "runtime/win/unique_handle.h"

namespace vellum::exceptlog {

struct ManagerState;

class OverflowReporter {
 public:
  explicit OverflowReporter(ManagerState& state);
  // In a library's finalisation the thread cannot end while the loader lock
  // is held: it is told to stop and left to end on its own.
  ~OverflowReporter();
  OverflowReporter(const OverflowReporter&) = delete;
  OverflowReporter& operator=(const OverflowReporter&) = delete;

  // Called by the overflowing thread: reports its raise state and returns
  // when the report is done.
  void Report(TRaiseState& faulting_thread);

 private:
  static DWORD WINAPI Run(void* self);

  ManagerState& state_;
  CriticalSection one_at_a_time_;
  win::UniqueKernelHandle request_{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  win::UniqueKernelHandle done_{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  win::UniqueKernelHandle thread_;
  TRaiseState* pending_ = nullptr;
  DWORD pending_thread_ = 0;
  std::atomic<bool> stopping_{false};
};

}  // namespace vellum::exceptlog

// Frees band forms after the shell destroyed their windows. A form cannot be
// freed inside its own WM_DESTROY (the window procedure is still running on
// it), so it is queued and freed from a 200 ms thread timer instead.
//
// The collector also holds every band form from its creation: band forms are
// freed by nobody else.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "runtime/threading/critical_section_win.h"
#include "runtime/threading/thread_list_win.h"
#include "shellext/bandform/base_band_form_win.h"

namespace vellum::shellext {

class DUduzGarbageCollector {
 public:
  // Made on first use. DestroyInstance (the server's tear-down) frees every
  // form the collector still holds, windows and all, and stops the timer.
  static DUduzGarbageCollector& Instance();
  static void DestroyInstance();
  ~DUduzGarbageCollector();

  // Takes ownership of a new band form until the collector frees it.
  DUduzBaseBandForm& Adopt(std::unique_ptr<DUduzBaseBandForm> form);
  // Queues a form to be freed at the next tick; starts the timer if needed.
  void Add(DUduzBaseBandForm& form);
  // Drops a form from the queue (a form its owner frees before the tick).
  void Forget(DUduzBaseBandForm& form) { queue_.Remove(&form); }
  // Frees every queued form now (the timer's work).
  void Collect();

  bool TimerRunning() const { return timer_id_ != 0; }
  int QueuedCount() { return queue_.Count(); }
  int AdoptedCount();
  static constexpr UINT kPeriodMs = 200;

 private:
  DUduzGarbageCollector() = default;
  void FreeEverything();
  static void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD);

  ThreadList<DUduzBaseBandForm> queue_;
  CriticalSection owned_lock_;
  std::vector<std::unique_ptr<DUduzBaseBandForm>> owned_;
  UINT_PTR timer_id_ = 0;
};

}  // namespace vellum::shellext

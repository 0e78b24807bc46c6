#include "shellext/bandform/garbage_collector_win.h"

#include <algorithm>

#include "runtime/gui/application_win.h"
#include "shellext/bandform/hook_updater_win.h"

namespace vellum::shellext {

DUduzGarbageCollector& DUduzGarbageCollector::Instance() {
  static DUduzGarbageCollector collector;
  return collector;
}

// The forms this collector frees last, at unload, unregister from the hook
// updater then: made first, the updater is destroyed after the collector.
DUduzGarbageCollector::DUduzGarbageCollector() { DUduzHookUpdater::Instance(); }

DUduzGarbageCollector::~DUduzGarbageCollector() {
  try {
    Collect();
  } catch (...) {
  }
  if (timer_id_ != 0) KillTimer(nullptr, timer_id_);
  timer_id_ = 0;
  // Forms whose windows still exist at unload go with the module.
  CriticalSectionLock guard(owned_lock_);
  owned_.clear();
}

DUduzBaseBandForm& DUduzGarbageCollector::Adopt(std::unique_ptr<DUduzBaseBandForm> form) {
  CriticalSectionLock guard(owned_lock_);
  owned_.push_back(std::move(form));
  return *owned_.back();
}

int DUduzGarbageCollector::AdoptedCount() {
  CriticalSectionLock guard(owned_lock_);
  return static_cast<int>(owned_.size());
}

void DUduzGarbageCollector::Add(DUduzBaseBandForm& form) {
  auto locked = queue_.LockList();
  if (timer_id_ == 0) timer_id_ = SetTimer(nullptr, 0, kPeriodMs, &DUduzGarbageCollector::TimerProc);
  if (locked.IndexOf(&form) < 0) locked.Add(&form);
}

void DUduzGarbageCollector::Collect() {
  auto locked = queue_.LockList();
  const std::vector<DUduzBaseBandForm*> doomed = locked.Items();
  locked.Clear();
  std::vector<std::unique_ptr<DUduzBaseBandForm>> freed;
  {
    CriticalSectionLock guard(owned_lock_);
    for (DUduzBaseBandForm* form : doomed) {
      const auto found = std::find_if(owned_.begin(), owned_.end(), [&](const auto& p) { return p.get() == form; });
      if (found == owned_.end()) continue;  // not ours: its owner frees it
      freed.push_back(std::move(*found));
      owned_.erase(found);
    }
  }
  // Freed in queue order, outside the ownership lock (a destructor may adopt or queue).
  for (auto& form : freed) form.reset();
}

void CALLBACK DUduzGarbageCollector::TimerProc(HWND, UINT, UINT_PTR, DWORD) {
  // A timer callback is a thread boundary: nothing may escape into the
  // system's dispatch code, so a failing destructor is reported here.
  try {
    Instance().Collect();
  } catch (...) {
    gui::Application().HandleException(nullptr, std::current_exception());
  }
}

}  // namespace vellum::shellext

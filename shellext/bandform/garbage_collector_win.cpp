#include "shellext/bandform/garbage_collector_win.h"

#include <algorithm>
#include <mutex>

#include "runtime/gui/application_win.h"

namespace vellum::shellext {

namespace {

// Made on first use and destroyed by the server's tear-down, never by static
// destruction (see docs/ARCHITECTURE.md, "Start-up and shut-down").
std::mutex g_instance_lock;
DUduzGarbageCollector* g_collector = nullptr;

}  // namespace

DUduzGarbageCollector& DUduzGarbageCollector::Instance() {
  std::lock_guard guard(g_instance_lock);
  if (g_collector == nullptr) g_collector = new DUduzGarbageCollector;
  return *g_collector;
}

void DUduzGarbageCollector::DestroyInstance() {
  DUduzGarbageCollector* collector = nullptr;
  {
    std::lock_guard guard(g_instance_lock);
    collector = g_collector;
  }
  if (collector == nullptr) return;
  // Still the instance while the forms go: their destructors reach it to
  // leave the queue.
  collector->FreeEverything();
  {
    std::lock_guard guard(g_instance_lock);
    g_collector = nullptr;
  }
  delete collector;
}

DUduzGarbageCollector::~DUduzGarbageCollector() {
  FreeEverything();
}

void DUduzGarbageCollector::FreeEverything() {
  try {
    Collect();
  } catch (...) {
  }
  if (timer_id_ != 0) KillTimer(nullptr, timer_id_);
  timer_id_ = 0;
  // Forms whose windows still exist at unload go with the module; freed
  // outside the lock, as in Collect.
  std::vector<std::unique_ptr<DUduzBaseBandForm>> remaining;
  {
    CriticalSectionLock guard(owned_lock_);
    remaining.swap(owned_);
  }
  for (auto& form : remaining) form.reset();
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

#include "runtime/gui/synchronize_win.h"

#include <windows.h>

#include <deque>
#include <exception>
#include <mutex>

#include "runtime/win/unique_handle_win.h"

namespace vellum::gui {

namespace {

struct Pending {
  const std::function<void()>* call;
  HANDLE done;
  std::exception_ptr error;
};

struct SyncState {
  std::mutex lock;
  std::deque<Pending*> queue;
  std::function<void()> wake;
  DWORD main_thread = 0;
};

SyncState& State() {
  static SyncState state;
  return state;
}

}  // namespace

unsigned long MainThreadId() {
  SyncState& state = State();
  std::lock_guard guard(state.lock);
  if (state.main_thread == 0) state.main_thread = GetCurrentThreadId();
  return state.main_thread;
}

void SetMainThreadId(unsigned long thread_id) {
  SyncState& state = State();
  std::lock_guard guard(state.lock);
  state.main_thread = thread_id;
}

void SetWakeMainThread(std::function<void()> wake) {
  SyncState& state = State();
  std::lock_guard guard(state.lock);
  state.wake = std::move(wake);
}

void Synchronize(const std::function<void()>& call) {
  if (GetCurrentThreadId() == MainThreadId()) {
    call();
    return;
  }
  win::UniqueKernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Pending pending{&call, done.get(), nullptr};
  std::function<void()> wake;
  {
    SyncState& state = State();
    std::lock_guard guard(state.lock);
    state.queue.push_back(&pending);
    wake = state.wake;
  }
  if (wake) wake();
  WaitForSingleObject(done.get(), INFINITE);
  if (pending.error) std::rethrow_exception(pending.error);
}

bool CheckSynchronize() {
  bool ran = false;
  for (;;) {
    Pending* pending = nullptr;
    {
      SyncState& state = State();
      std::lock_guard guard(state.lock);
      if (state.queue.empty()) break;
      pending = state.queue.front();
      state.queue.pop_front();
    }
    try {
      (*pending->call)();
    } catch (...) {
      pending->error = std::current_exception();
    }
    SetEvent(pending->done);
    ran = true;
  }
  return ran;
}

}  // namespace vellum::gui

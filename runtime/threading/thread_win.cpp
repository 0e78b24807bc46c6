#include "runtime/threading/thread_win.h"

#include "runtime/exception.h"
#include "runtime/threading/critical_section_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum {

namespace {

constexpr int kPriorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,       THREAD_PRIORITY_BELOW_NORMAL,
                               THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                               THREAD_PRIORITY_TIME_CRITICAL};

struct HookState {
  CriticalSection lock;
  ThreadExceptionHook hook;
};

HookState& Hooks() {
  static HookState state;
  return state;
}

}  // namespace

ThreadExceptionHook SetThreadExceptionHook(ThreadExceptionHook hook) {
  HookState& state = Hooks();
  CriticalSectionLock guard(state.lock);
  std::swap(state.hook, hook);
  return hook;
}

Thread::Thread() {
  handle_.reset(CreateThread(nullptr, 0, &ThreadProc, this, CREATE_SUSPENDED, &thread_id_));
  if (!handle_) win::RaiseLastOSError("CreateThread");
}

Thread::~Thread() {
  if (!started_.exchange(true)) {
    // Never started: let the system thread run out without calling Execute,
    // which belongs to a derived part that no longer exists.
    skip_execute_ = true;
    terminated_ = true;
    ResumeThread(handle_.get());
    WaitForSingleObject(handle_.get(), INFINITE);
    return;
  }
  TerminateAndWait();
}

void Thread::Start() {
  if (started_.exchange(true)) throw EInvalidOperation("Cannot call Start on a running or suspended thread");
  if (ResumeThread(handle_.get()) == static_cast<DWORD>(-1)) win::RaiseLastOSError("ResumeThread");
}

void Thread::Resume() {
  if (!started_) {
    Start();
    return;
  }
  const DWORD previous = ResumeThread(handle_.get());
  if (previous == static_cast<DWORD>(-1)) win::RaiseLastOSError("ResumeThread");
  if (previous > 0 && suspend_count_ > 0) --suspend_count_;
}

void Thread::Suspend() {
  if (SuspendThread(handle_.get()) == static_cast<DWORD>(-1)) win::RaiseLastOSError("SuspendThread");
  ++suspend_count_;
}

DWORD Thread::WaitFor() {
  DWORD exit_code = 0;
  WaitFor(INFINITE, exit_code);
  return exit_code;
}

bool Thread::WaitFor(DWORD milliseconds, DWORD& exit_code) {
  if (GetCurrentThreadId() == thread_id_) throw EInvalidOperation("A thread cannot wait for itself");
  if (!started_) throw EInvalidOperation("Cannot wait for a thread that was never started");
  const DWORD result = WaitForSingleObject(handle_.get(), milliseconds);
  if (result == WAIT_TIMEOUT) return false;
  if (result != WAIT_OBJECT_0) win::RaiseLastOSError("WaitForSingleObject");
  if (!GetExitCodeThread(handle_.get(), &exit_code)) win::RaiseLastOSError("GetExitCodeThread");
  return true;
}

void Thread::TerminateAndWait() noexcept {
  Terminate();
  // Called from destructors, including the one a freeing thread runs on
  // itself, so it neither raises nor waits for its own thread.
  if (!started_ || GetCurrentThreadId() == thread_id_) return;
  // Undo this object's own Suspend calls, or the wait would never end.
  for (; suspend_count_ > 0; --suspend_count_) ResumeThread(handle_.get());
  WaitForSingleObject(handle_.get(), INFINITE);
}

ThreadPriority Thread::Priority() const {
  const int value = GetThreadPriority(handle_.get());
  if (value == THREAD_PRIORITY_ERROR_RETURN) win::RaiseLastOSError("GetThreadPriority");
  for (int i = 0; i < static_cast<int>(std::size(kPriorities)); ++i) {
    if (kPriorities[i] == value) return static_cast<ThreadPriority>(i);
  }
  // Values between the named levels (set by someone else) read as the
  // nearest level below.
  int best = tpIdle;
  for (int i = 0; i < static_cast<int>(std::size(kPriorities)); ++i) {
    if (kPriorities[i] <= value) best = i;
  }
  return static_cast<ThreadPriority>(best);
}

void Thread::SetPriority(ThreadPriority priority) {
  if (priority < tpIdle || priority > tpTimeCritical) throw EInvalidOperation("Invalid thread priority");
  if (!SetThreadPriority(handle_.get(), kPriorities[priority])) win::RaiseLastOSError("SetThreadPriority");
}

void Thread::KeepEscapedException(std::exception_ptr error) noexcept {
  fatal_exception_ = error;
  ThreadExceptionHook hook;
  try {
    HookState& state = Hooks();
    CriticalSectionLock guard(state.lock);
    hook = state.hook;
  } catch (...) {
    return;  // copying the hook failed (no memory): the exception stays kept
  }
  if (!hook) return;
  try {
    hook(error, *this);
  } catch (...) {
    // A failing reporter has nowhere left to report to; the thread boundary
    // must hold either way.
  }
}

DWORD WINAPI Thread::ThreadProc(void* parameter) {
  Thread* self = FromStartParameter(parameter);
  if (!self->skip_execute_) {
    try {
      self->Execute();
    } catch (...) {
      self->KeepEscapedException(std::current_exception());
    }
  }
  const bool free_self = self->free_on_terminate_;
  const auto exit_code = static_cast<DWORD>(self->return_value_.load());
  self->finished_ = true;
  if (free_self) {
    // The one object in the system that deletes itself: a thread set to
    // free itself has no other owner, and only this routine knows the moment
    // Execute is over. The destructor sees it runs in its own thread and does
    // not wait for itself.
    delete self;
  }
  return exit_code;
}

}  // namespace vellum

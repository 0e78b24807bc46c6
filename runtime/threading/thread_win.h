// The runtime's thread class: an object whose virtual Execute runs in a
// thread of its own.
//
// The system thread is made by CreateThread (not the C runtime's
// _beginthreadex) at construction, suspended, so that the exception
// subsystem's hook on CreateThread sees every runtime thread and can
// recognise it by its start routine (StartRoutine) and parameter (the
// object); ThreadID and Handle are valid from construction on.
//
// A C++ object cannot start running its own virtual Execute from its
// constructor (the derived part does not exist yet), so every thread starts
// with Start (or Resume); StartThread and StartDetachedThread below make and
// start one in a single call.
//
// Whatever escapes Execute is caught at the thread boundary: it is kept in
// FatalException and handed to the process-wide thread exception hook when
// one is installed; it never ends the process.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

#include "runtime/win/unique_handle_win.h"

namespace vellum {

enum ThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class Thread {
 public:
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Lets Execute begin; only once, on a thread that never ran, otherwise
  // EInvalidOperation "Cannot call Start on a running or suspended thread".
  void Start();
  // Start for a thread that never ran; otherwise undoes one Suspend.
  void Resume();
  void Suspend();
  bool Suspended() const { return suspend_count_ > 0; }

  // Asks Execute to stop: it is a flag that Execute polls, nothing more.
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }

  // Waits until the thread has ended and answers its exit code, which is
  // ReturnValue. Raises EInvalidOperation when the thread never started or
  // when a thread waits for itself.
  DWORD WaitFor();
  // The same with a time limit; false when the thread still runs.
  bool WaitFor(DWORD milliseconds, DWORD& exit_code);
  // Terminate, then wait. A derived class whose Execute uses the derived
  // object's own members calls this first thing in its destructor: by the
  // time ~Thread runs, those members are already gone.
  void TerminateAndWait() noexcept;

  // A thread set to free itself deletes its object when Execute has ended:
  // nobody else may touch or delete the object once it has started.
  bool FreeOnTerminate() const { return free_on_terminate_; }
  void SetFreeOnTerminate(bool value) { free_on_terminate_ = value; }

  ThreadPriority Priority() const;
  void SetPriority(ThreadPriority priority);

  HANDLE Handle() const { return handle_.get(); }
  DWORD ThreadID() const { return thread_id_; }
  int ReturnValue() const { return return_value_; }
  // What escaped Execute, null when nothing did. Read it after WaitFor.
  std::exception_ptr FatalException() const { return fatal_exception_; }

  // For the exception subsystem: a thread started at this routine is a
  // runtime thread, and its start parameter is its Thread object.
  static LPTHREAD_START_ROUTINE StartRoutine() { return &ThreadProc; }
  static Thread* FromStartParameter(void* parameter) { return static_cast<Thread*>(parameter); }

 protected:
  // Raises EOSError when the system cannot make the thread.
  Thread();
  virtual void Execute() = 0;
  void SetReturnValue(int value) { return_value_ = value; }

 private:
  static DWORD WINAPI ThreadProc(void* parameter);
  void KeepEscapedException(std::exception_ptr error) noexcept;

  win::UniqueKernelHandle handle_;
  DWORD thread_id_ = 0;
  std::atomic<bool> started_{false};
  std::atomic<bool> skip_execute_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> free_on_terminate_{false};
  std::atomic<int> suspend_count_{0};
  std::atomic<int> return_value_{0};
  std::exception_ptr fatal_exception_;
};

// Receives every exception that escapes a runtime thread's Execute, in that
// thread, before the thread ends (and, for a thread that frees itself,
// before its object is deleted). The exception subsystem installs its
// reporter here; it must put back what it replaced when it stops, so that no
// pointer into an unloaded module stays behind.
using ThreadExceptionHook = std::function<void(std::exception_ptr error, Thread& thread)>;
// Installs `hook` (empty: none) and answers the one it replaces.
ThreadExceptionHook SetThreadExceptionHook(ThreadExceptionHook hook);

// Makes a T and starts it; the caller owns it.
template <typename T, typename... Args>
std::unique_ptr<T> StartThread(Args&&... args) {
  auto thread = std::make_unique<T>(std::forward<Args>(args)...);
  thread->Start();
  return thread;
}

// Makes a T that frees itself when Execute ends and starts it; answers its
// thread id, as the object may be gone by the time the caller looks.
template <typename T, typename... Args>
DWORD StartDetachedThread(Args&&... args) {
  auto thread = std::make_unique<T>(std::forward<Args>(args)...);
  thread->SetFreeOnTerminate(true);
  const DWORD id = thread->ThreadID();
  thread->Start();
  thread.release();  // ownership passes to the thread, which deletes itself
  return id;
}

}  // namespace vellum

// Test support for seeing that another thread is held up, without sleeping
// for a time that is only hoped to be long enough. Where the object under
// test counts its waiters, a test waits for that count; elsewhere the thread
// raises a flag right before the call that should hold it, and the test,
// once it sees the flag, gives the processor away many times: a thread that
// is not held has only a few instructions left before it shows that it got
// through, and runs them long before the test looks again.
#pragma once

#include <windows.h>

namespace vellum::testing {

// Yields until `done` answers true; false after `limit_ms`, which only
// guards against a hang and is never what a test relies on. A template, not
// a std::function: tests that count allocations call it.
template <typename Done>
bool YieldUntil(const Done& done, DWORD limit_ms = 10000) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limit_ms) return false;
    SwitchToThread();
  }
  return true;
}

// Each round may hand the processor to another process for a whole time
// slice on a loaded machine, so a few hundred are plenty and still quick.
inline void YieldManyTimes(int rounds = 200) {
  for (int i = 0; i < rounds; ++i) SwitchToThread();
}

inline bool StillRunning(HANDLE thread) {
  return WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
}

// SuspendThread answers the count from before the call.
inline DWORD SuspendCount(HANDLE thread) {
  const DWORD previous = SuspendThread(thread);
  ResumeThread(thread);
  return previous;
}

// SuspendThread only asks the thread to stop; reading its context waits
// until it has.
inline bool WaitUntilStopped(HANDLE thread) {
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  return GetThreadContext(thread, &context) != FALSE;
}

}  // namespace vellum::testing

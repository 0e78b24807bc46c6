// A Win32 critical section owned by one object, and its scoped entry.
#pragma once

#include <windows.h>

namespace vellum::hooking {

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_{};
};

class ScopedCriticalSection {
 public:
  explicit ScopedCriticalSection(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~ScopedCriticalSection() { section_.Leave(); }
  ScopedCriticalSection(const ScopedCriticalSection&) = delete;
  ScopedCriticalSection& operator=(const ScopedCriticalSection&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace vellum::hooking

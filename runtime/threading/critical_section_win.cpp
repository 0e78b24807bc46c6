#include "runtime/threading/critical_section_win.h"

namespace vellum {

namespace {

// The high bit asks older systems to allocate the wait event now rather than
// at the first contention, when memory may already be short (a report is
// being built because something went wrong); newer systems ignore it.
constexpr DWORD kSpinCount = 0x80000000u | 4000u;

}  // namespace

CriticalSection::CriticalSection() {
  InitializeCriticalSectionAndSpinCount(&section_, kSpinCount);
}

CriticalSection::~CriticalSection() {
  DeleteCriticalSection(&section_);
}

}  // namespace vellum

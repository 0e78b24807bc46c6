// What the thread hooks do: the exception manager hooks "CreateThread",
// "ResumeThread" and "ExitThread" in the runtime's module and calls these
// with the procedure each hook replaced.
//
// - Creation: the thread is made suspended with a wrapper start routine,
//   gets its record (id, handle, routine and parameter, thread object of a
//   runtime thread) and a copy of its creator's stack, and is resumed unless
//   the caller asked for it suspended.
// - The wrapper, in the new thread: stores the stack base in the record; for
//   a runtime thread it hooks the Execute slot of the object's class once per
//   class (not for the subsystem's own thread classes, whose records it
//   drops); it reports exceptions that escape the routine, and removes the
//   record when the routine returns.
// - Resume: the resumed thread's record gets the calling thread as its
//   caller and a copy of the caller's used stack (not while the calling
//   thread runs a report).
// - Exit: the calling thread's record is removed.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>

#include "exceptlog/capture/callstack/win/threads_list_win.h"

namespace vellum::exceptlog {

struct ThreadBookkeeping {
  // Where the records go; nullptr switches the bookkeeping off.
  TRuzadaThreadsList* threads = nullptr;
  // True while the calling thread runs a report; its resumes are the
  // pipeline's own and say nothing about callers.
  std::function<bool()> inside_pipeline;
  // Gets what escaped a wrapped routine or a hooked Execute, in the thread
  // it escaped from, before it goes on (raise kind 0).
  std::function<void(std::exception_ptr error)> report_escaped;
};

// Installs `settings` (process-wide) and answers what was installed before.
// Switch it on before the hooks are installed and off after they are
// removed: threads created meanwhile read it without a lock.
ThreadBookkeeping SetThreadBookkeeping(ThreadBookkeeping settings);
bool ThreadBookkeepingActive();

// The unqualified names of the subsystem's own thread classes; their
// threads are not listed and their Execute is never hooked.
bool IsSubsystemThreadClass(const Thread& thread);

// The slot of Execute in a runtime thread class's virtual table.
std::size_t ExecuteSlot();

using CreateThreadProcedure = decltype(&CreateThread);
using ResumeThreadProcedure = decltype(&ResumeThread);
using ExitThreadProcedure = decltype(&ExitThread);

HANDLE BookkeptCreateThread(CreateThreadProcedure previous, LPSECURITY_ATTRIBUTES security, SIZE_T stack_size,
                            LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD thread_id);
DWORD BookkeptResumeThread(ResumeThreadProcedure previous, HANDLE thread);
[[noreturn]] void BookkeptExitThread(ExitThreadProcedure previous, DWORD exit_code);

// ResumeThread of kernel32 itself, past any hook on this module's import:
// the subsystem's own resumes say nothing about callers.
DWORD ResumeThreadDirectly(HANDLE thread);

// The calling thread's stack base (its highest address) and stack pointer.
std::uintptr_t CurrentStackBase();
std::uintptr_t CurrentStackPointer();

}  // namespace vellum::exceptlog

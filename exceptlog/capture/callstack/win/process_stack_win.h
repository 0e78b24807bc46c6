// Call stacks of this process's threads: the scan and naming of the portable
// part, with this process's memory and module list behind them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/capture/callstack/win/modules_list_win.h"
#include "exceptlog/capture/callstack/win/threads_list_win.h"

namespace vellum::exceptlog {

// The stack of one thread from `stack_position` up to `stack_top` (a live
// stack or a saved copy), each address named through `modules`.
std::unique_ptr<TRuzadaStackList> BuildStack(TRuzadaModulesList& modules, std::uint32_t exception_address,
                                             std::uint32_t stack_position, std::uint32_t stack_top, bool live,
                                             std::uint32_t thread_id);
void AddStack(TRuzadaStackList& list, TRuzadaModulesList& modules, std::uint32_t exception_address,
              std::uint32_t stack_position, std::uint32_t stack_top, bool live, std::uint32_t thread_id);

// What a report takes of another thread while it is stopped: its registers
// and a copy of the part of its stack a scan reads.
struct CapturedThread {
  CONTEXT Context{};
  std::uint32_t StackBase = 0;
  std::vector<std::uint8_t> Stack;  // from the stack pointer up
};

// Suspends the thread, reads its control, integer and segment registers,
// copies its stack and resumes it. The copy's buffer is allocated before the
// thread stops, so that a thread stopped inside the heap cannot block the
// report. `stack_base` 0: taken from the thread's own information block.
// False when the thread cannot be stopped or read, or its stack pointer
// lies outside its stack.
bool CaptureThread(HANDLE thread, std::uint32_t stack_base, CapturedThread& captured);

// Adds the stacks of the listed threads that `include` accepts (never the
// calling thread's own, which the caller scans from its exception's
// position): each thread's live stack from its stack pointer, then its saved
// caller stack attributed to the caller. Records get the priority read.
// Meant for the pipeline's snapshot: the list stays write-locked throughout.
void AddThreadStacks(TRuzadaStackList& list, TRuzadaModulesList& modules, TRuzadaThreadsList& threads,
                     const std::function<bool(const TRuzadaThreadRecord&)>& include = {});

}  // namespace vellum::exceptlog

// Call stacks of this process's threads: the scan and naming of the portable
// part, with this process's memory and module list behind them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "exceptlog/capture/callstack/call_stack.h"
#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/capture/callstack/win/modules_list_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/threads_list_win.h"

namespace vellum::exceptlog {

// The stack of one thread from `stack_position` up to `stack_top` (a live
// stack or a saved copy), each address named through `modules`.
std::unique_ptr<TRuzadaStackList> BuildStack(TRuzadaModulesList& modules, std::uint64_t exception_address,
                                             std::uint64_t stack_position, std::uint64_t stack_top, bool live,
                                             std::uint32_t thread_id);
void AddStack(TRuzadaStackList& list, TRuzadaModulesList& modules, std::uint64_t exception_address,
              std::uint64_t stack_position, std::uint64_t stack_top, bool live, std::uint32_t thread_id);

// Names addresses through `modules`, and tells `memory` (which must outlive
// the lookup) each found module's code section, which stays readable while
// the module is listed.
ModuleLookup ModuleLookupIn(TRuzadaModulesList& modules, const ProcessMemoryReader& memory);

// Where an exact walk of a 64-bit thread's stack starts: its registers, the
// address listed first (the exception's, standing for the first frame; 0:
// none), and for a throw, whose registers are the raise hook's own, the
// return address into the thrower: frames up to it are the hook's and are
// left out.
struct UnwindStart {
  const CONTEXT& context;
  std::uint64_t exception_address = 0;
  std::uint64_t throw_return_address = 0;
};

// Stack words taken earlier: `bytes` were at `address` of the stack.
struct StackCopy {
  std::span<const std::uint8_t> bytes;
  std::uint64_t address = 0;
};

// A 64-bit thread's stack walked frame by frame with its modules' unwind
// data, up to `stack_top`, reading the stack from `copy` where it covers it
// and live above. Where the walk cannot go on (code without unwind data, a
// damaged stack), the remaining stack words are scanned as a 32-bit stack
// is. Frames are listed by their call instruction (the return address's
// call), and not thinned out: a recursion shows every level.
void AddUnwoundStack(TRuzadaStackList& list, TRuzadaModulesList& modules, const UnwindStart& start,
                     const StackCopy& copy, std::uint64_t stack_top, std::uint32_t thread_id);

// What a report takes of another thread while it is stopped: its registers
// and a copy of the part of its stack a scan reads.
struct CapturedThread {
  CONTEXT Context{};
  std::uintptr_t StackBase = 0;
  std::vector<std::uint8_t> Stack;  // from the stack pointer up
};

// Suspends the thread, reads its control, integer and segment registers,
// copies its stack and resumes it. The copy's buffer is allocated before the
// thread stops, so that a thread stopped inside the heap cannot block the
// report. `stack_base` 0: taken from the thread's own information block.
// False when the thread cannot be stopped or read, or its stack pointer
// lies outside its stack.
bool CaptureThread(HANDLE thread, std::uintptr_t stack_base, CapturedThread& captured);

// The same for several threads, all stopped at once and resumed together;
// `captured` gets one entry per thread, and the answer one flag per thread
// (non-zero: taken).
struct ThreadToCapture {
  HANDLE handle = nullptr;
  std::uintptr_t stack_base = 0;
};
std::vector<char> CaptureThreads(const std::vector<ThreadToCapture>& threads, std::vector<CapturedThread>& captured);

// Adds the stacks of the listed threads that `include` accepts (never the
// calling thread's own, which the caller scans from its exception's
// position): each thread's live stack from its stack pointer, then its saved
// caller stack attributed to the caller. Records get the priority read.
// Meant for the pipeline's snapshot: the list stays write-locked throughout.
void AddThreadStacks(TRuzadaStackList& list, TRuzadaModulesList& modules, TRuzadaThreadsList& threads,
                     const std::function<bool(const TRuzadaThreadRecord&)>& include = {});

}  // namespace vellum::exceptlog

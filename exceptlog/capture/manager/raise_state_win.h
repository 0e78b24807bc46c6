// What each thread remembers of its last raise: where it was raised, the
// stack position and registers at that moment, and a copy of the stack above
// that position. A report is built at a catch point, after the frames between
// the raise and the catch have been unwound and partly overwritten by the
// catch point's own calls; the copy gives the scan those frames back.
//
// Written by the raise hook (every throw of this module's code) and by the
// fault conversion, so it stays cheap: one copy of at most kStackCopyBytes,
// no allocation after the thread's first raise, no stack walk.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace vellum::exceptlog {

inline constexpr std::uint32_t kStackCopyBytes = 12 * 1024;

struct TRaiseState {
  const void* object = nullptr;       // the thrown object; matches the catch point's exception
  std::uintptr_t raise_address = 0;   // language: the throwing call's return address; fault: the instruction
  std::uintptr_t stack_position = 0;  // the lowest stack address kept: the stack pointer right after the raise
  std::uintptr_t stack_top = 0;       // the thread's stack base (highest address)
  bool language = true;               // false: an operating-system exception turned into one of ours
  bool context_valid = false;         // `context` describes the raise (a fault's, or a freeze's)
  CONTEXT context{};                  // integer and control registers (all of them for a fault)
  // 64-bit: where the stack walk starts - the fault's context, or the raise
  // hook's own registers, whose frame the copy holds and the walk steps out
  // of to the throw site.
  bool walk_valid = false;
  CONTEXT walk{};
  EXCEPTION_RECORD fault{};     // the system's record of a converted fault
  std::uint32_t copy_size = 0;  // bytes of stack from stack_position kept in `copy`
  alignas(16) std::uint8_t copy[kStackCopyBytes];

  // The object last reported from this thread and what its report answered:
  // an exception that several catch points see on its way out (a thread's
  // Execute hook, then the thread boundary; a rethrow) is reported once.
  const void* reported_object = nullptr;
  bool reported_result = true;

  // The converted fault the redirected thread is about to throw.
  bool fault_pending = false;
  // That fault, a stack overflow, was reported already from another thread.
  bool overflow_reported = false;
  // Raises of the subsystem's own code while it reports are not recorded:
  // the report reads this state.
  bool inside_dispatcher = false;
  bool inside_pipeline = false;
};

// The calling thread's state; made on the thread's first use.
TRaiseState& CurrentRaiseState();
// nullptr when the thread has none yet; never allocates.
TRaiseState* ExistingRaiseState();

// Whether throws are recorded; on from the subsystem's start to its stop.
void EnableRaiseHook(bool enabled);
bool RaiseHookEnabled();

// Takes the stack position, registers and stack copy; used by the raise hook
// and by the fault conversion.
void RecordRaise(TRaiseState& state, const void* object, std::uintptr_t raise_address, std::uintptr_t stack_position,
                 bool language);
void ClearRaise(TRaiseState& state);

// 64-bit: the registers a walk of the stack needs (the stack and instruction
// pointers and the registers a callee preserves) of the calling procedure's
// callee, which the walk steps out of; the others stay as they were.
void CaptureWalkRegisters(CONTEXT& context);

}  // namespace vellum::exceptlog

#include "exceptlog/capture/manager/raise_state_win.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"

namespace vellum::exceptlog {

namespace {

std::atomic<bool> raise_hook_enabled{false};

// One per thread, freed with the thread by the C runtime's thread-local
// storage. The pointer is the only thread-local object: the state itself is
// too large to be built on every thread that merely touches it.
thread_local std::unique_ptr<TRaiseState> thread_state;

}  // namespace

TRaiseState& CurrentRaiseState() {
  if (!thread_state) thread_state = std::make_unique<TRaiseState>();
  return *thread_state;
}

TRaiseState* ExistingRaiseState() {
  return thread_state.get();
}

void EnableRaiseHook(bool enabled) {
  raise_hook_enabled.store(enabled, std::memory_order_release);
}

bool RaiseHookEnabled() {
  return raise_hook_enabled.load(std::memory_order_acquire);
}

void RecordRaise(TRaiseState& state, const void* object, std::uintptr_t raise_address, std::uintptr_t stack_position,
                 bool language) {
  // A new throw whose object happens to sit where a reported one was.
  if (object != nullptr && object == state.reported_object) state.reported_object = nullptr;
  state.object = object;
  state.raise_address = raise_address;
  state.stack_position = stack_position;
  state.stack_top = CurrentStackBase();
  state.language = language;
  // The copy ends at the stack's base; the stack between the position and
  // the base is this thread's own and committed, so it reads without a probe.
  const std::uintptr_t available = state.stack_top > stack_position ? state.stack_top - stack_position : 0;
  state.copy_size = static_cast<std::uint32_t>(std::min<std::uintptr_t>(available, kStackCopyBytes));
  if (state.copy_size != 0) {
    std::memcpy(state.copy, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(stack_position)),
                state.copy_size);
  }
}

void ClearRaise(TRaiseState& state) {
  state.object = nullptr;
  state.raise_address = 0;
  state.stack_position = 0;
  state.copy_size = 0;
  state.context_valid = false;
  state.walk_valid = false;
  state.fault_pending = false;
}

}  // namespace vellum::exceptlog

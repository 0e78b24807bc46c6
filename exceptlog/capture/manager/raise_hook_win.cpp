// The raise hook. Modules that carry the subsystem link with
// --wrap=__cxa_throw, so every throw of their code - ours, the C++ library's
// own (bad_alloc, out_of_range...) - comes here first. It only records; the
// decision to report is made at the catch points, where the exception either
// was handled by application code (and is forgotten) or escaped.
#include <windows.h>

#include <cstdint>

#include "exceptlog/capture/manager/raise_state_win.h"

extern "C" {

[[noreturn]] void __real___cxa_throw(void* object, void* type, void (*destructor)(void*));

// The frame pointer makes the caller's stack position and return address
// exact without walking anything.
__attribute__((noinline, optimize("no-omit-frame-pointer"))) [[noreturn]] void __wrap___cxa_throw(
    void* object, void* type, void (*destructor)(void*)) {
  using namespace vellum::exceptlog;
  if (RaiseHookEnabled()) {
    TRaiseState& state = CurrentRaiseState();
    if (state.fault_pending) {
      // A converted fault: its position and registers were taken at the
      // fault; only the object is new.
      state.fault_pending = false;
      if (object == state.reported_object) state.reported_object = nullptr;
      state.object = object;
      if (state.overflow_reported) {
        // Reported from another thread at the fault; its catch point only
        // gets the answer.
        state.overflow_reported = false;
        state.reported_object = object;
        state.reported_result = false;
      }
    } else if (!state.inside_dispatcher && !state.inside_pipeline) {
      const auto return_address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
#if defined(__x86_64__)
      // The walk starts from this procedure's own registers: the copy
      // begins at its stack pointer, so that its frame (the thrower's saved
      // registers among it) is still there when the report steps out of it.
      CaptureWalkRegisters(state.walk);
      RecordRaise(state, object, return_address, state.walk.Rsp, true);
      state.walk_valid = true;
#else
      // [frame] saved EBP, [frame + 4] the return address; the caller's
      // stack pointer after the call is frame + 8.
      const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
      RecordRaise(state, object, return_address, frame + 8, true);
#endif
      state.context_valid = false;
    }
  }
  __real___cxa_throw(object, type, destructor);
}

}  // extern "C"

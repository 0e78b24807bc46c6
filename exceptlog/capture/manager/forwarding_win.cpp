// The entries of the catch points and of other modules: an exception is
// reported once, at the first catch point that sees it, and a library inside
// a program that carries the subsystem hands it to the program's manager.
#include <windows.h>

#include <cstring>

#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/manager/manager_state_win.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

namespace {

// The thrown object an exception_ptr holds: the raise hook saw the same
// address, so a catch point can tell whether the raise state is this
// exception's.
const void* ThrownObject(const std::exception_ptr& error) {
  static_assert(sizeof(std::exception_ptr) == sizeof(void*), "exception_ptr holds the thrown object's address");
  const void* object = nullptr;
  std::memcpy(&object, &error, sizeof object);
  return object;
}

bool IsAbort(const std::vector<std::string>& chain) {
  for (const std::string& name : chain) {
    if (name == "EAbort") return true;
  }
  return false;
}

using ExportedExceptionManager = BOOL WINAPI(const void* exception, ULONG_PTR address, DWORD kind, HMODULE module);

// Where the catch point called from: the report of an exception the raise
// hook did not see starts there.
struct CallerPosition {
  std::uintptr_t address = 0;
  std::uintptr_t stack_position = 0;
};

// Above the frame pointer: the saved frame pointer, then the return address.
#define VELLUM_CALLER_POSITION()                                                         \
  CallerPosition {                                                                       \
    reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)),                       \
        reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) + 2 * sizeof(void*) \
  }

bool Manage(const std::exception_ptr& error, std::uintptr_t address, TRaiseKind kind, HMODULE module,
            TRaiserType raiser, CallerPosition caller) {
  ManagerState* state = State();
  if (state == nullptr || !error) return true;
  if (GetCurrentThreadId() == state->worker_thread.load()) {
    ReportPipelineFailure(error, address);
    return true;
  }
  CriticalSectionLock lock(state->pipeline_lock);
  // While this library initialises or finalises, its thread holds the loader
  // lock: the main module's pipeline would wait for a worker that cannot
  // start. Such reports stay here, where they run in this thread.
  const bool under_loader_lock = state->self.is_library && (state->initializing.load() || state->finalizing.load());
  if (state->forward && !under_loader_lock) {
    HMODULE main = GetModuleHandleA(nullptr);
    if (auto* forward = reinterpret_cast<ExportedExceptionManager*>(
            reinterpret_cast<void*>(GetProcAddress(main, "ExceptionManager")))) {
      // Modules share the C++ runtime's object layout, not its exception
      // machinery: the main module gets one of our exception objects.
      const std::exception* object = AsStdException(error);
      const auto* ours = dynamic_cast<const Exception*>(object);
      const Exception stand_in(ExceptionMessage(error));
      return forward(ours != nullptr ? static_cast<const void*>(ours) : &stand_in, address, kind, state->self.module) !=
             FALSE;
    }
  }
  TRaiseState& raise = CurrentRaiseState();
  const void* thrown = ThrownObject(error);
  if (thrown != nullptr && thrown == raise.reported_object) return raise.reported_result;
  ExceptionRun run;
  run.error = error;
  run.object = AsStdException(error);
  run.class_chain = ExceptionClassChain(error);
  run.message = ExceptionMessage(error);
  if (IsAbort(run.class_chain)) return true;
  run.kind = kind;
  run.raiser = raiser;
  run.module = module;
  run.raising_thread = GetCurrentThreadId();
  run.raise = std::make_unique<TRaiseState>();
  if (raise.object != nullptr && raise.object == thrown) {
    *run.raise = raise;  // the stack copy above all: the catch point's calls overwrite that stack
    run.language = raise.language;
    run.address = address != 0 ? address : raise.raise_address;
  } else {
    // Not seen by the raise hook (another module's, a signal, a C runtime
    // callback): the stack from the catch point on is all there is.
    run.raise->stack_position = caller.stack_position;
    run.raise->stack_top = CurrentStackBase();
    run.address = address != 0 ? address : caller.address;
    run.language = address == 0;  // the catch point's return address points past its call
  }
  const bool result = Dispatch(*state, run);
  raise.reported_object = thrown;
  raise.reported_result = result;
  return result;
}

}  // namespace

__attribute__((noinline, optimize("no-omit-frame-pointer"))) bool ReportEscapedException(
    const std::exception_ptr& error, TRaiseKind kind, TRaiserType raiser) {
  const ManagerState* state = State();
  return Manage(error, 0, kind, state != nullptr ? state->self.module : nullptr, raiser, VELLUM_CALLER_POSITION());
}

__attribute__((noinline, optimize("no-omit-frame-pointer"))) bool ExceptionManager(const std::exception_ptr& error,
                                                                                   std::uintptr_t address,
                                                                                   TRaiseKind kind, HMODULE module) {
  return Manage(error, address, kind, module, rtOrdinary, VELLUM_CALLER_POSITION());
}

}  // namespace vellum::exceptlog

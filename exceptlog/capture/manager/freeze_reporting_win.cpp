// The freeze watchdog's glue: it starts with the subsystem and with the
// running module's Enabled and FreezeCheck setters, and reports a hang as an
// exception raised by the main thread where it stands.
#include <windows.h>

#include "exceptlog/capture/freeze/freeze_watchdog_win.h"
#include "exceptlog/capture/manager/manager_state_win.h"
#include "runtime/exception.h"
#include "runtime/win/cpu_context_win.h"

namespace vellum::exceptlog {

namespace {

// The main thread, stopped where it hangs, reported as if it had raised
// there. Called in the watchdog's thread with the main thread suspended.
void ReportFreeze(ManagerState& state, const CONTEXT& context) {
  TRaiseState& own = CurrentRaiseState();
  own.inside_pipeline = true;
  ExceptionRun run;
  run.error = std::make_exception_ptr(EFrozenApplication(CurrentDeveruVuzOptions().FreezeText()));
  run.object = AsStdException(run.error);
  run.class_chain = ExceptionClassChain(run.error);
  run.message = ExceptionMessage(run.error);
  const std::uintptr_t instruction = win::InstructionPointer(context);
  const std::uintptr_t stack = win::StackPointer(context);
  run.address = instruction;
  run.language = false;
  run.kind = rkGeneral;
  run.module = state.self.module;
  run.raising_thread = state.main_thread_id;
  run.raise = std::make_unique<TRaiseState>();
  run.raise->raise_address = instruction;
  run.raise->stack_position = stack;
  run.raise->stack_top = state.main_stack_base;
  run.raise->language = false;
  run.raise->context = context;
  run.raise->context_valid = true;
  // The main thread is stopped: its stack is read where it is, no copy.
  run.raise->walk = context;
  run.raise->walk_valid = sizeof(void*) == 8;
  run.params.CpuContext = &run.raise->context;
  run.params.StackPosition = stack;
  run.params.StackTop = state.main_stack_base;
  try {
    Dispatch(state, run);
  } catch (...) {
    own.inside_pipeline = false;
    throw;
  }
  own.inside_pipeline = false;
}

std::int32_t RunningModuleFreezeSeconds() {
  return State() != nullptr ? CurrentDeveruVuzOptions().FreezeSeconds() : 60;
}

bool IsRunningModuleOptions(const TRuzadaModuleOptions& options) {
  ManagerState* state = State();
  if (state == nullptr || state->modules == nullptr) return false;
  const auto record = state->modules->Find(state->self.module);
  return record != nullptr && record->Options.get() == &options;
}

void StartWatchdogWhenAsked() {
  ManagerState* state = State();
  if (state == nullptr) return;
  const TRuzadaModuleOptions& options = CurrentDeveruVuzOptions();
  if (!options.Enabled() || !options.FreezeCheck()) return;
  StartFreezeWatchdog({.main_thread = state->main_thread.get(),
                       .kill_at_stop = state->self.is_library,
                       .freeze_seconds = &RunningModuleFreezeSeconds,
                       .report = [state](const CONTEXT& context) { ReportFreeze(*state, context); }});
}

}  // namespace

void StartFreezeReporting() {
  SetFreezeWatchdogControl({&IsRunningModuleOptions, &StartWatchdogWhenAsked, &StopFreezeWatchdog});
  StartWatchdogWhenAsked();
}

void StopFreezeReporting() {
  SetFreezeWatchdogControl({});
  StopFreezeWatchdog();
}

}  // namespace vellum::exceptlog

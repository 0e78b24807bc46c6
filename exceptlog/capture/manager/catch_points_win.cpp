// The catch points: every way an exception can leave our code ends in the
// exception manager, once. The application object's handler catch point
// (raise kind 1), threads (the runtime's thread boundary and the wrapped
// routines of plain threads, kind 0), and the C runtime's last resorts: the
// terminate handler (a throw that nothing catches; the stack is still
// intact there), abort(), a pure virtual call and an invalid parameter to a
// C runtime function.
#include "exceptlog/capture/manager/catch_points_win.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <optional>
#include <type_traits>

#include "exceptlog/capture/callstack/loaded_image.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/hooking/win/hooking_win.h"
#include "exceptlog/capture/hooking/win/import_hooks_win.h"
#include "exceptlog/capture/manager/fault_conversion_win.h"
#include "exceptlog/capture/manager/manager_state_win.h"
#include "runtime/gui/application_win.h"
#include "runtime/threading/thread_win.h"
#include "runtime/win/entry_point_win.h"

namespace vellum::exceptlog {

namespace {

std::terminate_handler previous_terminate = nullptr;
using SignalHandler = void (*)(int);
SignalHandler previous_abort = SIG_DFL;
using InvalidParameterHandler = void(__cdecl*)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t);
using SetInvalidParameterHandlerProcedure = InvalidParameterHandler(__cdecl*)(InvalidParameterHandler);
InvalidParameterHandler previous_invalid_parameter = nullptr;
std::atomic<bool> terminating{false};

CreateThreadProcedure real_create_thread = nullptr;
ResumeThreadProcedure real_resume_thread = nullptr;
ExitThreadProcedure real_exit_thread = nullptr;

HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack_size, LPTHREAD_START_ROUTINE start,
                                 LPVOID parameter, DWORD flags, LPDWORD thread_id) {
  return BookkeptCreateThread(real_create_thread, security, stack_size, start, parameter, flags, thread_id);
}
DWORD WINAPI HookedResumeThread(HANDLE thread) {
  return BookkeptResumeThread(real_resume_thread, thread);
}
[[noreturn]] VOID WINAPI HookedExitThread(DWORD exit_code) {
  BookkeptExitThread(real_exit_thread, exit_code);
}

template <typename Procedure>
Procedure KernelProcedure(const char* name) {
  return win::LookUpEntryPoint<std::remove_pointer_t<Procedure>>(GetModuleHandleA("kernel32.dll"), name);
}

template <typename Procedure>
void* AsPointer(Procedure procedure) {
  return reinterpret_cast<void*>(procedure);
}

// A throw that nothing catches. The thread ends with exit code 1, the
// program when it is the main thread.
[[noreturn]] void OnTerminate() {
  if (!terminating.exchange(true)) {
    std::exception_ptr error = std::current_exception();
    if (!error) error = std::make_exception_ptr(EProgramTermination("Program terminated: std::terminate"));
    ReportEscapedException(error, rkGeneral);
  }
  const ManagerState* state = State();
  if (state != nullptr && GetCurrentThreadId() != state->main_thread_id) {
    terminating.store(false);
    ExitThread(1);
  }
  ExitProcess(1);
}

void OnAbortSignal(int) {
  if (!terminating.exchange(true)) {
    ReportEscapedException(std::make_exception_ptr(EProgramTermination("Abnormal program termination")), rkGeneral);
  }
  // The C runtime ends the program when the handler returns.
}

// Windows' msvcrt.dll has it from Vista on; Wine's has not.
SetInvalidParameterHandlerProcedure InvalidParameterHandlerSetter() {
  return win::LookUpEntryPoint<std::remove_pointer_t<SetInvalidParameterHandlerProcedure>>(
      GetModuleHandleA("msvcrt.dll"), "_set_invalid_parameter_handler");
}

// The image of the module holding the subsystem, read as the module list
// reads any loaded image.
std::pair<std::uintptr_t, std::uintptr_t> ImageRange(HMODULE module) {
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  const std::optional<PeLayout> layout = ReadPeLayout(ProcessMemoryReader(), base, kThisProcessBits);
  if (!layout) return {0, 0};
  return {base, base + layout->size_of_image};
}

void HookThreadImports(HMODULE module) {
  real_create_thread = KernelProcedure<CreateThreadProcedure>("CreateThread");
  real_resume_thread = KernelProcedure<ResumeThreadProcedure>("ResumeThread");
  real_exit_thread = KernelProcedure<ExitThreadProcedure>("ExitThread");
  // Silent: a module that does not import one of them has nothing to hook.
  exceptlog::HookImport(module, "kernel32.dll", AsPointer(real_create_thread), false, true, "CreateThread",
                        AsPointer(&HookedCreateThread));
  exceptlog::HookImport(module, "kernel32.dll", AsPointer(real_resume_thread), false, true, "ResumeThread",
                        AsPointer(&HookedResumeThread));
  exceptlog::HookImport(module, "kernel32.dll", AsPointer(real_exit_thread), false, true, "ExitThread",
                        AsPointer(&HookedExitThread));
}

}  // namespace

// Called inside the C runtime (whose frames no unwinder can cross): reported
// from here, then the function returns its error as it would have.
void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, std::uintptr_t) {
  ReportEscapedException(std::make_exception_ptr(EInvalidArgument("Invalid parameter passed to a C runtime function")),
                         rkGeneral);
}

void InstallCatchPoints(ManagerState& state) {
  InstallInternalErrorReporter();
  const auto [start, end] = ImageRange(state.self.module);
  StartFaultConversion(start, end);

  gui::Application().SetExceptionHook(
      [](Component*, std::exception_ptr error) { return !ReportEscapedException(error, rkApplication); });
  SetThreadExceptionHook([](std::exception_ptr error, Thread&) { ReportEscapedException(error, rkGeneral); });

  if (!exceptlog::HookingStarted()) exceptlog::StartHooking();
  ThreadBookkeeping bookkeeping;
  bookkeeping.threads = state.threads.get();
  bookkeeping.inside_pipeline = [] {
    const TRaiseState* raise = ExistingRaiseState();
    return raise != nullptr && (raise->inside_pipeline || raise->inside_dispatcher);
  };
  bookkeeping.report_escaped = [](std::exception_ptr error) { ReportEscapedException(error, rkGeneral); };
  SetThreadBookkeeping(std::move(bookkeeping));
  HookThreadImports(state.self.module);

  previous_terminate = std::set_terminate(&OnTerminate);
  previous_abort = std::signal(SIGABRT, &OnAbortSignal);
  if (auto setter = InvalidParameterHandlerSetter()) previous_invalid_parameter = setter(&OnInvalidParameter);
}

void RemoveCatchPoints(ManagerState&) {
  if (auto setter = InvalidParameterHandlerSetter()) setter(previous_invalid_parameter);
  std::signal(SIGABRT, previous_abort == SIG_ERR ? SIG_DFL : previous_abort);
  std::set_terminate(previous_terminate);
  SetThreadBookkeeping({});
  if (exceptlog::HookingStarted()) exceptlog::StopHooking();
  SetThreadExceptionHook({});
  gui::Application().SetExceptionHook({});
  StopFaultConversion();
}

}  // namespace vellum::exceptlog

// A call of a pure virtual procedure (an object used while it is being built
// or destroyed) raises like any other error; modules that carry the subsystem
// link with --wrap=__cxa_pure_virtual.
extern "C" [[noreturn]] void __wrap___cxa_pure_virtual() {
  throw vellum::exceptlog::EAbstractError("Abstract Error");
}

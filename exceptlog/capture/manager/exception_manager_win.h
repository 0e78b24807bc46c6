// The exception manager: the subsystem's start and stop with the module, the
// entry every catch point calls, the dispatcher that runs one report at a
// time in a worker thread while the raising thread waits (and keeps its
// messages moving), and the pipeline's state that events and steps read.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "exceptlog/capture/component/exception_record.h"
#include "exceptlog/capture/manager/delivery_warning.h"
#include "exceptlog/capture/manager/notify_params_win.h"

namespace vellum::exceptlog {

class TRuzadaModuleOptions;

// Who handed the exception over: 0 threads, hooks and the unhandled-exception
// procedure; 1 the application object's message-handler catch point; 2 other
// hosts.
enum TRaiseKind : std::uint32_t { rkGeneral = 0, rkApplication = 1, rkOtherHost = 2 };
// What raised it: an ordinary raise, an exception escaping a COM method (a
// safecall method: it is reported once, then turned into the method's
// result), or one about to be caught by the runtime's own thread procedure.
enum TRaiserType : std::uint8_t { rtOrdinary = 0, rtSafeCall = 1, rtThreadProcedure = 2 };

inline constexpr char kSafeCallPrefix[] = "[SafeCall Exception]: ";

// What the module carrying the subsystem tells the start.
struct ExceptionLogModule {
  HMODULE module = nullptr;
  // True for a DLL: during its initialisation and finalisation the loader
  // lock is held and no worker thread may start.
  bool is_library = false;
  // A console program writes its reports as one line to standard output.
  bool console = false;
};

// Starts the subsystem for `module` (section "ExceptionLog.Init"): hooks,
// the module list and current options from the module's stored block, the
// main thread's record, the thread bookkeeping and the catch points. A module
// without a stored options block stays inactive. Failures raise the
// critical error.
void StartExceptionLog(const ExceptionLogModule& module);
// Waits for a running report, undoes the start (section "ExceptionLog.Done").
void StopExceptionLog();
bool ExceptionLogActive();

// Marks the end of the module's own initialisation and the start of its
// finalisation: in between, a DLL's reports run in worker threads.
void SetModuleInitializing(bool value);
void SetModuleFinalizing(bool value);
// A library's code runs outside the loader lock now (its first entry point
// call): the first moment its reports' machine facts can be gathered ahead,
// before a report needs them. Once per start; nothing when not started.
void ModuleRunsOutsideLoaderLock();

// The entry of the catch points: reports `error` (once, at its first catch
// point) unless application code or a filter says otherwise. Answers true
// when the default handling is to go on (not handled here).
bool ReportEscapedException(const std::exception_ptr& error, TRaiseKind kind, TRaiserType raiser = rtOrdinary);

// The exported entry: the exception, where it was raised (0: where the raise
// hook saw it), how it was handed over, and the module handing it over.
bool ExceptionManager(const std::exception_ptr& error, std::uintptr_t address, TRaiseKind kind, HMODULE module);

// Runs `procedure` in the thread that raised the exception being reported:
// from the worker, through the synchronisation slot, which the waiting
// raising thread empties; anywhere else directly. What it raises is
// swallowed. Every notification event is fired this way.
void RunInRaisingThread(const std::function<void()>& procedure);

// The options of the running module's record. Raises EAssertionFailed when
// the subsystem has not started.
TRuzadaModuleOptions& CurrentDeveruVuzOptions();
// The record of the running report, or nullptr between reports.
const TRuzadaExceptionRecord* CurrentExceptionRecord();

// The last delivery problem of the running report (or of the last one).
TDeveruVuzErrorCode LastDeliveryErrorCode();
std::string LastDeliveryErrorMessage();

}  // namespace vellum::exceptlog

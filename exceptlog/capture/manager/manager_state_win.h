// The exception manager's process-wide state, shared by its start and stop,
// the dispatcher, the pipeline and the catch points. Made by the start, freed
// by the stop; everything a report changes is changed under the pipeline
// lock.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "exceptlog/capture/callstack/win/modules_list_win.h"
#include "exceptlog/capture/callstack/win/threads_list_win.h"
#include "exceptlog/capture/component/exception_record.h"
#include "exceptlog/capture/manager/delivery_warning.h"
#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/capture/manager/pipeline_context.h"
#include "exceptlog/capture/manager/pipeline_rules.h"
#include "exceptlog/capture/manager/raise_state_win.h"
#include "exceptlog/capture/options/module_options_ex.h"
#include "runtime/threading/critical_section_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

class TExceptionThread;

// One exception on its way through the dispatcher and the pipeline.
struct ExceptionRun {
  std::exception_ptr error;
  const std::exception* object = nullptr;  // the raised object, when a std::exception
  std::vector<std::string> class_chain;
  std::string message;
  std::uint64_t address = 0;  // language: the return address of the raising call
  bool language = true;
  TRaiserType raiser = rtOrdinary;
  HMODULE module = nullptr;
  TRaiseKind kind = rkGeneral;
  TExceptNotifyParams params;
  DWORD raising_thread = 0;
  // The raising thread's raise state as the raise left it (its stack copy
  // above all), taken before anything else could overwrite it.
  std::unique_ptr<TRaiseState> raise;
  // Set once the raising thread has taken the window facts into `params`
  // (cursor, focused control): it takes them while the worker starts and
  // collects the call stacks, and the worker waits for them before it stops
  // any thread. No event: they were taken before the pipeline began.
  win::UniqueKernelHandle window_facts_taken;
};

// Waits until the raising thread has taken the window facts of `run`.
void WaitForWindowFacts(const ExceptionRun& run);

struct ManagerState {
  ExceptionLogModule self;
  bool forward = false;          // hand exceptions to the main module's ExceptionManager
  bool hooks_installed = false;  // the thread and runtime hooks are ours to install
  std::atomic<bool> initializing{true};
  std::atomic<bool> finalizing{false};

  CriticalSection pipeline_lock;  // outermost: ExceptionManager to the end of a report
  CriticalSection slot_lock;      // the synchronisation slot only
  const std::function<void()>* slot = nullptr;
  // Auto-reset events, so that neither side of a report waits in fixed
  // steps: the raising thread's wait wakes when the worker ends or fills the
  // slot, the worker's wait for the slot when the raising thread empties it.
  win::UniqueKernelHandle waiter_wake;
  win::UniqueKernelHandle slot_emptied;

  std::unique_ptr<TRuzadaModulesList> modules;
  std::unique_ptr<TRuzadaModuleOptionsEx> current_options;
  std::unique_ptr<TRuzadaThreadsList> threads;

  DWORD main_thread_id = 0;
  win::UniqueKernelHandle main_thread;
  std::uintptr_t main_stack_base = 0;
  SYSTEMTIME start_time{};
  std::string start_folder;

  std::atomic<int> progress{0};
  std::uint64_t last_reported_address = 0;
  int error_count = 0;
  // The dialog's copy choice: false at the start, kept from one report to the next.
  bool copy_choice = false;
  BurstList bursts;
  bool terminate_request = false;  // by the dialog or the burst check, acted on after the delivery

  TRuzadaExceptionRecord record;
  std::atomic<const TRuzadaExceptionRecord*> current_record{nullptr};
  std::atomic<DWORD> raising_thread{0};  // of the running report
  std::atomic<DWORD> worker_thread{0};   // the TExceptionThread of the running report
  // The worker that runs the reports, made by the first (under the pipeline
  // lock).
  std::unique_ptr<TExceptionThread> report_worker;

  TDeliveryError last_error;  // of the running report, or of the last one

  // The steps' gather_ahead was started (once per start).
  std::atomic<bool> gathering_started{false};

  // Reports stack overflows from a thread that has stack to spare.
  std::unique_ptr<class OverflowReporter> overflow_reporter;
};

// nullptr unless started.
ManagerState* State();

// Runs one exception through the dispatcher: the pipeline in a worker
// while the calling thread waits and runs the synchronisation slot.
bool Dispatch(ManagerState& state, ExceptionRun& run);

// The pipeline: true when the default handling is to go on.
bool RunPipeline(ManagerState& state, ExceptionRun& run);

// The internal-error reporter for failures inside the pipeline: the
// debugger line, the ".log" file beside the program and, with a debugger
// attached, the question whether to send it.
void ReportPipelineFailure(const std::exception_ptr& failure, std::uint64_t address);

// The full internal-error reporter over the hooking layer's minimal one.
void InstallInternalErrorReporter();

// Catch points the start installs and the stop removes.
void InstallCatchPoints(ManagerState& state);
void RemoveCatchPoints(ManagerState& state);

// The freeze watchdog, started with the subsystem (when the options ask for
// it) and by the running module's setters; stopped first at the stop, since
// the watchdog may itself be reporting.
void StartFreezeReporting();
void StopFreezeReporting();

// Starts the steps' gather_ahead on a thread of its own, once per start,
// when the module is not in its initialisation or finalisation (a library's
// hold the loader lock). Called where a report may come: at the end of a
// program's initialisation and at each dispatch.
void GatherAheadOnce(ManagerState& state);

// The context every pipeline step gets: the manager's events, warnings and
// post-send steps. Valid for the module's lifetime; its calls do nothing
// (or run directly) while the subsystem is stopped.
PipelineContext& ManagerPipelineContext();

// After a delivery: the burst check, then the terminate or restart asked
// for by the dialog (`request`) or by the burst. `record` is handed to the
// `atTerminating` handlers unless the dialog asked them already.
void RunPostSendSteps(ManagerState& state, const TRuzadaExceptionRecord& record, const TerminateRequest& request);

}  // namespace vellum::exceptlog

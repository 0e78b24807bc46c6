// The subsystem's start and stop with its module, and what the module's
// code asks of the running subsystem: its options and the running record.
#include "exceptlog/capture/manager/exception_manager_win.h"

#include <atomic>

#include "exceptlog/capture/callstack/win/module_record_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/hooking/internal_error.h"
#include "exceptlog/capture/manager/fault_conversion_win.h"
#include "exceptlog/capture/manager/manager_state_win.h"
#include "exceptlog/capture/manager/overflow_reporter_win.h"
#include "exceptlog/capture/manager/report_worker_win.h"
#include "exceptlog/capture/options/module_block_win.h"
#include "exceptlog/capture/web/web_host_win.h"
#include "runtime/exception.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {

namespace {

std::atomic<ManagerState*> manager_state{nullptr};

bool MainModuleCarriesStoredBlock() {
  HMODULE main = GetModuleHandleA(nullptr);
  // The file is only opened: the loader's own name does, without the long
  // path resolved component by component (milliseconds under Wine, in every
  // library's process attach).
  const auto block = ReadModuleStoredBlock(main, ModuleFileNameWithoutPrefix(LoaderModuleFileName(main)), true);
  return block.has_value() && block->HasOptions;
}

void TearDown(ManagerState& state) {
  EnableRaiseHook(false);
  StopFaultConversion();
  state.overflow_reporter.reset();
  StopWebPages();
  RemoveCatchPoints(state);
  TDeveruVuzList::Free();
  ReleaseModuleBlock();
  state.threads.reset();
  state.current_options.reset();
  state.modules.reset();
}

}  // namespace

ManagerState* State() {
  return manager_state.load();
}

bool ExceptionLogActive() {
  return State() != nullptr;
}

void SetModuleInitializing(bool value) {
  ManagerState* state = State();
  if (state == nullptr) return;
  state->initializing.store(value);
  // A program's initialisation holds no loader lock: its end is the first
  // moment to gather ahead. A library's still runs in its DllMain.
  if (!value && !state->self.is_library) GatherAheadOnce(*state);
}

void ModuleRunsOutsideLoaderLock() {
  if (ManagerState* state = State()) GatherAheadOnce(*state);
}

void SetModuleFinalizing(bool value) {
  if (ManagerState* state = State()) state->finalizing.store(value);
}

TRuzadaModuleOptions& CurrentDeveruVuzOptions() {
  ManagerState* state = State();
  if (state == nullptr || state->modules == nullptr) {
    throw EAssertionFailed("Cannot use 'CurrentDeveruVuzOptions' function without DeveruVuz activate. (ExceptionLog)");
  }
  const auto record = state->modules->Find(state->self.module);
  if (record != nullptr && record->Options != nullptr) return *record->Options;
  return *state->current_options;
}

const TRuzadaExceptionRecord* CurrentExceptionRecord() {
  const ManagerState* state = State();
  return state != nullptr ? state->current_record.load() : nullptr;
}

void StartExceptionLog(const ExceptionLogModule& module) {
  if (State() != nullptr) return;
  exceptlog::RunCriticalSection("ExceptionLog.Init", [&] {
    auto state = std::make_unique<ManagerState>();
    state->self = module;
    state->forward = module.module != GetModuleHandleA(nullptr) && MainModuleCarriesStoredBlock();
    // The C++ runtime is linked into every module: the hooks are always ours.
    state->hooks_installed = true;
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    state->start_folder = folder;
    GetLocalTime(&state->start_time);

    state->modules = std::make_unique<TRuzadaModulesList>();
    const auto record = state->modules->FindOrCreate(module.module);
    if (record == nullptr || record->Options == nullptr) return;  // no stored options: inactive
    state->current_options = std::make_unique<TRuzadaModuleOptionsEx>(record->FileName, true, ModuleBlockPublisher());
    state->current_options->Assign(record->Options.get());
    state->current_options->SetModuleFileName(record->FileName);
    CreateEmptyModuleBlock();
    TDeveruVuzList::Create();

    state->waiter_wake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    state->slot_emptied.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!state->waiter_wake || !state->slot_emptied) win::RaiseLastOSError("CreateEvent");
    // A 64-bit exception frame alone takes more than a page: the starting
    // thread keeps stack in reserve for reporting its own overflow (a
    // system that ignores the request raises it with what is left).
    if constexpr (sizeof(void*) == 8) {
      ULONG guarantee = 32 * 1024;
      SetThreadStackGuarantee(&guarantee);
    }
    state->main_thread_id = GetCurrentThreadId();
    state->main_thread.reset(DuplicateThreadHandle(GetCurrentThread()));
    state->main_stack_base = CurrentStackBase();
    state->threads = std::make_unique<TRuzadaThreadsList>();
    TRuzadaThreadRecord* main = state->threads->NewRecord();
    main->ThreadId = state->main_thread_id;
    main->Handle = DuplicateThreadHandle(GetCurrentThread());
    main->StackBase = state->main_stack_base;

    ManagerState& installed = *state;
    installed.overflow_reporter = std::make_unique<OverflowReporter>(installed);
    manager_state.store(state.release());
    if (installed.hooks_installed) {
      InstallCatchPoints(installed);
      EnableRaiseHook(true);
      StartWebPages({.facts = {module.module, module.is_library, module.console}, .keep_page_file = [] {
                       const ManagerState* state = State();
                       return state != nullptr && state->current_options->SendFlags().Contains(sfLastHtmlPage);
                     }});
    }
    StartFreezeReporting();
  });
}

void StopExceptionLog() {
  ManagerState* state = State();
  if (state == nullptr) return;
  exceptlog::RunCriticalSection("ExceptionLog.Done", [&] {
    // First: the watchdog may be the one reporting, and it reads the state.
    StopFreezeReporting();
    {
      CriticalSectionLock wait_for_running_report(state->pipeline_lock);
      state->report_worker.reset();  // no report runs: the worker's pool closes
    }
    manager_state.store(nullptr);
    std::unique_ptr<ManagerState> owned(state);
    TearDown(*owned);
  });
}

}  // namespace vellum::exceptlog

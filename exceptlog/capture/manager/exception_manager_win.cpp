#include "exceptlog/capture/manager/exception_manager_win.h"

#include <atomic>
#include <cstring>

#include "exceptlog/capture/callstack/win/module_record_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/freeze/freeze_watchdog_win.h"
#include "exceptlog/capture/hooking/internal_error.h"
#include "exceptlog/capture/manager/fault_conversion_win.h"
#include "exceptlog/capture/manager/manager_state_win.h"
#include "exceptlog/capture/manager/overflow_reporter_win.h"
#include "exceptlog/capture/options/module_block_win.h"
#include "exceptlog/capture/web/web_host_win.h"
#include "runtime/exception.h"
#include "runtime/strings/string_utils.h"
#include "runtime/threading/thread_win.h"

namespace vellum::exceptlog {

namespace {

std::atomic<ManagerState*> manager_state{nullptr};
std::atomic<bool> send_dialog_shows_errors{false};

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

// The worker that runs one report while the raising thread waits. Whoever
// claims the report first runs it: normally the worker; the raising thread
// when the worker has not started after kWorkerStartLimit, which happens when
// the raising thread holds the loader lock (an exception inside another
// module's initialisation) and no thread can start until it lets go.
class TExceptionThread final : public Thread {
 public:
  TExceptionThread(ManagerState& state, ExceptionRun& run) : state_(state), run_(run) {}
  ~TExceptionThread() override { TerminateAndWait(); }

  bool Started() const { return started_.load(); }
  bool Executing() const { return executing_.load(); }
  bool Result() const { return result_; }
  bool Claim() { return !claimed_.exchange(true); }

 protected:
  void Execute() override {
    started_.store(true);
    if (!Claim()) return;  // the raising thread ran the report itself
    state_.worker_thread.store(GetCurrentThreadId());
    result_ = RunPipeline(state_, run_);
    state_.worker_thread.store(0);
    executing_.store(false);
  }

 private:
  ManagerState& state_;
  ExceptionRun& run_;
  std::atomic<bool> started_{false};
  std::atomic<bool> claimed_{false};
  std::atomic<bool> executing_{true};
  bool result_ = true;
};

constexpr DWORD kWorkerStartLimit = 2000;

void RunSlot(ManagerState& state) {
  const std::function<void()>* procedure = nullptr;
  {
    CriticalSectionLock lock(state.slot_lock);
    procedure = state.slot;
  }
  if (procedure == nullptr) return;
  try {
    (*procedure)();
  } catch (...) {
  }
  CriticalSectionLock lock(state.slot_lock);
  state.slot = nullptr;
}

// The main thread keeps its windows painted while it waits, but takes no
// user input: the program is in the middle of a report. A quit message is
// kept for afterwards instead of ending the wait's message loop.
void PumpWhileWaiting(bool& quit_seen, WPARAM& quit_code) {
  MSG message;
  for (int i = 0; i < kMessagesPerWait && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    switch (ClassifyWaitingMessage(message.message)) {
      case WaitingMessage::kDispatch:
        TranslateMessage(&message);
        DispatchMessageA(&message);
        break;
      case WaitingMessage::kDropWithBeep: MessageBeep(0); break;
      case WaitingMessage::kDropSilently:
        quit_seen = true;
        quit_code = message.wParam;
        break;
    }
  }
}

BOOL CALLBACK FindMainWindow(HWND window, LPARAM parameter) {
  auto* found = reinterpret_cast<HWND*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == nullptr) {
    *found = window;
    return FALSE;
  }
  return TRUE;
}

void BringMainWindowForward(ManagerState& state) {
  HWND window = nullptr;
  EnumThreadWindows(state.main_thread_id, &FindMainWindow, reinterpret_cast<LPARAM>(&window));
  if (window == nullptr) return;
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}

void FillActiveControl(ManagerState& state, TExceptNotifyParams& params) {
  CURSORINFO cursor{};
  cursor.cbSize = sizeof cursor;
  if (GetCursorInfo(&cursor) && (cursor.flags & CURSOR_SHOWING) != 0) params.Cursor = cursor.hCursor;
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(state.main_thread_id, &info) || info.hwndFocus == nullptr) return;
  char class_name[256] = {};
  GetClassNameA(info.hwndFocus, class_name, sizeof class_name);
  params.FocusedWindow = info.hwndFocus;
  params.ActiveControlClass = class_name;
  char text[1024] = {};
  DWORD_PTR length = 0;
  // A hung window must not hold the report up.
  SendMessageTimeoutA(info.hwndFocus, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 500,
                      &length);
  params.ActiveControlText = text;
  const LONG style = GetWindowLongA(info.hwndFocus, GWL_STYLE);
  // Any edit control class (the system's, a rich edit, a library's own) may
  // hold a password.
  if (UpperCase(Trim(class_name)).find("EDIT") != std::string::npos && (style & ES_PASSWORD) != 0) {
    params.ActiveControlText.assign(params.ActiveControlText.size(), '*');
  }
}

}  // namespace

bool Dispatch(ManagerState& state, ExceptionRun& run) {
  if (GetCurrentThreadId() == state.worker_thread.load()) {
    // The pipeline itself failed: waiting for the lock its own raising
    // thread holds would never end.
    ReportPipelineFailure(run.error, run.address);
    return true;
  }
  CriticalSectionLock lock(state.pipeline_lock);
  TRaiseState& own = CurrentRaiseState();
  if (own.inside_dispatcher) return true;  // a second exception while this thread reports
  own.inside_dispatcher = true;
  bool result = true;
  try {
    if (run.message.rfind(kSafeCallPrefix, 0) == 0) {
      result = false;  // reported when it was first raised
    } else if (state.current_options != nullptr && state.current_options->Enabled()) {
      if (run.kind == rkApplication || (run.kind == rkGeneral && IsGuiProgram(state.self.console))) {
        BringMainWindowForward(state);
      }
      run.params.ThreadId = run.raising_thread;
      FillActiveControl(state, run.params);
      if (state.self.is_library && (state.initializing.load() || state.finalizing.load())) {
        // Under the loader lock no thread may start.
        state.raising_thread.store(GetCurrentThreadId());
        result = RunPipeline(state, run);
      } else {
        state.raising_thread.store(GetCurrentThreadId());
        auto worker = std::make_unique<TExceptionThread>(state, run);
        worker->SetPriority(tpHighest);
        worker->Start();
        const bool main_thread = GetCurrentThreadId() == state.main_thread_id;
        const DWORD started_waiting = GetTickCount();
        bool quit_seen = false;
        WPARAM quit_code = 0;
        bool ran_here = false;
        while (worker->Executing()) {
          if (main_thread) PumpWhileWaiting(quit_seen, quit_code);
          RunSlot(state);
          if (!worker->Started() && GetTickCount() - started_waiting > kWorkerStartLimit && worker->Claim()) {
            ran_here = true;
            result = RunPipeline(state, run);
            break;
          }
          Sleep(kWaitStepMilliseconds);
        }
        if (ran_here) {
          // The worker starts once the loader lock is free, finds the report
          // claimed and ends; it frees itself then.
          worker->SetFreeOnTerminate(true);
          worker.release();
        } else {
          worker->WaitFor();
          result = worker->Result();
        }
        if (quit_seen) PostQuitMessage(static_cast<int>(quit_code));
      }
    }
  } catch (...) {
    ReportPipelineFailure(std::current_exception(), run.address);
  }
  state.raising_thread.store(0);
  state.current_record.store(nullptr);
  ClearRaise(own);
  if (run.raiser == rtSafeCall) {
    if (const auto* ours = dynamic_cast<const Exception*>(run.object)) {
      auto* writable = const_cast<Exception*>(ours);
      if (writable->Message().rfind(kSafeCallPrefix, 0) != 0)
        writable->SetMessage(kSafeCallPrefix + writable->Message());
    }
  }
  own.inside_dispatcher = false;
  return result;
}

namespace {

using ExportedExceptionManager = BOOL WINAPI(const void* exception, DWORD address, DWORD kind, HMODULE module);

// Where the catch point called from: the report of an exception the raise
// hook did not see starts there.
struct CallerPosition {
  std::uint32_t address = 0;
  std::uint32_t stack_position = 0;
};

#define VELLUM_CALLER_POSITION()                                                                     \
  CallerPosition {                                                                                   \
    static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))),       \
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) + 8) \
  }

bool Manage(const std::exception_ptr& error, std::uint32_t address, TRaiseKind kind, HMODULE module, TRaiserType raiser,
            CallerPosition caller) {
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

ManagerState* State() {
  return manager_state.load();
}

bool ExceptionLogActive() {
  return State() != nullptr;
}

void SetModuleInitializing(bool value) {
  if (ManagerState* state = State()) state->initializing.store(value);
}

void SetModuleFinalizing(bool value) {
  if (ManagerState* state = State()) state->finalizing.store(value);
}

__attribute__((noinline, optimize("no-omit-frame-pointer"))) bool ReportEscapedException(
    const std::exception_ptr& error, TRaiseKind kind, TRaiserType raiser) {
  const ManagerState* state = State();
  return Manage(error, 0, kind, state != nullptr ? state->self.module : nullptr, raiser, VELLUM_CALLER_POSITION());
}

__attribute__((noinline, optimize("no-omit-frame-pointer"))) bool ExceptionManager(const std::exception_ptr& error,
                                                                                   std::uint32_t address,
                                                                                   TRaiseKind kind, HMODULE module) {
  return Manage(error, address, kind, module, rtOrdinary, VELLUM_CALLER_POSITION());
}

void RunInRaisingThread(const std::function<void()>& procedure) {
  ManagerState* state = State();
  const DWORD raising = state != nullptr ? state->raising_thread.load() : 0;
  if (state != nullptr && state->current_record.load() != nullptr && raising != 0 && raising != GetCurrentThreadId()) {
    {
      CriticalSectionLock lock(state->slot_lock);
      state->slot = &procedure;
    }
    for (;;) {
      {
        CriticalSectionLock lock(state->slot_lock);
        if (state->slot == nullptr) break;
      }
      Sleep(kWaitStepMilliseconds);
    }
    return;
  }
  try {
    procedure();
  } catch (...) {
  }
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

void SetSendDialogShowsErrors(bool value) {
  send_dialog_shows_errors.store(value);
}

void ReportDeliveryWarning(TDeveruVuzErrorCode code, std::string_view section, const std::exception_ptr& failure) {
  ReportDeliveryWarningMessage(code, FormatDeliveryWarningMessage(section, failure));
}

void ReportDeliveryWarningMessage(TDeveruVuzErrorCode code, const std::string& message) {
  std::uint32_t address = 0;
  if (ManagerState* state = State()) {
    state->last_error = {code, message};
    address = state->record.RaiseAddress;
  }
  OutputDebugStringA(FormatDeliveryWarningLine(code, address, message).c_str());
  if (DeliveryWarningIsShown(code, send_dialog_shows_errors.load())) {
    MessageBoxA(nullptr, message.c_str(), "Error.", kDeliveryWarningBoxStyle);
  }
}

TDeveruVuzErrorCode LastDeliveryErrorCode() {
  const ManagerState* state = State();
  return state != nullptr ? state->last_error.Code : eeNone;
}

std::string LastDeliveryErrorMessage() {
  const ManagerState* state = State();
  return state != nullptr ? state->last_error.Message : std::string();
}

// --- the freeze watchdog ------------------------------------------------------

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
  run.address = context.Eip;
  run.language = false;
  run.kind = rkGeneral;
  run.module = state.self.module;
  run.raising_thread = state.main_thread_id;
  run.raise = std::make_unique<TRaiseState>();
  run.raise->raise_address = context.Eip;
  run.raise->stack_position = context.Esp;
  run.raise->stack_top = state.main_stack_base;
  run.raise->language = false;
  run.raise->context = context;
  run.raise->context_valid = true;
  run.params.CpuContext = &run.raise->context;
  run.params.StackPosition = context.Esp;
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

// --- start and stop ---------------------------------------------------------

namespace {

bool MainModuleCarriesStoredBlock() {
  HMODULE main = GetModuleHandleA(nullptr);
  const auto block = ReadModuleStoredBlock(main, LoadedModuleFileName(main), true);
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
    SetFreezeWatchdogControl({&IsRunningModuleOptions, &StartWatchdogWhenAsked, &StopFreezeWatchdog});
    StartWatchdogWhenAsked();
  });
}

void StopExceptionLog() {
  ManagerState* state = State();
  if (state == nullptr) return;
  exceptlog::RunCriticalSection("ExceptionLog.Done", [&] {
    // First: the watchdog may be the one reporting, and it reads the state.
    SetFreezeWatchdogControl({});
    StopFreezeWatchdog();
    { CriticalSectionLock wait_for_running_report(state->pipeline_lock); }
    manager_state.store(nullptr);
    std::unique_ptr<ManagerState> owned(state);
    TearDown(*owned);
  });
}

}  // namespace vellum::exceptlog

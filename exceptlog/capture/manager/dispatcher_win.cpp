// The dispatcher: one report at a time, run by a worker thread while the
// raising thread waits, keeps its messages moving and runs the handlers the
// worker hands it through the synchronisation slot.
#include <windows.h>

#include "exceptlog/capture/manager/manager_state_win.h"
#include "exceptlog/capture/manager/report_worker_win.h"
#include "exceptlog/capture/web/web_host_win.h"
#include "runtime/exception.h"
#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

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
  {
    CriticalSectionLock lock(state.slot_lock);
    state.slot = nullptr;
  }
  SetEvent(state.slot_emptied.get());
}

// Until the worker ends its job, fills the slot, or (on the main thread) a
// message arrives; at most one wait step, which bounds what a missed wake
// can cost.
void WaitForWorker(const ManagerState& state, const TExceptionThread& worker, bool main_thread) {
  const HANDLE wake[] = {state.waiter_wake.get(), worker.Finished()};
  if (main_thread) {
    MsgWaitForMultipleObjects(2, wake, FALSE, kWaitStepMilliseconds, QS_ALLINPUT);
  } else {
    WaitForMultipleObjects(2, wake, FALSE, kWaitStepMilliseconds);
  }
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

// What the report says of the program's windows, taken by the raising
// thread: the main window brought forward, the cursor and the focused
// control. The worker is told when they are there, however this ends.
void TakeWindowFacts(ManagerState& state, ExceptionRun& run) {
  struct Told {
    HANDLE event;
    ~Told() {
      if (event != nullptr) SetEvent(event);
    }
  } told{run.window_facts_taken.get()};
  if (run.kind == rkApplication || (run.kind == rkGeneral && IsGuiProgram(state.self.console))) {
    BringMainWindowForward(state);
  }
  FillActiveControl(state, run.params);
}

// The report in the worker while this thread waits: the main thread keeps
// its windows painted, every waiting thread runs the handlers the worker
// hands it. When no worker takes the report in time, this thread runs it
// itself. The window facts are taken here while the worker takes the report
// and collects the call stacks.
bool RunInWorker(ManagerState& state, ExceptionRun& run) {
  run.window_facts_taken.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  // Without the event the worker could not be told: the facts come first.
  if (!run.window_facts_taken) TakeWindowFacts(state, run);
  TExceptionThread* worker = TExceptionThread::For(state);
  if (worker == nullptr) {
    if (run.window_facts_taken) TakeWindowFacts(state, run);
    return RunPipeline(state, run);
  }
  ReportJob job(state, run);
  worker->Submit(job);
  if (run.window_facts_taken) TakeWindowFacts(state, run);
  const bool main_thread = GetCurrentThreadId() == state.main_thread_id;
  const DWORD started_waiting = GetTickCount();
  bool quit_seen = false;
  WPARAM quit_code = 0;
  bool ran_here = false;
  bool result = true;
  while (job.executing.load()) {
    if (main_thread) PumpWhileWaiting(quit_seen, quit_code);
    RunSlot(state);
    if (!job.started.load() && GetTickCount() - started_waiting > kWorkerStartLimit && job.Claim()) {
      ran_here = true;
      result = RunPipeline(state, run);
      break;
    }
    WaitForWorker(state, *worker, main_thread);
  }
  // No code of this module runs on the worker's thread after this.
  worker->WaitUntilReturned();
  if (!ran_here) result = job.result;
  if (quit_seen) PostQuitMessage(static_cast<int>(quit_code));
  return result;
}

}  // namespace

void WaitForWindowFacts(const ExceptionRun& run) {
  if (run.window_facts_taken) WaitForSingleObject(run.window_facts_taken.get(), INFINITE);
}

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
      run.params.ThreadId = run.raising_thread;
      state.raising_thread.store(GetCurrentThreadId());
      // Under the loader lock no thread may start.
      // Under the loader lock no thread may start, and a parked worker would
      // stop at the first thing of the loader it asks for (an exception in
      // another module's initialisation): this thread runs the report.
      const bool loader_lock = (state.self.is_library && (state.initializing.load() || state.finalizing.load())) ||
                               ThisThreadHoldsLoaderLock();
      if (loader_lock) {
        TakeWindowFacts(state, run);
        result = RunPipeline(state, run);
      } else {
        // A library's first moment outside its DllMain may be its first
        // report: the next reports find the machine's facts gathered.
        GatherAheadOnce(state);
        result = RunInWorker(state, run);
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

void RunInRaisingThread(const std::function<void()>& procedure) {
  ManagerState* state = State();
  const DWORD raising = state != nullptr ? state->raising_thread.load() : 0;
  if (state != nullptr && state->current_record.load() != nullptr && raising != 0 && raising != GetCurrentThreadId()) {
    {
      CriticalSectionLock lock(state->slot_lock);
      state->slot = &procedure;
    }
    SetEvent(state->waiter_wake.get());
    for (;;) {
      {
        CriticalSectionLock lock(state->slot_lock);
        if (state->slot == nullptr) break;
      }
      WaitForSingleObject(state->slot_emptied.get(), kWaitStepMilliseconds);
    }
    return;
  }
  try {
    procedure();
  } catch (...) {
  }
}

}  // namespace vellum::exceptlog

#include "exceptlog/capture/freeze/freeze_watchdog_win.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "exceptlog/capture/freeze/freeze_rules.h"
#include "runtime/threading/critical_section_win.h"
#include "runtime/threading/thread_win.h"
#include "runtime/win/cpu_context_win.h"

namespace vellum::exceptlog {

namespace {

// Pairs SuspendThread with ResumeThread: the main thread is resumed on every
// way out of a report.
class SuspendedThread {
 public:
  // `marker` tells a stop that kills the watchdog whether the thread is
  // still to be resumed.
  SuspendedThread(HANDLE thread, std::atomic<bool>& marker) : thread_(thread), marker_(marker) {
    suspended_ = SuspendThread(thread_) != static_cast<DWORD>(-1);
    marker_.store(suspended_);
  }
  ~SuspendedThread() {
    if (suspended_ && marker_.exchange(false)) ResumeThread(thread_);
  }
  SuspendedThread(const SuspendedThread&) = delete;
  SuspendedThread& operator=(const SuspendedThread&) = delete;
  bool Suspended() const { return suspended_; }

 private:
  HANDLE thread_;
  std::atomic<bool>& marker_;
  bool suspended_ = false;
};

BOOL CALLBACK TakeMainWindow(HWND window, LPARAM parameter) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  const HWND owner = GetWindow(window, GW_OWNER);
  const LONG extended = GetWindowLongA(window, GWL_EXSTYLE);
  const TopLevelWindowFacts facts{
      .of_this_process = process == GetCurrentProcessId(),
      .visible = IsWindowVisible(window) != FALSE,
      .owned = owner != nullptr && owner != GetDesktopWindow(),
      .tool_window = (extended & WS_EX_TOOLWINDOW) != 0,
      .app_window = (extended & WS_EX_APPWINDOW) != 0,
  };
  if (!IsMainWindowCandidate(facts)) return TRUE;
  *reinterpret_cast<HWND*>(parameter) = window;
  return FALSE;
}

class TFreezeThread final : public Thread {
 public:
  explicit TFreezeThread(FreezeWatchdogSettings settings) : settings_(std::move(settings)) {}
  ~TFreezeThread() override { TerminateAndWait(); }

  const FreezeWatchdogSettings& Settings() const { return settings_; }

  // A library's stop: the thread is killed once it is outside a report, or
  // after kKillWaitLimit; a main thread it had suspended is resumed then.
  void Kill() {
    const DWORD started = GetTickCount();
    bool outside_report = false;
    while (!(outside_report = report_lock_.TryEnter()) && GetTickCount() - started < kKillWaitLimit) {
      Sleep(kFreezeProbeMilliseconds);
    }
    TerminateThread(Handle(), 1);
    WaitForSingleObject(Handle(), INFINITE);
    if (main_suspended_.exchange(false)) ResumeThread(settings_.main_thread);
    if (outside_report) report_lock_.Leave();
  }

 protected:
  void Execute() override {
    while (!Terminated()) {
      const HWND window = WaitForMainWindow();
      if (window == nullptr) return;
      Watch(window);
    }
  }

 private:
  HWND WaitForMainWindow() {
    while (!Terminated()) {
      if (HWND window = FindFreezeMainWindow()) return window;
      Sleep(kFreezeProbeMilliseconds);
    }
    return nullptr;
  }

  // Returns when told to stop or when the window is gone: a program whose
  // first window was a splash screen is watched through its next one.
  void Watch(HWND window) {
    FreezeCounter counter(settings_.freeze_seconds());
    while (!Terminated()) {
      DWORD_PTR answer = 0;
      const bool timed_out =
          SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, kFreezeProbeMilliseconds, &answer) == 0;
      if (!IsWindow(window)) return;
      if (!timed_out) {
        counter.Probe(true);
        for (int step = 0; step < kFreezeRestSteps && !Terminated(); ++step) Sleep(kFreezeProbeMilliseconds);
        // The limit may have changed while the window answered.
        counter = FreezeCounter(settings_.freeze_seconds());
        continue;
      }
      if (counter.Probe(false) && !Terminated()) ReportMainThread();
    }
  }

  void ReportMainThread() {
    CriticalSectionLock lock(report_lock_);
    const SuspendedThread main(settings_.main_thread, main_suspended_);
    if (!main.Suspended()) return;
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
    if (!GetThreadContext(settings_.main_thread, &context)) return;
    if (win::InstructionPointer(context) == 0 || win::StackPointer(context) == 0) return;
    try {
      settings_.report(context);
    } catch (...) {
      // The reporter reports its own failures; the watchdog goes on.
    }
  }

  // A report that has not ended in this time is stuck (it may wait for the
  // loader lock the stopping thread holds).
  static constexpr DWORD kKillWaitLimit = 5000;

  FreezeWatchdogSettings settings_;
  // Held from the main thread's suspension to its resumption.
  CriticalSection report_lock_;
  std::atomic<bool> main_suspended_{false};
};

struct Watchdog {
  std::mutex lock;  // start against stop
  std::atomic<bool> starting{false};
  std::unique_ptr<TFreezeThread> thread;
};

Watchdog& TheWatchdog() {
  static Watchdog watchdog;
  return watchdog;
}

}  // namespace

HWND FindFreezeMainWindow() {
  HWND window = nullptr;
  EnumWindows(&TakeMainWindow, reinterpret_cast<LPARAM>(&window));
  return window;
}

void StartFreezeWatchdog(FreezeWatchdogSettings settings) {
  Watchdog& watchdog = TheWatchdog();
  // An options change made while the watchdog is being started (its
  // settings read the options) must not start a second one.
  if (watchdog.starting.exchange(true)) return;
  try {
    std::lock_guard guard(watchdog.lock);
    if (watchdog.thread == nullptr) {
      auto thread = std::make_unique<TFreezeThread>(std::move(settings));
      thread->SetPriority(tpNormal);
      thread->Start();
      watchdog.thread = std::move(thread);
    }
  } catch (...) {
    watchdog.starting.store(false);
    throw;
  }
  watchdog.starting.store(false);
}

void StopFreezeWatchdog() {
  Watchdog& watchdog = TheWatchdog();
  std::unique_ptr<TFreezeThread> thread;
  {
    std::lock_guard guard(watchdog.lock);
    thread = std::move(watchdog.thread);
  }
  if (thread == nullptr) return;
  thread->Terminate();
  if (GetCurrentThreadId() == thread->ThreadID()) {
    // Stopped from its own report (a notification handler switched the
    // option off): it ends after the report and frees itself then.
    thread->SetFreeOnTerminate(true);
    thread.release();
    return;
  }
  if (thread->Settings().kill_at_stop) thread->Kill();
  thread.reset();  // waits for a thread that was asked to stop
}

bool FreezeWatchdogRunning() {
  Watchdog& watchdog = TheWatchdog();
  std::lock_guard guard(watchdog.lock);
  return watchdog.thread != nullptr;
}

DWORD FreezeWatchdogThreadId() {
  Watchdog& watchdog = TheWatchdog();
  std::lock_guard guard(watchdog.lock);
  return watchdog.thread != nullptr ? watchdog.thread->ThreadID() : 0;
}

}  // namespace vellum::exceptlog

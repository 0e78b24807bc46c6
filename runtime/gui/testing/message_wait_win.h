// Waiting in window tests for what happens, never for a time: a condition
// checked with a generous bound, a marker posted behind the messages under
// test (when it arrives, they were handled, so what they did not do will not
// come later), and a window tree with nothing left to paint. A quiet machine
// answers at once, a loaded one only takes longer. No test framework here,
// so that test programs and drivers without one can use it too.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

namespace vellum::gui::testing {

// Long enough for a loaded machine; reached only when a test fails.
inline constexpr DWORD kGenerousWaitMs = 10000;

// Dispatches this thread's messages until `done` answers true or `limit_ms`
// passed; answers whether `done` came true.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limit_ms = 3000) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    if (GetTickCount() - start > limit_ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// Dispatches messages for `ms` milliseconds: for spacing events in time on
// purpose (a burst inside a debounce period), not for waiting on them.
inline void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

// Waits for `done` without dispatching anything: for a thread that watches
// the windows of another thread.
inline bool WaitUntil(const std::function<bool()>& done, DWORD limit_ms = kGenerousWaitMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limit_ms) return false;
    Sleep(5);
  }
  return true;
}

// A message-only window of the thread that makes it. A marker posted to it
// leaves that thread's queue after every message posted before it (a queue
// keeps the order of posting), whichever loop dispatches them: a modal
// dialog's loop does too.
class QueueMarker {
 public:
  QueueMarker() : owner_(GetCurrentThreadId()) {
    static const ATOM atom = [] {
      WNDCLASSA window_class{};
      window_class.lpfnWndProc = &QueueMarker::Procedure;
      window_class.hInstance = GetModuleHandleA(nullptr);
      window_class.lpszClassName = "VellumTestQueueMarker";
      return RegisterClassA(&window_class);
    }();
    (void)atom;
    window_ = CreateWindowExA(0, "VellumTestQueueMarker", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~QueueMarker() { DestroyWindow(window_); }
  QueueMarker(const QueueMarker&) = delete;
  QueueMarker& operator=(const QueueMarker&) = delete;

  // Posts a marker and answers once the owning thread has dispatched it, so
  // every message posted to that thread before the call has been handled.
  // The owning thread pumps meanwhile; another thread only waits. False
  // when the marker did not come back within `limit_ms`.
  bool RoundTrip(DWORD limit_ms = kGenerousWaitMs) {
    const unsigned marker = ++posted_;
    if (!PostMessageA(window_, kMarkerMessage, 0, static_cast<LPARAM>(marker))) return false;
    const auto arrived = [&] { return seen_.load() >= marker; };
    return GetCurrentThreadId() == owner_ ? PumpUntil(arrived, limit_ms) : WaitUntil(arrived, limit_ms);
  }

 private:
  static constexpr UINT kMarkerMessage = WM_APP + 0x5A1;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<QueueMarker*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == kMarkerMessage && self != nullptr) {
      self->seen_ = static_cast<unsigned>(lparam);
      return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
  }

  DWORD owner_;
  HWND window_ = nullptr;
  std::atomic<unsigned> posted_{0};
  std::atomic<unsigned> seen_{0};
};

inline BOOL CALLBACK NoteUnpaintedChild(HWND child, LPARAM unpainted) {
  if (GetUpdateRect(child, nullptr, FALSE)) *reinterpret_cast<bool*>(unpainted) = true;
  return TRUE;
}

// Whether `window` and every window inside it have painted all they were
// asked to (no update region left).
inline bool PaintedThrough(HWND window) {
  bool unpainted = GetUpdateRect(window, nullptr, FALSE) != FALSE;
  EnumChildWindows(window, &NoteUnpaintedChild, reinterpret_cast<LPARAM>(&unpainted));
  return !unpainted;
}

}  // namespace vellum::gui::testing

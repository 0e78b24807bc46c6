// Idle processing and hint tracking for band forms. The host's message loop
// is not ours, so the work the class library does in its own loop (action
// updates when idle, mouse enter/leave, hints) runs from thread hooks, which
// are installed for a thread only while it has at least one band form.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "runtime/threading/critical_section_win.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/bandform/base_band_form_win.h"

namespace vellum::shellext {

struct TThreadHook {
  DWORD thread_id = 0;
  std::vector<DUduzBaseBandForm*> forms;
  win::UniqueWindowsHook idle_hook;
  win::UniqueWindowsHook mouse_hook;
  win::UniqueWindowsHook keyboard_hook;
};

// The one control under the mouse, subclassed so that its destruction ends
// the tracking.
class TControlHook {
 public:
  ~TControlHook() { Release(); }
  HWND Tracked() const { return window_; }
  // Sends CM_MOUSELEAVE to the old control, CM_MOUSEENTER to the new one.
  void Track(HWND window);
  void Release();

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
  HWND window_ = nullptr;
  WNDPROC previous_ = nullptr;
};

class DUduzHookUpdater {
 public:
  // Made on first use; DestroyInstance (the server's tear-down, after the
  // band forms are gone) removes every hook that is left.
  static DUduzHookUpdater& Instance();
  static void DestroyInstance();
  ~DUduzHookUpdater();

  void Register(DUduzBaseBandForm& form);
  void Unregister(DUduzBaseBandForm& form);

  // The hook procedures (public so that tests can call the idle one, which
  // Wine never fires).
  static LRESULT CALLBACK ForegroundIdleProc(int code, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK MouseProc(int code, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK KeyboardProc(int code, WPARAM wparam, LPARAM lparam);

  // For tests: the calling thread's record, or null.
  const TThreadHook* ThreadRecord(DWORD thread_id);
  TControlHook& ControlHook() { return control_hook_; }

 private:
  DUduzHookUpdater() = default;
  TThreadHook* Find(DWORD thread_id);

  CriticalSection lock_;
  std::vector<std::unique_ptr<TThreadHook>> threads_;
  TControlHook control_hook_;
};

// Hidden utility window that runs the class library's pending cross-thread
// calls when a worker wakes it with WM_USER.
class TSyncHelper {
 public:
  // Made on first use; DestroyInstance destroys the window (its class goes
  // with the module's other window classes, gui::UnregisterWindowClasses).
  static TSyncHelper& Instance();
  static void DestroyInstance();
  ~TSyncHelper();
  HWND Window() const { return window_; }

 private:
  TSyncHelper();
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
  HWND window_ = nullptr;
};

}  // namespace vellum::shellext

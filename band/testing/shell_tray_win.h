// A taskbar that hosts no desk bands, as far as a program looking at its
// windows can tell: a top-level "Shell_TrayWnd" with the notification area
// "TrayNotifyWnd" at its far end and no rebar for bands. The taskbar
// panel's tests and the demo's panel mode put the panel on it.
#pragma once

#include <windows.h>

namespace vellum::band::testing {

class ShellTray {
 public:
  // Made on the calling thread, which must pump its messages; shown at once.
  explicit ShellTray(const RECT& bounds);
  ~ShellTray();
  ShellTray(const ShellTray&) = delete;
  ShellTray& operator=(const ShellTray&) = delete;

  HWND window() const { return window_; }
  HWND notify_area() const { return notify_; }

  // Moves and sizes the taskbar and lays its notification area out again
  // (at the right end, or at the bottom of a taskbar taller than wide).
  // Any thread may call it.
  void MoveTo(const RECT& bounds) const;

  // What a starting Explorer tells every top-level window.
  static void BroadcastTaskbarCreated();

  static constexpr int kNotifyLength = 150;

 private:
  HWND window_ = nullptr;
  HWND notify_ = nullptr;
};

}  // namespace vellum::band::testing

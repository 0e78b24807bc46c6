// A timer component. Every change of Enabled or Interval restarts the
// period, so a handler that disables the timer and enables it again gets a
// one-shot, restartable timer.
#pragma once

#include <windows.h>

#include <functional>

#include "runtime/component/component.h"

namespace vellum::gui {

class TTimer : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  TTimer();
  ~TTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned value);

  std::function<void(Component& sender)> OnTimer;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
  void UpdateTimer();

  bool enabled_ = true;
  unsigned interval_ = 1000;
  HWND window_ = nullptr;  // hidden message-only window that receives WM_TIMER
};

}  // namespace vellum::gui

#include "runtime/gui/timer_win.h"

#include "runtime/component/class_builder.h"
#include "runtime/gui/application_win.h"
#include "runtime/gui/control_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::gui {

namespace {

const char kTimerClass[] = "TVellumTimerWindow";

void EnsureTimerClass() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = ModuleInstance();
  window_class.lpszClassName = kTimerClass;
  RegisterModuleWindowClass(window_class);
}

}  // namespace

const ClassInfo& TTimer::StaticClass() {
  static const ClassInfo info = ClassBuilder<TTimer>("TTimer", &Component::StaticClass())
                                    .Property("Enabled", &TTimer::Enabled, &TTimer::SetEnabled)
                                    .Property("Interval", &TTimer::Interval, &TTimer::SetInterval)
                                    .Event("OnTimer", &TTimer::OnTimer)
                                    .Build();
  return info;
}

TTimer::TTimer() {
  EnsureTimerClass();
  window_ = CreateWindowExA(0, kTimerClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ModuleInstance(), nullptr);
  if (window_ == nullptr) win::RaiseLastOSError("CreateWindowExA");
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TTimer::WindowProc));
}

TTimer::~TTimer() {
  KillTimer(window_, 1);
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void TTimer::SetEnabled(bool value) {
  enabled_ = value;
  UpdateTimer();
}

void TTimer::SetInterval(unsigned value) {
  interval_ = value;
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  KillTimer(window_, 1);
  if (enabled_ && interval_ != 0) {
    if (SetTimer(window_, 1, interval_, nullptr) == 0) win::RaiseLastOSError("SetTimer");
  }
}

LRESULT CALLBACK TTimer::WindowProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* timer = reinterpret_cast<TTimer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (msg == WM_TIMER && timer != nullptr) {
    try {
      if (timer->OnTimer) timer->OnTimer(*timer);
    } catch (...) {
      Application().HandleException(timer, std::current_exception());
    }
    return 0;
  }
  return DefWindowProcA(window, msg, wparam, lparam);
}

}  // namespace vellum::gui

#include "tools/vellum_standin/standin_window_win.h"

#include <string>

#include "band/testing/standin_commands.h"
#include "runtime/win/win_error_win.h"
#include "tools/vellum_standin/host_link_registry_win.h"

namespace vellum::standin {

// The commands and the command line the stand-in shares with the tests that drive it.
using namespace band::testing;

StandinWindow::StandinWindow(const StandinOptions& options, EventLog& log)
    : log_(log), bar_([this] { log_.Write("bar-destroyed"); }) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &StandinWindow::WindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = options.class_name.c_str();
  if (RegisterClassA(&window_class) == 0) win::RaiseLastOSError("RegisterClassA");
  // A top-level window, never shown: FindWindowA does not see message-only
  // windows, and the band finds Vellum by this window's name.
  window_.reset(CreateWindowExA(WS_EX_TOOLWINDOW, options.class_name.c_str(), kHiddenWindowName, WS_OVERLAPPED, 0, 0, 0,
                                0, nullptr, nullptr, GetModuleHandleA(nullptr), this));
  if (!window_) win::RaiseLastOSError("CreateWindowExA");
}

void StandinWindow::AnswerFromRegistry() {
  try {
    AnswerTo(ReadHostLinkHandle("BarHandle"));
  } catch (const Exception& error) {
    log_.Write("registry-failed " + error.Message());
  }
}

void StandinWindow::DockFromRegistry() {
  HWND panel = nullptr;
  try {
    panel = ReadHostLinkHandle("DockPanel");
    bar_.DockInto(panel);
  } catch (const Exception& error) {
    log_.Write("dock-failed " + error.Message());
    return;
  }
  log_.Write("docked " + HandleText(panel));
}

void StandinWindow::AnswerTo(HWND band_window) {
  // PostMessageA with no window posts to our own thread's queue; a handle
  // that names nothing gets no answer at all.
  if (band_window == nullptr || !IsWindow(band_window)) {
    log_.Write("answer-failed " + HandleText(band_window) + " not a window");
    return;
  }
  if (!PostMessageA(band_window, WM_HOTKEY, kHotkeyLinkOrSize, reinterpret_cast<LPARAM>(window_.get()))) {
    log_.Write("answer-failed " + HandleText(band_window) + " " + win::SystemErrorMessage(GetLastError()));
    return;
  }
  log_.Write("answer " + HandleText(band_window));
}

void StandinWindow::OnHotkey(WPARAM id, LPARAM value) {
  const auto raw = static_cast<std::uint32_t>(value);
  if (id == kHotkeyAnnounce) {
    const HWND band_window = reinterpret_cast<HWND>(value);
    log_.Write("announce " + HandleText(band_window));
    AnswerTo(band_window);
  } else if (id == kHotkeyLinkOrSize) {
    const int width = LOWORD(raw);
    const int height = HIWORD(raw);
    // Resized before the line is written, so a reader of the line finds the
    // bar at its new size.
    bar_.Resize(width, height);
    log_.Write("size " + std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(raw));
  } else {
    log_.Write("hotkey " + std::to_string(id) + " " + std::to_string(raw));
  }
}

LRESULT StandinWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_HOTKEY: OnHotkey(wparam, lparam); return 0;
    case kCommandDock: DockFromRegistry(); return 0;
    case kCommandAnswerRegistry: AnswerFromRegistry(); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcA(window_.get(), message, wparam, lparam);
}

LRESULT CALLBACK StandinWindow::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<StandinWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  // Until CreateWindowExA returns, window_ is still empty.
  if (self == nullptr || self->window_.get() != window) return DefWindowProcA(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    self->window_.release();
    return DefWindowProcA(window, message, wparam, lparam);
  }
  return self->Handle(message, wparam, lparam);
}

}  // namespace vellum::standin

#include "band/panel/taskbar_panel_win.h"

#include <windows.h>

#include <memory>
#include <string>

#include "band/panel/panel_layout.h"
#include "band/panel/panel_start_win.h"
#include "band/published_bar_win.h"
#include "band/server_module_win.h"
#include "band/vellum_desk_band_form_win.h"
#include "runtime/gui/control_win.h"
#include "runtime/gui/form_win.h"
#include "runtime/win/unique_handle_win.h"
#include "runtime/win/win_error_win.h"
#include "shellext/bandform/garbage_collector_win.h"

namespace vellum::band {

namespace {

// How often the panel looks at the taskbar. The taskbar belongs to another
// process and tells nobody when it moves; the system's location events would,
// but Wine raises none, and a look costs two rectangle reads.
constexpr UINT kFollowTimer = 1;
constexpr UINT kFollowMs = 100;
// How often, in looks, the published handles are read to see whether the
// desk band itself has appeared.
constexpr int kBandCheckEvery = 10;
#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using SetDpiContextFn = BOOL(WINAPI*)(HANDLE);

// Entry points of newer systems, looked up rather than linked.
template <typename Fn>
Fn User32Entry(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

// The taskbar's coordinates are physical pixels; a DPI-unaware process would
// get scaled ones and place the panel off the taskbar on a scaled display.
void BecomeDpiAware() {
  if (auto set_context = User32Entry<SetDpiContextFn>("SetProcessDpiAwarenessContext")) {
    const auto per_monitor_v2 = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-4));
    if (set_context(per_monitor_v2)) return;
  }
  SetProcessDPIAware();
}

int DpiOf(HWND window) {
  if (auto get_dpi = User32Entry<GetDpiForWindowFn>("GetDpiForWindow")) {
    if (const UINT dpi = get_dpi(window)) return static_cast<int>(dpi);
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

ScreenRect ToScreenRect(const RECT& rect) {
  return {rect.left, rect.top, rect.right, rect.bottom};
}

class TaskbarPanel {
 public:
  TaskbarPanel() : taskbar_created_(RegisterWindowMessageA("TaskbarCreated")) {
    RegisterFrameClass();
    // Tool window: no taskbar button, no Alt+Tab entry. No-activate: a click
    // does not take the focus from the user's window. Topmost: the taskbar is.
    frame_.reset(CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, kTaskbarPanelClass,
                                 "Vellum Tessera", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, 0, nullptr, nullptr,
                                 gui::ModuleInstance(), this));
    if (!frame_) win::RaiseLastOSError("CreateWindowExA");
    // The form is the band's own, host link and all; the collector owns band
    // forms and frees this one after its window goes with the frame.
    std::unique_ptr<gui::TCustomForm> created =
        gui::CreateParentedForm(TVellumDeskBandForm::StaticClass(), frame_.get());
    std::unique_ptr<shellext::DUduzBaseBandForm> form(static_cast<shellext::DUduzBaseBandForm*>(created.release()));
    form_ = static_cast<TVellumDeskBandForm*>(&shellext::DUduzGarbageCollector::Instance().Adopt(std::move(form)));
    request_ = {form_->ClientWidth(), form_->ClientHeight()};
    form_->CreateHandles();
    form_->Show();
  }
  ~TaskbarPanel() {
    // Destroyed here rather than by the handle's reset: WM_NCDESTROY clears it.
    if (frame_) DestroyWindow(frame_.get());
  }
  TaskbarPanel(const TaskbarPanel&) = delete;
  TaskbarPanel& operator=(const TaskbarPanel&) = delete;

  void Run() {
    Follow();
    SetTimer(frame_.get(), kFollowTimer, kFollowMs, nullptr);
    MSG message;
    while (frame_ && GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

 private:
  static void RegisterFrameClass() {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = &FrameProc;
    window_class.hInstance = gui::ModuleInstance();
    window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kTaskbarPanelClass;
    gui::RegisterModuleWindowClass(window_class);
  }

  static LRESULT CALLBACK FrameProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* panel = reinterpret_cast<TaskbarPanel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (panel == nullptr) return DefWindowProcA(window, msg, wparam, lparam);
    return panel->Handle(window, msg, wparam, lparam);
  }

  LRESULT Handle(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == taskbar_created_ && msg != 0) {
      // A new Explorer: its taskbar is a new window, maybe of another shape.
      placed_ = {};
      Follow();
      return 0;
    }
    switch (msg) {
      case WM_TIMER:
        if (wparam == kFollowTimer) {
          Follow();
          if (++looks_ % kBandCheckEvery == 0) StepAsideForTheDeskBand();
        }
        return 0;
      case WM_DISPLAYCHANGE:
      case WM_SETTINGCHANGE:
      case WM_DPICHANGED:
        placed_ = {};
        Follow();
        return DefWindowProcA(window, msg, wparam, lparam);
      case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
      case WM_CLOSE: DestroyWindow(window); return 0;
      case WM_NCDESTROY:
        // The frame went (closed, or the panel stepped aside): the loop ends.
        static_cast<void>(frame_.release());
        return DefWindowProcA(window, msg, wparam, lparam);
      default: return DefWindowProcA(window, msg, wparam, lparam);
    }
  }

  // Puts the panel where the taskbar has room now, or hides it while there
  // is no taskbar (Explorer restarting) or no room.
  void Follow() {
    if (!frame_) return;
    if (form_ != nullptr && form_->HandleAllocated() && !form_->Visible()) {
      // The user closed Tessera from its menu: the panel ends.
      DestroyWindow(frame_.get());
      return;
    }
    const HWND taskbar = FindShownTaskbar();
    ScreenRect wanted;
    if (taskbar != nullptr) {
      RECT bar{};
      GetWindowRect(taskbar, &bar);
      TaskbarShape shape{ToScreenRect(bar), std::nullopt, DpiOf(taskbar)};
      const HWND notify = FindWindowExA(taskbar, nullptr, kNotifyAreaClass, nullptr);
      RECT area{};
      if (notify != nullptr && IsWindowVisible(notify) && GetWindowRect(notify, &area)) {
        shape.notify_area = ToScreenRect(area);
      }
      wanted = PlacePanel(shape, request_);
    }
    if (wanted.Empty()) {
      if (IsWindowVisible(frame_.get())) ShowWindow(frame_.get(), SW_HIDE);
      placed_ = {};
      return;
    }
    if (wanted == placed_ && IsWindowVisible(frame_.get()) && !IsAbove(taskbar)) return;
    SetWindowPos(frame_.get(), HWND_TOPMOST, wanted.left, wanted.top, wanted.Width(), wanted.Height(),
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
    form_->SetBounds(0, 0, wanted.Width(), wanted.Height());
    placed_ = wanted;
  }

  // Whether `window` lies above the panel in the z-order (a taskbar that
  // made itself topmost again after the panel did).
  bool IsAbove(HWND window) const {
    int steps = 0;
    for (HWND above = GetWindow(frame_.get(), GW_HWNDPREV); above != nullptr && steps < 256;
         above = GetWindow(above, GW_HWNDPREV), ++steps) {
      if (above == window) return true;
    }
    return false;
  }

  // Where the desk band itself runs, it is the one Vellum docks into.
  void StepAsideForTheDeskBand() {
    const PublishedBar published = FindPublishedBar();
    if (published.host == BarHost::kDeskBand) DestroyWindow(frame_.get());
  }

  const UINT taskbar_created_;
  win::UniqueWindow frame_;
  TVellumDeskBandForm* form_ = nullptr;
  PanelRequest request_;
  ScreenRect placed_;
  unsigned looks_ = 0;
};

PanelOutcome RunPanel() {
  // One panel per session: the second start ends before it shows anything.
  win::UniqueKernelHandle instance(CreateMutexA(nullptr, FALSE, kPanelMutexName));
  if (!instance) win::RaiseLastOSError("CreateMutexA");
  if (GetLastError() == ERROR_ALREADY_EXISTS) return PanelOutcome::kAlreadyRunning;
  // Checked before the form exists: its creation publishes its own handles.
  if (FindPublishedBar().host == BarHost::kDeskBand) return PanelOutcome::kDeskBandLoaded;
  BecomeDpiAware();
  {
    TaskbarPanel panel;
    panel.Run();
  }
  // The form went with the frame; free it, the hooks and the classes now,
  // while this thread that made them still runs.
  TearDownBandForms();
  return PanelOutcome::kClosed;
}

}  // namespace

HWND FindShownTaskbar() {
  for (HWND taskbar = FindWindowExA(nullptr, nullptr, kTaskbarClass, nullptr); taskbar != nullptr;
       taskbar = FindWindowExA(nullptr, taskbar, kTaskbarClass, nullptr)) {
    if (IsWindowVisible(taskbar)) return taskbar;
  }
  return nullptr;
}

PanelCommand ParsePanelCommand(std::string_view command_line) {
  const auto first = command_line.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return PanelCommand::kRun;
  const auto last = command_line.find_last_not_of(" \t\r\n");
  const std::string_view word = command_line.substr(first, last - first + 1);
  auto is = [&](std::string_view option) {
    return word.size() == option.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, word.data(), static_cast<int>(word.size()), option.data(),
                          static_cast<int>(option.size())) == CSTR_EQUAL;
  };
  if (is("/install") || is("-install")) return PanelCommand::kInstall;
  if (is("/uninstall") || is("-uninstall")) return PanelCommand::kUninstall;
  return PanelCommand::kUnknown;
}

PanelOutcome RunTaskbarPanelCommand(std::string_view command_line) {
  switch (ParsePanelCommand(command_line)) {
    case PanelCommand::kInstall: InstallPanelStart(); return RunPanel();
    case PanelCommand::kUninstall:
      UninstallPanelStart();
      // The running panel goes too: the user asked for it to be gone.
      if (HWND running = FindWindowA(kTaskbarPanelClass, nullptr)) PostMessageA(running, WM_CLOSE, 0, 0);
      return PanelOutcome::kUninstalled;
    case PanelCommand::kRun: return RunPanel();
    case PanelCommand::kUnknown: break;
  }
  MessageBoxA(nullptr,
              "Unknown option. Start the panel with no option, add it to the start at logon with /install, "
              "or remove it with /uninstall.",
              "Vellum Tessera", MB_OK | MB_ICONINFORMATION);
  return PanelOutcome::kBadCommand;
}

}  // namespace vellum::band

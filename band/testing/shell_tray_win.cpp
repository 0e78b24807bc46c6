#include "band/testing/shell_tray_win.h"

#include "runtime/win/gdi_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::band::testing {

namespace {

constexpr char kTrayClass[] = "Shell_TrayWnd";
constexpr char kNotifyClass[] = "TrayNotifyWnd";

void Fill(HWND window, COLORREF color, const char* text) {
  const win::PaintScope paint(window);
  RECT client{};
  GetClientRect(window, &client);
  const win::UniqueBrush brush(CreateSolidBrush(color));
  FillRect(paint.get(), &client, brush.get());
  SetBkMode(paint.get(), TRANSPARENT);
  SetTextColor(paint.get(), RGB(255, 255, 255));
  DrawTextA(paint.get(), text, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

LRESULT CALLBACK TrayProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_PAINT) {
    Fill(window, RGB(32, 48, 72), "");
    return 0;
  }
  return DefWindowProcA(window, msg, wparam, lparam);
}

LRESULT CALLBACK NotifyProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_PAINT) {
    Fill(window, RGB(48, 72, 104), "12:00");
    return 0;
  }
  return DefWindowProcA(window, msg, wparam, lparam);
}

void Register(const char* name, WNDPROC proc) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = proc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  window_class.lpszClassName = name;
  RegisterClassA(&window_class);  // a second tray of this process finds it registered
}

}  // namespace

ShellTray::ShellTray(const RECT& bounds) {
  Register(kTrayClass, TrayProc);
  Register(kNotifyClass, NotifyProc);
  // As the real one: a tool window, no activation, above normal windows.
  window_ = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, kTrayClass, "",
                            WS_POPUP | WS_CLIPCHILDREN, bounds.left, bounds.top, bounds.right - bounds.left,
                            bounds.bottom - bounds.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  notify_ = CreateWindowExA(0, kNotifyClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, window_, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  MoveTo(bounds);
  ShowWindow(window_, SW_SHOWNOACTIVATE);
}

ShellTray::~ShellTray() {
  if (window_ != nullptr) DestroyWindow(window_);
}

void ShellTray::MoveTo(const RECT& bounds) const {
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  SetWindowPos(window_, nullptr, bounds.left, bounds.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  if (width >= height) {
    SetWindowPos(notify_, nullptr, width - kNotifyLength, 0, kNotifyLength, height, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    SetWindowPos(notify_, nullptr, 0, height - kNotifyLength, width, kNotifyLength, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(window_, nullptr, TRUE);
}

void ShellTray::BroadcastTaskbarCreated() {
  SendNotifyMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
}

}  // namespace vellum::band::testing

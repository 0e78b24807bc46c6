#include "tools/vellum_standin/tessera_bar_win.h"

#include "band/testing/standin_commands.h"
#include "runtime/win/gdi_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::standin {

// The commands and the command line the stand-in shares with the tests that drive it.
using namespace band::testing;

namespace {

void RegisterTesseraClass(WNDPROC procedure) {
  static const ATOM atom = [procedure] {
    WNDCLASSA window_class{};
    window_class.style = CS_HREDRAW | CS_VREDRAW;  // the text is centred
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.lpszClassName = kTesseraClass;
    return RegisterClassA(&window_class);
  }();
  if (atom == 0) win::RaiseLastOSError("RegisterClassA");
}

}  // namespace

TesseraBar::TesseraBar(std::function<void()> on_destroyed) : on_destroyed_(std::move(on_destroyed)) {}

TesseraBar::~TesseraBar() {
  // Our own destruction is not the outside event on_destroyed_ reports.
  if (window_) SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
}

void TesseraBar::Create() {
  RegisterTesseraClass(&TesseraBar::WindowProc);
  // Born a hidden popup: a window created directly as the child of another
  // process's window would join that thread's input queue from the start.
  window_.reset(CreateWindowExA(WS_EX_TOOLWINDOW, kTesseraClass, "Tessera", WS_POPUP | WS_CLIPSIBLINGS, 0, 0, 100, 24,
                                nullptr, nullptr, GetModuleHandleA(nullptr), this));
  if (!window_) win::RaiseLastOSError("CreateWindowExA");
}

void TesseraBar::DockInto(HWND panel) {
  if (panel == nullptr || !IsWindow(panel)) throw ETesseraDock("DockPanel not a window");
  if (!window_) Create();
  const HWND window = window_.get();
  // The style changes before SetParent: a window must be WS_CHILD, not
  // WS_POPUP, when it gets a parent other than the desktop.
  const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
  SetWindowLongPtrA(window, GWL_STYLE, (style & ~static_cast<LONG_PTR>(WS_POPUP)) | WS_CHILD);
  SetLastError(ERROR_SUCCESS);
  if (SetParent(window, panel) == nullptr && GetLastError() != ERROR_SUCCESS) win::RaiseLastOSError("SetParent");
  RECT client{};
  if (!GetClientRect(panel, &client)) win::RaiseLastOSError("GetClientRect");
  if (!SetWindowPos(window, HWND_TOP, 0, 0, client.right - client.left, client.bottom - client.top,
                    SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_FRAMECHANGED)) {
    win::RaiseLastOSError("SetWindowPos");
  }
  docked_ = true;
}

void TesseraBar::Resize(int width, int height) {
  if (!docked_ || !window_) return;
  SetWindowPos(window_.get(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TesseraBar::Paint(HWND window) {
  const win::PaintScope paint(window);
  RECT client{};
  GetClientRect(window, &client);
  FillRect(paint.get(), &client, GetSysColorBrush(COLOR_INFOBK));
  SetBkMode(paint.get(), TRANSPARENT);
  SetTextColor(paint.get(), GetSysColor(COLOR_INFOTEXT));
  char text[] = "Tessera";
  DrawTextA(paint.get(), text, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

LRESULT CALLBACK TesseraBar::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* bar = reinterpret_cast<TesseraBar*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (bar != nullptr) {
    switch (message) {
      case WM_PAINT: Paint(window); return 0;
      case WM_NCDESTROY:
        bar->window_.release();
        bar->docked_ = false;
        if (bar->on_destroyed_) bar->on_destroyed_();
        break;
    }
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace vellum::standin

// The demo taskbar: plays the shell's part with the desk band the way the
// real taskbar does — real COM activation of the registered band, a band
// site, SetSite, GetBandInfo, GetWindow, ShowDW, sizing, focus and Tab keys
// through IInputObject, and at the end CloseDW, SetSite(nil), Release and
// DllCanUnloadNow. With the stand-in Vellum it shows the whole host link.
//
//   demo_taskbar.exe [--vellum STANDIN.exe] [--log FILE] [--seconds N]
//                    [--screenshot FILE.png] [--vertical] [--test-error]
//                    [--dialog-picture FILE.png]
//   demo_taskbar.exe --panel [--dll VellumDeskBand.dll] [--vellum STANDIN.exe]
//                    [--log FILE] [--seconds N] [--screenshot FILE.png]
//
// --panel plays a taskbar that hosts no desk bands ("Shell_TrayWnd" with its
// notification area, no band site): rundll32 runs the DLL's TaskbarPanel,
// which puts the band's form on it, and the stand-in docks into that.
//
// --test-error plays a user who holds Ctrl, opens the band's popup menu and
// chooses its hidden "TestError": the band raises inside that window
// message, its exception subsystem reports it, and the taskbar lives on.
// With --dialog-picture the user leaves the exception dialog alone: it is
// saved as a picture once it shows and closes itself (the band's options
// give it a few seconds), and the report goes on to be logged and sent.
#include <windows.h>
#include <ole2.h>
#include <shobjidl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "band/band_ids.h"
#include "exceptlog/delivery/screenshot/win/window_capture_win.h"
#include "runtime/gui/testing/message_box_watcher_win.h"
#include "runtime/win/com_ptr_win.h"
#include "runtime/win/gdi_win.h"
#include "runtime/win/text_conversion_win.h"
#include "runtime/win/unique_handle_win.h"
#include "tools/demo_taskbar/band_site_win.h"
#include "tools/demo_taskbar/demo_say.h"
#include "tools/demo_taskbar/panel_demo_win.h"

namespace {

using vellum::demo::Say;
using vellum::win::ComPtr;

struct Options {
  std::string vellum;
  std::string log = "vellum_standin.log";
  std::string screenshot;
  int seconds = 0;  // 0: until the taskbar is closed
  bool vertical = false;
  bool test_error = false;
  std::string dialog_picture;  // with test_error: save the dialog, let it close itself
  bool panel = false;          // a taskbar without band support, and the taskbar panel
  std::string dll = "VellumDeskBand.dll";
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (arg == "--vellum")
      options.vellum = value();
    else if (arg == "--log")
      options.log = value();
    else if (arg == "--screenshot")
      options.screenshot = value();
    else if (arg == "--seconds")
      options.seconds = std::atoi(value().c_str());
    else if (arg == "--vertical")
      options.vertical = true;
    else if (arg == "--test-error")
      options.test_error = true;
    else if (arg == "--dialog-picture")
      options.dialog_picture = value();
    else if (arg == "--panel")
      options.panel = true;
    else if (arg == "--dll")
      options.dll = value();
    else
      std::fprintf(stderr, "demo_taskbar: unknown option %s\n", arg.c_str());
  }
  return options;
}

const char* HResultText(HRESULT hr) {
  switch (hr) {
    case S_OK: return "S_OK";
    case S_FALSE: return "S_FALSE";
    case E_NOTIMPL: return "E_NOTIMPL";
    case E_NOINTERFACE: return "E_NOINTERFACE";
    case E_FAIL: return "E_FAIL";
    case REGDB_E_CLASSNOTREG: return "REGDB_E_CLASSNOTREG (run regsvr32 first)";
    default: return "error";
  }
}

constexpr int kStartWidth = 56;

LRESULT CALLBACK TaskbarProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_PAINT: {
      const vellum::win::PaintScope paint(window);
      const HDC dc = paint.get();
      RECT client;
      GetClientRect(window, &client);
      const vellum::win::UniqueBrush back(CreateSolidBrush(RGB(32, 48, 72)));
      FillRect(dc, &client, back.get());
      RECT start{4, 4, kStartWidth - 4, client.bottom - 4};
      if (client.right < client.bottom) start = {4, 4, client.right - 4, 36};
      const vellum::win::UniqueBrush button(CreateSolidBrush(RGB(70, 130, 90)));
      FillRect(dc, &start, button.get());
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(255, 255, 255));
      DrawTextA(dc, "Start", -1, &start, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      return 0;
    }
    case WM_CLOSE: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, msg, wparam, lparam);
  }
}

HWND MakeWindow(const char* class_name, WNDPROC proc, DWORD style, HWND parent, int x, int y, int w, int h) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = proc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  window_class.lpszClassName = class_name;
  RegisterClassA(&window_class);
  return CreateWindowExA(parent == nullptr ? WS_EX_TOOLWINDOW : 0, class_name, class_name, style, x, y, w, h, parent,
                         nullptr, window_class.hInstance, nullptr);
}

// Lays the band area out in the taskbar and the band in the area.
void Layout(HWND taskbar, HWND area, HWND band, bool vertical) {
  RECT client;
  GetClientRect(taskbar, &client);
  if (vertical) {
    SetWindowPos(area, nullptr, 0, 40, client.right, client.bottom - 40, SWP_NOZORDER);
  } else {
    SetWindowPos(area, nullptr, kStartWidth, 0, client.right - kStartWidth, client.bottom, SWP_NOZORDER);
  }
  if (band != nullptr) {
    RECT area_rect;
    GetClientRect(area, &area_rect);
    SetWindowPos(band, nullptr, 0, 0, area_rect.right, area_rect.bottom, SWP_NOZORDER);
  }
}

// Whether a process runs 32-bit or 64-bit code: a 64-bit taskbar with a
// 32-bit Vellum is what a 64-bit Windows user has.
const char* ProcessBitness(HANDLE process) {
  BOOL wow64 = FALSE;
  if (!IsWow64Process(process, &wow64)) return "bitness unknown";
  if (wow64) return "32-bit";
  return sizeof(void*) == 8 ? "64-bit" : "32-bit";
}

HRESULT CallCanUnloadNow() {
  HMODULE module = GetModuleHandleA("VellumDeskBand.dll");
  if (module == nullptr) return S_OK;  // already unloaded
  auto can_unload =
      reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  return can_unload != nullptr ? can_unload() : E_FAIL;
}

// The exception dialog of TestError watched, not answered: saved as a
// picture once it has painted, then timed until it closes itself.
class DialogObserver {
 public:
  explicit DialogObserver(std::string picture) : picture_(std::move(picture)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~DialogObserver() {
    stop_ = true;
    thread_.join();
  }
  DialogObserver(const DialogObserver&) = delete;
  DialogObserver& operator=(const DialogObserver&) = delete;

  // Waits (up to a minute) for the dialog to have come and gone.
  void WaitUntilClosed() {
    for (int i = 0; i < 3000 && !closed_; ++i) Sleep(20);
  }
  void Report() const {
    Say("TestError: exception dialog shown: %s; picture: %s; closed by itself after %.1f s", shown_ ? "yes" : "no",
        saved_ ? picture_.c_str() : "not saved", closed_ ? seconds_open_ : 0.0);
  }

 private:
  void Run() {
    HWND dialog = nullptr;
    while (!stop_ && dialog == nullptr) {
      dialog = vellum::gui::testing::FindOwnWindow("Error.");
      if (dialog != nullptr && !IsWindowVisible(dialog)) dialog = nullptr;
      if (dialog == nullptr) Sleep(20);
    }
    if (dialog == nullptr) return;
    shown_ = true;
    const DWORD opened = GetTickCount();
    Sleep(500);  // let it paint
    try {
      vellum::exceptlog::SaveWindowPng(dialog, picture_);
      saved_ = true;
    } catch (const std::exception&) {
    }
    while (!stop_ && IsWindow(dialog)) Sleep(20);
    seconds_open_ = (GetTickCount() - opened) / 1000.0;
    closed_ = !IsWindow(dialog);
  }

  std::string picture_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> shown_{false};
  std::atomic<bool> saved_{false};
  std::atomic<bool> closed_{false};
  double seconds_open_ = 0;
  std::thread thread_;
};

// The user's part in TestError, played from a thread of its own while the
// taskbar's thread is inside the menu and then inside the report: choose
// the menu's last item, then answer the report's message box.
void RaiseTestError(HWND band_window, const std::string& dialog_picture) {
  namespace gui_testing = vellum::gui::testing;
  std::unique_ptr<DialogObserver> observer;
  std::unique_ptr<gui_testing::MessageBoxWatcher> watcher;
  if (!dialog_picture.empty()) {
    observer = std::make_unique<DialogObserver>(dialog_picture);
  } else {
    watcher = std::make_unique<gui_testing::MessageBoxWatcher>("Error.");
  }
  std::atomic<bool> chosen{false};
  std::atomic<bool> give_up{false};
  std::thread user([&] {
    while (!give_up) {
      HWND menu = FindWindowA("#32768", nullptr);
      if (menu != nullptr && IsWindowVisible(menu)) {
        // Up from no selection selects the last item; Enter chooses it (as
        // its character: with Ctrl still down the key would translate to a
        // line feed, which a menu ignores).
        PostMessageA(menu, WM_KEYDOWN, VK_UP, 0);
        PostMessageA(menu, WM_CHAR, '\r', 0);
        chosen = true;
        return;
      }
      Sleep(20);
    }
  });
  gui_testing::SetControlKeyDown(true);
  // A keyboard-invoked context menu, as Shift+F10 gives it.
  SendMessageA(band_window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(band_window), -1);
  gui_testing::SetControlKeyDown(false);
  give_up = true;
  user.join();
  if (observer != nullptr) {
    observer->WaitUntilClosed();
    observer->Report();
    Say("TestError: menu item chosen: %s; band window still up: %s", chosen ? "yes" : "no",
        IsWindow(band_window) ? "yes" : "no");
    return;
  }
  gui_testing::MessageBoxWatcher& report_box = *watcher;
  // The report runs on a thread of the subsystem; its box may come late.
  for (int i = 0; i < 100 && report_box.Count() == 0; ++i) Sleep(20);
  std::string said;
  // The report's pages hold whole texts: their first lines keep the line one line.
  for (const std::string& text : report_box.Texts()) {
    said += (said.empty() ? "" : " | ") + text.substr(0, text.find_first_of("\r\n"));
  }
  Say("TestError: menu item chosen: %s; report message boxes: %d (%s); band window still up: %s", chosen ? "yes" : "no",
      report_box.Count(), said.c_str(), IsWindow(band_window) ? "yes" : "no");
}

void PumpFor(DWORD milliseconds, IInputObject* input) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < milliseconds) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      // As the taskbar does: key messages go to the band first.
      if (input != nullptr && (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) &&
          input->TranslateAcceleratorIO(&msg) == S_OK) {
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (options.panel) {
    return vellum::demo::RunPanelDemo({options.dll, options.vellum, options.log, options.screenshot, options.seconds});
  }
  if (FAILED(OleInitialize(nullptr))) return 1;

  const int screen_width = GetSystemMetrics(SM_CXSCREEN);
  const int screen_height = GetSystemMetrics(SM_CYSCREEN);
  const int bar_height = 40;
  HWND taskbar = options.vertical
                     ? MakeWindow("VellumDemoTaskbar", TaskbarProc, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, nullptr,
                                  screen_width - 140, 0, 140, screen_height)
                     : MakeWindow("VellumDemoTaskbar", TaskbarProc, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, nullptr, 0,
                                  screen_height - bar_height, 900, bar_height);
  HWND area =
      MakeWindow("VellumDemoBandArea", DefWindowProcA, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, taskbar, 0, 0, 10, 10);
  Layout(taskbar, area, nullptr, options.vertical);

  CLSID clsid{};
  CLSIDFromString(vellum::win::WideFromAnsi(vellum::band::kDeskBandClsid).c_str(), &clsid);
  ComPtr<IDeskBand> band;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDeskBand, band.ReceiveVoid());
  Say("CoCreateInstance(%s): %s", vellum::band::kDeskBandClsid, HResultText(hr));
  if (FAILED(hr)) return 1;

  vellum::demo::BandSite site(area);
  site.on_focus_change = [](bool has_focus) { Say("band focus: %s", has_focus ? "in" : "out"); };
  ComPtr<IObjectWithSite> with_site = band.As<IObjectWithSite>(IID_IObjectWithSite);
  ComPtr<IInputObject> input = band.As<IInputObject>(IID_IInputObject);
  hr = with_site ? with_site->SetSite(static_cast<IOleWindow*>(&site)) : E_NOINTERFACE;
  Say("SetSite: %s", HResultText(hr));

  DESKBANDINFO info{};
  info.dwMask = DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_INTEGRAL | DBIM_ACTUAL | DBIM_TITLE | DBIM_MODEFLAGS | DBIM_BKCOLOR;
  const DWORD view_mode = options.vertical ? DBIF_VIEWMODE_VERTICAL : DBIF_VIEWMODE_NORMAL;
  Say("GetBandInfo before GetWindow: %s", HResultText(band->GetBandInfo(0, view_mode, &info)));

  HWND band_window = nullptr;
  hr = band->GetWindow(&band_window);
  Say("GetWindow: %s, window %p, parent is band area: %s", HResultText(hr), static_cast<void*>(band_window),
      GetParent(band_window) == area ? "yes" : "no");
  if (band_window == nullptr) return 1;

  hr = band->GetBandInfo(0, view_mode, &info);
  Say("GetBandInfo: %s, min (%ld, %ld), max (%ld, %ld), actual (%ld, %ld), mode flags %lu, title \"%ls\"",
      HResultText(hr), info.ptMinSize.x, info.ptMinSize.y, info.ptMaxSize.x, info.ptMaxSize.y, info.ptActual.x,
      info.ptActual.y, info.dwModeFlags, info.wszTitle);
  Layout(taskbar, area, band_window, options.vertical);
  Say("ShowDW(TRUE): %s", HResultText(band->ShowDW(TRUE)));

  vellum::win::UniqueKernelHandle standin;
  if (!options.vellum.empty()) {
    const int timeout_ms = (options.seconds > 0 ? options.seconds : 600) * 1000 + 5000;
    std::string command = "\"" + options.vellum + "\" --answer-registry --dock --log \"" + options.log +
                          "\" --timeout-ms " + std::to_string(timeout_ms);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      CloseHandle(process.hThread);
      standin.reset(process.hProcess);
      Say("stand-in Vellum started, %s, taskbar %d-bit (log: %s)", ProcessBitness(process.hProcess),
          static_cast<int>(sizeof(void*) * 8), options.log.c_str());
    } else {
      Say("stand-in Vellum could not be started (%lu)", GetLastError());
    }
  }

  if (options.seconds > 0) {
    PumpFor(1500, input.get());
    if (options.test_error) RaiseTestError(band_window, options.dialog_picture);
    // The taskbar grows, as when the user drags its edge: the band sends its new size.
    RECT bar;
    GetWindowRect(taskbar, &bar);
    if (options.vertical) {
      SetWindowPos(taskbar, nullptr, bar.left - 40, bar.top, bar.right - bar.left + 40, bar.bottom - bar.top,
                   SWP_NOZORDER);
    } else {
      SetWindowPos(taskbar, nullptr, bar.left, bar.top - 20, bar.right - bar.left, bar.bottom - bar.top + 20,
                   SWP_NOZORDER);
    }
    Layout(taskbar, area, band_window, options.vertical);
    InvalidateRect(taskbar, nullptr, TRUE);
    PumpFor(static_cast<DWORD>(options.seconds) * 1000, input.get());
    if (!options.screenshot.empty()) {
      try {
        vellum::exceptlog::SaveWindowPng(taskbar, options.screenshot);
        Say("screenshot saved: %s", options.screenshot.c_str());
      } catch (const std::exception& e) {
        Say("screenshot failed: %s", e.what());
      }
    }
  } else {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (input && (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) &&
          input->TranslateAcceleratorIO(&msg) == S_OK) {
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  Say("CloseDW: %s", HResultText(band->CloseDW(0)));
  Say("SetSite(nil): %s", HResultText(with_site ? with_site->SetSite(nullptr) : E_NOINTERFACE));
  input.Reset();
  with_site.Reset();
  band.Reset();
  // The data module's templates are counted too, so a server that has been
  // used answers S_FALSE until the process ends; the form goes with its window.
  Say("DllCanUnloadNow after Release, band window still up: %s", HResultText(CallCanUnloadNow()));
  DestroyWindow(taskbar);
  PumpFor(500, nullptr);  // the band form is freed within one collector period
  Say("DllCanUnloadNow after the taskbar went: %s", HResultText(CallCanUnloadNow()));

  if (standin) {
    if (HWND hidden = FindWindowA(nullptr, "Hidden Vellum Window")) PostMessageA(hidden, WM_CLOSE, 0, 0);
    WaitForSingleObject(standin.get(), 3000);
  }
  OleUninitialize();
  return 0;
}

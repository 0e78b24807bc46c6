#include "tools/demo_taskbar/panel_demo_win.h"

#include <windows.h>

#include <cstdio>
#include <exception>

#include "band/testing/shell_tray_win.h"
#include "exceptlog/delivery/screenshot/win/window_capture_win.h"
#include "runtime/win/unique_handle_win.h"
#include "tools/demo_taskbar/demo_say.h"

namespace vellum::demo {

namespace {

using band::testing::ShellTray;

constexpr char kPanelClass[] = "VellumTaskbarPanel";

bool Pump(DWORD milliseconds, HWND stop_when_gone = nullptr) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < milliseconds) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return false;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (stop_when_gone != nullptr && !IsWindow(stop_when_gone)) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

// Pumps until the panel is shown somewhere other than `not_at`; its window.
HWND WaitForPanel(const RECT& not_at, DWORD limit_ms, DWORD& waited_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND panel = FindWindowA(kPanelClass, nullptr);
    RECT rect{};
    if (panel != nullptr && IsWindowVisible(panel) && GetWindowRect(panel, &rect) && !EqualRect(&rect, &not_at)) {
      waited_ms = GetTickCount() - start;
      return panel;
    }
    if (GetTickCount() - start > limit_ms) return nullptr;
    Pump(5);
  }
}

const char* YesNo(bool value) {
  return value ? "yes" : "no";
}

void DescribePanel(HWND panel, const ShellTray& tray) {
  RECT rect{}, bar{}, notify{};
  GetWindowRect(panel, &rect);
  GetWindowRect(tray.window(), &bar);
  GetWindowRect(tray.notify_area(), &notify);
  RECT inside{};
  IntersectRect(&inside, &rect, &bar);
  Say("taskbar panel at (%ld, %ld)-(%ld, %ld), %ld x %ld; inside the taskbar: %s; beside the notification area: %s; "
      "as tall as the taskbar: %s",
      rect.left, rect.top, rect.right, rect.bottom, rect.right - rect.left, rect.bottom - rect.top,
      YesNo(EqualRect(&inside, &rect) != FALSE), YesNo(rect.right == notify.left),
      YesNo(rect.bottom - rect.top == bar.bottom - bar.top));
}

win::UniqueKernelHandle Start(std::string command) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return {};
  }
  CloseHandle(process.hThread);
  return win::UniqueKernelHandle(process.hProcess);
}

}  // namespace

int RunPanelDemo(const PanelDemoOptions& options) {
  const int screen_height = GetSystemMetrics(SM_CYSCREEN);
  ShellTray tray({0, screen_height - 40, 900, screen_height});
  Say("taskbar without band support: Shell_TrayWnd %p with TrayNotifyWnd %p, no rebar",
      static_cast<void*>(tray.window()), static_cast<void*>(tray.notify_area()));

  win::UniqueKernelHandle panel_process = Start("rundll32.exe \"" + options.dll + "\",TaskbarPanel");
  if (!panel_process) {
    Say("rundll32 could not be started (%lu)", GetLastError());
    return 1;
  }
  DWORD waited = 0;
  HWND panel = WaitForPanel({}, 10000, waited);
  if (panel == nullptr) {
    Say("the taskbar panel did not show");
    return 1;
  }
  Say("rundll32 %s,TaskbarPanel: the panel showed after %lu ms", options.dll.c_str(), waited);
  DescribePanel(panel, tray);

  win::UniqueKernelHandle standin;
  if (!options.vellum.empty()) {
    const int timeout_ms = (options.seconds > 0 ? options.seconds : 600) * 1000 + 10000;
    standin = Start("\"" + options.vellum + "\" --answer-registry --dock --log \"" + options.log + "\" --timeout-ms " +
                    std::to_string(timeout_ms));
    Say(standin ? "stand-in Vellum started (log: %s)" : "stand-in Vellum could not be started (log: %s)",
        options.log.c_str());
  }

  if (options.seconds > 0) {
    Pump(1500);
    // The user drags the taskbar's edge: it grows by 20 pixels.
    RECT before{};
    GetWindowRect(panel, &before);
    tray.MoveTo({0, screen_height - 60, 900, screen_height});
    if (WaitForPanel(before, 5000, waited) != nullptr) {
      Say("the taskbar grew by 20 pixels: the panel followed after %lu ms", waited);
      DescribePanel(panel, tray);
    } else {
      Say("the taskbar grew by 20 pixels: the panel did not follow");
    }
    Pump(static_cast<DWORD>(options.seconds) * 1000);
    if (!options.screenshot.empty()) {
      try {
        exceptlog::SaveWindowPng(tray.window(), options.screenshot);
        Say("screenshot saved: %s", options.screenshot.c_str());
      } catch (const std::exception& e) {
        Say("screenshot failed: %s", e.what());
      }
    }
  } else {
    // Until the user closes the panel from its menu ("Close Tessera").
    while (Pump(1000, panel)) {
    }
  }

  if (IsWindow(panel)) PostMessageA(panel, WM_CLOSE, 0, 0);
  const bool ended = WaitForSingleObject(panel_process.get(), 5000) == WAIT_OBJECT_0;
  Say("taskbar panel closed, rundll32 ended: %s", YesNo(ended));
  if (standin) {
    if (HWND hidden = FindWindowA(nullptr, "Hidden Vellum Window")) PostMessageA(hidden, WM_CLOSE, 0, 0);
    WaitForSingleObject(standin.get(), 3000);
  }
  return ended ? 0 : 1;
}

}  // namespace vellum::demo

// The taskbar panel for real: rundll32 runs the built DLL's TaskbarPanel
// against a taskbar this test makes (the demo's "Shell_TrayWnd" with its
// notification area and no rebar), and the stand-in Vellum docks into it.
#include "band/panel/taskbar_panel_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "band/band_test_support_win.h"
#include "band/panel/panel_start_win.h"
#include "band/published_bar_win.h"
#include "band/testing/shell_tray_win.h"
#include "runtime/registry/registry_key_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::band {
namespace {

using testing::HostLinkRegistryGuard;
using testing::PumpMessagesUntil;
using testing::StandinProcess;

constexpr DWORD kWaitMs = 10000;

std::string BinFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\'));
}

// A taskbar on a thread of its own, as Explorer's is in a process of its
// own: the test's waits do not have to keep it answering.
class TaskbarThread {
 public:
  explicit TaskbarThread(const RECT& bounds) {
    thread_ = std::thread([this, bounds] {
      testing::ShellTray tray(bounds);
      window_ = tray.window();
      notify_ = tray.notify_area();
      ready_ = true;
      MSG message;
      while (!stop_ && GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    });
    while (!ready_) Sleep(5);
  }
  ~TaskbarThread() {
    stop_ = true;
    PostMessageA(window_, WM_NULL, 0, 0);
    thread_.join();
  }
  TaskbarThread(const TaskbarThread&) = delete;
  TaskbarThread& operator=(const TaskbarThread&) = delete;

  HWND window() const { return window_; }
  HWND notify_area() const { return notify_; }
  void MoveTo(const RECT& bounds) const {
    // Laid out as the tray does it, from this thread: the calls are sent to
    // the tray's thread, which pumps.
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    SetWindowPos(window_, nullptr, bounds.left, bounds.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    const int notify = testing::ShellTray::kNotifyLength;
    if (width >= height) {
      SetWindowPos(notify_, nullptr, width - notify, 0, notify, height, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
      SetWindowPos(notify_, nullptr, 0, height - notify, width, notify, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

 private:
  std::thread thread_;
  std::atomic<bool> ready_{false};
  std::atomic<bool> stop_{false};
  HWND window_ = nullptr;
  HWND notify_ = nullptr;
};

// rundll32 running this build's DLL's TaskbarPanel; a panel left running by
// a failed assertion is closed, and ended if it will not close.
class PanelProcess {
 public:
  explicit PanelProcess(const std::string& arguments = "") {
    std::string command = "rundll32.exe \"" + BinFolder() + "\\VellumDeskBand.dll\",TaskbarPanel";
    if (!arguments.empty()) command += " " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      CloseHandle(info.hThread);
      process_.reset(info.hProcess);
      id_ = info.dwProcessId;
    }
  }
  ~PanelProcess() {
    if (!process_) return;
    if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      if (HWND panel = Window()) PostMessageA(panel, WM_CLOSE, 0, 0);
      if (WaitForSingleObject(process_.get(), 5000) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 1);
    }
  }
  PanelProcess(const PanelProcess&) = delete;
  PanelProcess& operator=(const PanelProcess&) = delete;

  bool Started() const { return static_cast<bool>(process_); }
  bool Ended(DWORD limit_ms = kWaitMs) const {
    return PumpMessagesUntil([&] { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }, limit_ms);
  }
  // This process's panel window, shown or not.
  HWND Window() const {
    for (HWND window = FindWindowExA(nullptr, nullptr, kTaskbarPanelClass, nullptr); window != nullptr;
         window = FindWindowExA(nullptr, window, kTaskbarPanelClass, nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == id_) return window;
    }
    return nullptr;
  }

 private:
  win::UniqueKernelHandle process_;
  DWORD id_ = 0;
};

RECT WindowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

std::string Text(const RECT& rect) {
  return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ")-(" + std::to_string(rect.right) + ", " +
         std::to_string(rect.bottom) + ")";
}

// Waits until the panel is shown at `expected`; answers how long it took.
DWORD WaitForPanelAt(const PanelProcess& panel, const RECT& expected, DWORD limit_ms = kWaitMs) {
  const DWORD start = GetTickCount();
  const bool there = PumpMessagesUntil(
      [&] {
        const HWND window = panel.Window();
        return window != nullptr && IsWindowVisible(window) && Text(WindowRect(window)) == Text(expected);
      },
      limit_ms);
  if (!there) return limit_ms + 1;
  return GetTickCount() - start;
}

// Where the panel belongs on a horizontal tray: left of its notification
// area, as tall as the tray, as wide as the band's form asks (270 at 96 DPI).
RECT BesideNotifyArea(const RECT& tray) {
  const LONG right = tray.right - testing::ShellTray::kNotifyLength;
  return {right - 270, tray.top, right, tray.bottom};
}

class TaskbarPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const int height = GetSystemMetrics(SM_CYSCREEN);
    bottom_ = {0, height - 40, 900, height};
  }
  RECT bottom_{};
  HostLinkRegistryGuard registry_;
};

TEST_F(TaskbarPanelTest, SitsBesideTheNotificationAreaFollowsTheTaskbarAndComesBackWithExplorer) {
  auto tray = std::make_unique<TaskbarThread>(bottom_);
  PanelProcess panel;
  ASSERT_TRUE(panel.Started());
  ASSERT_LE(WaitForPanelAt(panel, BesideNotifyArea(bottom_)), kWaitMs)
      << "panel at " << (panel.Window() ? Text(WindowRect(panel.Window())) : "nowhere");
  const HWND window = panel.Window();
  // Above the taskbar, without a taskbar button, an Alt+Tab entry or the focus.
  const LONG ex_style = GetWindowLongA(window, GWL_EXSTYLE);
  EXPECT_TRUE(ex_style & WS_EX_TOPMOST);
  EXPECT_TRUE(ex_style & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(ex_style & WS_EX_NOACTIVATE);
  EXPECT_NE(GetForegroundWindow(), window);
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
  // The band form fills it and publishes itself as the panel's.
  const PublishedBar published = FindPublishedBar();
  EXPECT_EQ(published.host, BarHost::kTaskbarPanel);
  EXPECT_EQ(GetAncestor(published.bar, GA_ROOT), window);

  // The user drags the taskbar taller and it grows: the panel follows. It
  // looks every 100 ms; how long it took is printed, not asserted, as a
  // loaded machine may stretch any time.
  const RECT taller{100, bottom_.top - 20, 1000, bottom_.bottom};
  tray->MoveTo(taller);
  const DWORD followed_ms = WaitForPanelAt(panel, BesideNotifyArea(taller));
  EXPECT_LE(followed_ms, kWaitMs) << "panel at " << Text(WindowRect(window));
  std::printf("the panel followed the taskbar after %lu ms\n", followed_ms);

  // The taskbar moves to the right edge: the panel stands above the tray.
  const int screen_width = GetSystemMetrics(SM_CXSCREEN);
  const RECT right_edge{screen_width - 80, 0, screen_width, bottom_.bottom};
  tray->MoveTo(right_edge);
  const LONG notify_top = right_edge.bottom - testing::ShellTray::kNotifyLength;
  EXPECT_LE(WaitForPanelAt(panel, {right_edge.left, notify_top - 185, right_edge.right, notify_top}), kWaitMs)
      << "panel at " << Text(WindowRect(window));

  // Explorer ends: the taskbar goes and the panel hides, still running.
  tray.reset();
  EXPECT_TRUE(PumpMessagesUntil([&] { return !IsWindowVisible(window); }, kWaitMs));
  EXPECT_EQ(panel.Window(), window);
  // Explorer starts again and says so: the panel comes back on the new taskbar.
  const RECT again{0, bottom_.top - 8, 1000, bottom_.bottom};
  tray = std::make_unique<TaskbarThread>(again);
  testing::ShellTray::BroadcastTaskbarCreated();
  EXPECT_LE(WaitForPanelAt(panel, BesideNotifyArea(again)), kWaitMs) << "panel at " << Text(WindowRect(window));
}

TEST_F(TaskbarPanelTest, VellumDocksIntoItAndHearsItsSizes) {
  TaskbarThread tray(bottom_);
  PanelProcess panel;
  ASSERT_LE(WaitForPanelAt(panel, BesideNotifyArea(bottom_)), kWaitMs);
  ASSERT_EQ(FindPublishedBar().host, BarHost::kTaskbarPanel);
  const std::string dock_panel = testing::ReadLinkValue("DockPanel");

  // Vellum, started after the panel, reads the published handles as it does
  // with the band: it answers, docks and hears the panel's size.
  StandinProcess standin({"--answer-registry", "--dock"});
  ASSERT_NE(standin.WaitReady(), nullptr);
  EXPECT_EQ(standin.WaitFor("docked ", kWaitMs), "docked " + dock_panel);
  EXPECT_FALSE(standin.WaitFor("size 270 40 ", kWaitMs).empty());
  tray.MoveTo({0, bottom_.top - 20, 900, bottom_.bottom});
  EXPECT_FALSE(standin.WaitFor("size 270 60 ", kWaitMs).empty());
}

std::set<std::string> RunValueNames() {
  const RegistryKey run = RegistryKey::OpenIfExists(HKEY_CURRENT_USER, kRunKey, KEY_READ);
  if (!run.IsOpen()) return {};
  const std::vector<std::string> names = run.ValueNames();
  return {names.begin(), names.end()};
}

TEST_F(TaskbarPanelTest, OnePerSessionNoneBesideTheDeskBandAndOneValueForTheStartAtLogon) {
  TaskbarThread tray(bottom_);
  PanelProcess first;
  ASSERT_LE(WaitForPanelAt(first, BesideNotifyArea(bottom_)), kWaitMs);

  // A second start sees the first and ends without a window.
  PanelProcess second;
  EXPECT_TRUE(second.Ended());
  EXPECT_EQ(second.Window(), nullptr);

  // /install adds exactly the start at logon (and, a panel running, ends).
  const std::set<std::string> before = RunValueNames();
  ASSERT_EQ(before.count(kRunValue), 0u) << "a start at logon left from before";
  {
    PanelProcess install("/install");
    EXPECT_TRUE(install.Ended());
  }
  std::set<std::string> after = RunValueNames();
  ASSERT_EQ(after.size(), before.size() + 1);
  ASSERT_EQ(after.count(kRunValue), 1u);
  const std::string command =
      RegistryKey::Open(HKEY_CURRENT_USER, kRunKey, KEY_READ).ReadString(kRunValue).value_or("");
  EXPECT_NE(command.find("\\rundll32.exe\" \""), std::string::npos) << command;
  EXPECT_NE(command.find("VellumDeskBand.dll\",TaskbarPanel"), std::string::npos) << command;

  // /uninstall takes exactly that value away and closes the running panel.
  {
    PanelProcess uninstall("/uninstall");
    EXPECT_TRUE(uninstall.Ended());
  }
  EXPECT_EQ(RunValueNames(), before);
  EXPECT_TRUE(first.Ended()) << "the running panel stayed after /uninstall";

  // The desk band itself is loaded (a band form outside any panel has
  // published its handles): a panel does not start.
  testing::HostedBand band;
  ASSERT_EQ(FindPublishedBar().host, BarHost::kDeskBand);
  PanelProcess beside_band;
  EXPECT_TRUE(beside_band.Ended());
  EXPECT_EQ(beside_band.Window(), nullptr);
}

TEST_F(TaskbarPanelTest, StepsAsideWhenTheDeskBandAppears) {
  TaskbarThread tray(bottom_);
  PanelProcess panel;
  ASSERT_LE(WaitForPanelAt(panel, BesideNotifyArea(bottom_)), kWaitMs);
  testing::HostedBand band;  // publishes its handles as a loaded band does
  EXPECT_TRUE(panel.Ended()) << "the panel stayed beside the desk band";
}

}  // namespace
}  // namespace vellum::band

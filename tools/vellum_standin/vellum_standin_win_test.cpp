// Plays the band's side of the host link against a real vellum_standin.exe in
// a second process: the band's windows are this program's, the registry values
// are written here, and the stand-in's log shows what it received.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "band/testing/host_link_guard_win.h"
#include "band/testing/standin_commands.h"
#include "band/testing/standin_process_win.h"
#include "runtime/win/unique_handle_win.h"
#include "tools/vellum_standin/host_link_registry_win.h"

namespace vellum::standin {

// The commands and the command line the stand-in shares with the tests that drive it.
using namespace band::testing;
namespace {

using win::UniqueKernelHandle;
using win::UniqueWindow;

// The band's form: records every WM_HOTKEY it is sent.
struct BandWindow {
  struct Hotkey {
    WPARAM id;
    LPARAM value;
  };
  std::vector<Hotkey> hotkeys;
  UniqueWindow window;

  BandWindow() {
    static const ATOM atom = [] {
      WNDCLASSA window_class{};
      window_class.lpfnWndProc = Procedure;
      window_class.hInstance = GetModuleHandleA(nullptr);
      window_class.lpszClassName = "VellumStandinTestBand";
      return RegisterClassA(&window_class);
    }();
    EXPECT_NE(atom, 0);
    window.reset(CreateWindowExA(0, "VellumStandinTestBand", "band", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 100,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
    SetWindowLongPtrA(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  // A docking panel inside the band, of the given client size.
  UniqueWindow MakePanel(int width, int height) const {
    return UniqueWindow(CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, width, height, window.get(),
                                        nullptr, GetModuleHandleA(nullptr), nullptr));
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<BandWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message == WM_HOTKEY) {
      self->hotkeys.push_back({wparam, lparam});
      return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
  }
};

DWORD OwnerProcess(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  return process_id;
}

std::string ClassOf(HWND window) {
  char name[40] = {};  // the band's buffer: at most 39 characters
  GetClassNameA(window, name, sizeof name);
  return name;
}

TEST(VellumStandin, AnnouncementIsAnsweredWithTheHiddenWindowAndSizesAreLogged) {
  BandWindow band;
  StandinProcess standin({});
  const HWND hidden = standin.WaitReady();
  ASSERT_NE(hidden, nullptr);

  ASSERT_EQ(FindWindowA(nullptr, kHiddenWindowName), hidden);
  EXPECT_NE(ClassOf(hidden).find(kHiddenWindowClass), std::string::npos);
  EXPECT_FALSE(IsWindowVisible(hidden));
  EXPECT_EQ(OwnerProcess(hidden), standin.process_id());
  EXPECT_NE(standin.process_id(), GetCurrentProcessId());

  ASSERT_TRUE(PostMessageA(hidden, WM_HOTKEY, kHotkeyAnnounce, reinterpret_cast<LPARAM>(band.window.get())));
  ASSERT_TRUE(PumpMessagesUntil([&] { return !band.hotkeys.empty(); })) << "no answer to the announcement";
  EXPECT_EQ(band.hotkeys[0].id, kHotkeyLinkOrSize);
  EXPECT_EQ(reinterpret_cast<HWND>(band.hotkeys[0].value), hidden);
  EXPECT_FALSE(standin.WaitFor("announce " + HandleText(band.window.get())).empty());
  EXPECT_FALSE(standin.WaitFor("answer " + HandleText(band.window.get())).empty());

  // Height in the high word, width in the low word; the largest sizes use
  // the sign bit of the 32-bit value.
  PostMessageA(hidden, WM_HOTKEY, kHotkeyLinkOrSize, 28 * 65536 + 300);
  PostMessageA(hidden, WM_HOTKEY, kHotkeyLinkOrSize, static_cast<LPARAM>(0xFFFF0001u));
  PostMessageA(hidden, WM_HOTKEY, 5, 42);
  EXPECT_EQ(standin.WaitFor("size 300 "), "size 300 28 1835308");
  EXPECT_EQ(standin.WaitFor("size 1 "), "size 1 65535 4294901761");
  EXPECT_EQ(standin.WaitFor("hotkey "), "hotkey 5 42");

  // An announcement naming no window is refused rather than posted to the
  // stand-in's own thread queue.
  PostMessageA(hidden, WM_HOTKEY, kHotkeyAnnounce, 0);
  EXPECT_EQ(standin.WaitFor("answer-failed "), "answer-failed 0 not a window");
  EXPECT_EQ(band.hotkeys.size(), 1u) << "only the one announcement is answered";
}

TEST(VellumStandin, RegistryModeAnswersTheBarHandleUnasked) {
  HostLinkRegistryGuard registry;
  BandWindow band;
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("BarHandle", HandleText(band.window.get())));

  StandinProcess standin({"--answer-registry"});
  const HWND hidden = standin.WaitReady();
  ASSERT_NE(hidden, nullptr);
  ASSERT_TRUE(PumpMessagesUntil([&] { return !band.hotkeys.empty(); })) << "no unasked answer";
  EXPECT_EQ(band.hotkeys[0].id, kHotkeyLinkOrSize);
  EXPECT_EQ(reinterpret_cast<HWND>(band.hotkeys[0].value), hidden);
  EXPECT_TRUE(standin.WaitFor("announce ", 200).empty()) << "answered without an announcement";

  // The same on command, once the band has published a value.
  band.hotkeys.clear();
  PostMessageA(hidden, kCommandAnswerRegistry, 0, 0);
  ASSERT_TRUE(PumpMessagesUntil([&] { return !band.hotkeys.empty(); }));
  EXPECT_EQ(reinterpret_cast<HWND>(band.hotkeys[0].value), hidden);
}

TEST(VellumStandin, BadRegistryValuesAreLoggedNotFollowed) {
  HostLinkRegistryGuard registry;
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("BarHandle", "12abc"));
  HostLinkRegistryGuard::Delete("DockPanel");

  StandinProcess standin({"--answer-registry", "--dock"});
  const HWND hidden = standin.WaitReady();
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(standin.WaitFor("registry-failed "), "registry-failed BarHandle not a signed decimal handle: '12abc'");
  EXPECT_EQ(standin.WaitFor("dock-failed ").rfind("dock-failed DockPanel unreadable: ", 0), 0u);

  // Well-formed numbers that name no window.
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("BarHandle", "-2"));
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("DockPanel", "-2"));
  PostMessageA(hidden, kCommandAnswerRegistry, 0, 0);
  PostMessageA(hidden, kCommandDock, 0, 0);
  EXPECT_EQ(standin.WaitFor("answer-failed "), "answer-failed -2 not a window");
  PumpMessagesUntil([&] { return standin.Texts().size() >= 5; });
  const std::vector<std::string> lines = standin.Texts();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], "dock-failed DockPanel not a window");
}

TEST(VellumStandin, DockingMakesTheTesseraAChildOfThePanelAndFollowsSizes) {
  HostLinkRegistryGuard registry;
  BandWindow band;
  UniqueWindow panel = band.MakePanel(300, 28);
  ASSERT_TRUE(panel);
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("DockPanel", HandleText(panel.get())));

  StandinProcess standin({"--dock"});
  const HWND hidden = standin.WaitReady();
  ASSERT_NE(hidden, nullptr);
  ASSERT_EQ(standin.WaitFor("docked "), "docked " + HandleText(panel.get()));

  // Under Wine a window parented into another process's window is in the
  // window tree but is not drawn, so the tree and the geometry are checked,
  // not pixels.
  const HWND bar = FindWindowExA(panel.get(), nullptr, kTesseraClass, nullptr);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(GetParent(bar), panel.get());
  EXPECT_TRUE(IsChild(band.window.get(), bar));
  EXPECT_EQ(OwnerProcess(bar), standin.process_id());
  const LONG style = GetWindowLongA(bar, GWL_STYLE);
  EXPECT_TRUE((style & WS_CHILD) && (style & WS_VISIBLE));
  EXPECT_FALSE(style & WS_POPUP);
  RECT client{};
  ASSERT_TRUE(GetClientRect(bar, &client));
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 28);

  PostMessageA(hidden, WM_HOTKEY, kHotkeyLinkOrSize, 20 * 65536 + 120);
  ASSERT_EQ(standin.WaitFor("size 120 "), "size 120 20 1310840");
  ASSERT_TRUE(GetClientRect(bar, &client));
  EXPECT_EQ(client.right, 120);
  EXPECT_EQ(client.bottom, 20);

  // A new panel published and the dock command: the same bar moves over.
  UniqueWindow second = band.MakePanel(200, 30);
  ASSERT_TRUE(HostLinkRegistryGuard::WriteText("DockPanel", HandleText(second.get())));
  PostMessageA(hidden, kCommandDock, 0, 0);
  ASSERT_EQ(standin.WaitFor("docked " + HandleText(second.get())), "docked " + HandleText(second.get()));
  EXPECT_EQ(GetParent(bar), second.get());
  EXPECT_EQ(FindWindowExA(panel.get(), nullptr, kTesseraClass, nullptr), nullptr);

  // The band destroying its panel takes the docked bar with it; the stand-in
  // notices and lets go of the handle.
  second.reset();
  EXPECT_FALSE(standin.WaitFor("bar-destroyed").empty());
  // The bar's thread is the stand-in's: its window goes a moment after the
  // stand-in heard of it, not when the panel's DestroyWindow returns.
  EXPECT_TRUE(PumpMessagesUntil([&] { return !IsWindow(bar); }, 2000));
  PostMessageA(hidden, WM_HOTKEY, kHotkeyLinkOrSize, 10 * 65536 + 10);
  EXPECT_FALSE(standin.WaitFor("size 10 10").empty()) << "still serving after losing its bar";
}

TEST(VellumStandin, WrongClassModeIsFoundByNameButFailsTheClassTest) {
  StandinProcess standin({"--class", "TfrmSomethingElse"});
  const HWND hidden = standin.WaitReady();
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(FindWindowA(nullptr, kHiddenWindowName), hidden);
  EXPECT_EQ(ClassOf(hidden), "TfrmSomethingElse");
  EXPECT_EQ(ClassOf(hidden).find(kHiddenWindowClass), std::string::npos);
}

TEST(VellumStandin, EndsOnCloseStopEventAndTimeLimit) {
  {
    StandinProcess standin({});
    const HWND hidden = standin.WaitReady();
    ASSERT_NE(hidden, nullptr);
    PostMessageA(hidden, WM_CLOSE, 0, 0);
    EXPECT_EQ(standin.WaitForExit(), static_cast<DWORD>(kExitClosed));
    EXPECT_EQ(standin.Texts(), (std::vector<std::string>{"ready " + HandleText(hidden), "quit close"}));
  }
  {
    const std::string name = "Local\\VellumStandinTestStop" + std::to_string(GetCurrentProcessId());
    UniqueKernelHandle stop(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(stop);
    StandinProcess standin({"--stop-event", name});
    ASSERT_NE(standin.WaitReady(), nullptr);
    SetEvent(stop.get());
    EXPECT_EQ(standin.WaitForExit(), static_cast<DWORD>(kExitClosed));
    const std::vector<std::string> lines = standin.Texts();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "quit stop-event");
  }
  {
    const DWORD before = GetTickCount();
    StandinProcess standin({"--timeout-ms", "300"});
    EXPECT_EQ(standin.WaitForExit(), static_cast<DWORD>(kExitTimedOut));
    const DWORD after = GetTickCount();
    const std::vector<StandinLogLine> lines = standin.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text.rfind("ready ", 0), 0u);
    EXPECT_EQ(lines[1].text, "quit timeout");
    // Ticks are the session's GetTickCount, so a test can set them against
    // its own clock.
    for (const StandinLogLine& line : lines) {
      EXPECT_LE(line.tick - before, after - before) << line.text;
    }
    EXPECT_LE(lines[0].tick - before, lines[1].tick - before);
    EXPECT_EQ(FindWindowA(nullptr, kHiddenWindowName), nullptr) << "the window went with the process";
  }
  {
    StandinProcess standin({"--timeout-ms", "soon"});
    EXPECT_EQ(standin.WaitForExit(), static_cast<DWORD>(kExitUsage));
  }
}

}  // namespace
}  // namespace vellum::standin

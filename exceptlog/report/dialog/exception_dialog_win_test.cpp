// The exception dialog and the request as a user meets them: real windows
// under Wine, driven from a second thread with real messages and clicks
// while the dialog runs its modal loop on the test's thread.
#include "exceptlog/report/dialog/exception_dialog_win.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "exceptlog/report/dialog/dialog_rules.h"
#include "exceptlog/report/dialog/exception_pages_win.h"
#include "exceptlog/report/dialog/list_view_items_win.h"
#include "exceptlog/report/dialog/source_request.h"
#include "runtime/gui/testing/message_box_watcher_win.h"
#include "runtime/gui/testing/message_wait_win.h"
#include "runtime/gui/testing/window_png_win.h"

namespace vellum::exceptlog {
namespace {

using gui::testing::FindOwnWindow;
using gui::testing::kGenerousWaitMs;
using gui::testing::PaintedThrough;
using gui::testing::QueueMarker;
using gui::testing::WaitUntil;

std::string ArtefactPath(const std::string& name) {
  const char* binary = std::getenv("VELLUM_BINARY_DIR");
  std::string folder = binary != nullptr ? std::string(binary) + "/artifacts" : std::string("artifacts");
  std::filesystem::create_directories(folder);
  return folder + "/" + name;
}

// The dialogs run their modal loops on the test's thread, where `queue`
// was made: once its marker is back, every message posted to the dialog
// before it has been handled; then what that invalidated is painted.
void Settle(QueueMarker& queue, HWND dialog) {
  EXPECT_TRUE(queue.RoundTrip()) << "the dialog's thread handles no messages";
  EXPECT_TRUE(WaitUntil([&] { return PaintedThrough(dialog); })) << "the dialog does not finish painting";
}

void SaveScreenshot(QueueMarker& queue, HWND window, const std::string& name) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Settle(queue, window);
  EXPECT_TRUE(gui::testing::WritePng(gui::testing::CaptureWindow(window), ArtefactPath(name))) << name;
}

HWND WaitForWindow(const char* caption) {
  HWND window = nullptr;
  WaitUntil([&] {
    window = FindOwnWindow(caption);
    return window != nullptr && IsWindowVisible(window);
  });
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

// Runs `drive` on a thread of its own once the window captioned `caption`
// shows; closes whatever is left open so that a failing test cannot hang.
class Driver {
 public:
  Driver(const char* caption, std::function<void(HWND)> drive)
      : thread_([this, caption, drive = std::move(drive)] {
          HWND window = WaitForWindow(caption);
          found_ = window != nullptr;
          if (window != nullptr) drive(window);
          done_ = true;
          for (int i = 0; i < 100 && window != nullptr && IsWindow(window); ++i) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            WaitUntil([&] { return !IsWindow(window); }, 50);
          }
        }) {}
  ~Driver() { thread_.join(); }
  bool Found() const { return found_; }

 private:
  std::atomic<bool> found_{false}, done_{false};
  std::thread thread_;
};

bool WaitUntilClosed(HWND window) {
  return WaitUntil([&] { return !IsWindow(window); });
}

void Click(HWND control) {
  SendMessageA(control, BM_CLICK, 0, 0);
}

// A click where the user would click: the button messages through the
// queue, handled when this returns.
void PostClick(QueueMarker& queue, HWND window, int x, int y, bool twice = false) {
  const LPARAM at = MAKELPARAM(x, y);
  PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(window, WM_LBUTTONUP, 0, at);
  if (twice) {
    PostMessageA(window, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(window, WM_LBUTTONUP, 0, at);
  }
  EXPECT_TRUE(queue.RoundTrip()) << "the click was not handled";
}

bool Visible(HWND dialog, int id) {
  return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}

std::string IniValue(const char* key) {
  char text[256] = {};
  GetPrivateProfileStringA(kLayoutSection, key, "", text, sizeof text, kLayoutFile);
  return text;
}

void ClearIni() {
  WritePrivateProfileStringA(kLayoutSection, nullptr, nullptr, kLayoutFile);
}

struct DialogTest : ::testing::Test {
  QueueMarker queue;  // made on the test's thread, which runs the dialogs
  TRuzadaModuleOptions options{"test.exe", false};
  ExceptionDialogInput input;

  void SetUp() override {
    ClearIni();
    options.SetDialogFlags(
        TDialogFlags{dfShowDialog, dfSendChecked, dfScreenshotChecked, dfCopyOption, dfDetailsButton, dfOwnStyle});
    options.SetMailMethod(1);
    options.SetSendFlags(TSendFlags{sfScreenshot});
    options.SetLogFlags(TLogFlags{lfModulesSection, lfCpuSection});
    options.SetTerminateButtonAfter(3);
    input.options = &options;
    input.send_choice = true;
    input.screenshot_choice = true;
    input.content.message = "Access violation at address 00401234 in module 'crash_sample.exe'.";
    input.content.general =
        "DeveruVuz 5.0.4\r\n\r\nApplication:\r\n------------\r\n  1.1 Start Date : Mon, 7 Dec 2026\r\n"
        "  1.2 Name/Description: crash_sample.exe\r\n";
    input.content.cpu =
        "Registers:\r\n-----------------------------\r\nEAX: 00000001   EDI: 00000006\r\n"
        "EBX: 00000002   ESI: 00000005\r\nECX: 00000003   ESP: 0012FF00\r\nEDX: 00000004   EIP: 00401234\r\n\r\n"
        "Stack:               Memory Dump:\r\n------------------   "
        "---------------------------------------------------------------------------\r\n"
        "0012FF00: 03020100   00401234: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n";
    const auto row = [](std::vector<std::string> cells, int icon, double compiled = 0) {
      ListPageRow r;
      r.cells = std::move(cells);
      r.icon = icon;
      r.compile_date = compiled;
      return r;
    };
    const auto header = [](std::string text, int state) {
      ListPageRow r;
      r.is_header = true;
      r.header_text = std::move(text);
      r.group_state = state;
      r.cells.assign(6, "");
      return r;
    };
    input.content.call_stack = {
        header("Exception Thread: ID=1; Priority=0; Class=; [Main]", 1),
        row({"00401234", "crash_sample.exe", "sample_faults_win.cpp", "TSample", "Raise", "123[4]"}, 3, 46000.5),
        row({"00401300", "crash_sample.exe", "sample_main_win.cpp", "", "main", "77"}, 3),
        header("Calling Thread: ID=2; Priority=0; Class=", 0),
        row({"00402000", "crash_sample.exe", "worker.cpp", "", "Work", "9"}, 3),
        row(std::vector<std::string>(6, ""), -1),
        header("Running Thread: ID=3; Priority=0; Class=", 1),
        row({"7C801000", "kernel32.dll", "", "", "BaseThreadInitThunk", ""}, 0),
    };
    input.content.modules = {
        row({"00400000", "crash_sample.exe", "Vellum crash sample", "1.0.x", "512 Kb", "2026-12-07 10:00:00",
             "C:\\sample"},
            2),
        row({"7C800000", "kernel32.dll", "Kernel", "5.1.x", "983 Kb", "2026-01-01 00:00:00", "C:\\windows\\system32"},
            0),
    };
  }
};

// Compact, detailed on every page, compact again: the layout written on the
// way back and read again by the next dialog, which a saved "Left" beyond the
// screen does not push off it. The first page is General: page 4 (Other)
// is asked for but there is no custom data.
TEST_F(DialogTest, CompactDetailedCompactAndTheSavedLayout) {
  options.SetDialogFirstTab(4);
  bool compact_tabs_hidden = false, send_toggles_screenshot = false, detailed_tabs_shown = false;
  int first_tab = -1, pages = 0;
  std::string general_text;
  LONG detailed_width = 0;
  ExceptionDialogResult result;
  {
    Driver driver("Error.", [&](HWND dialog) {
      Settle(queue, dialog);
      compact_tabs_hidden = !Visible(dialog, kPageControlId) && Visible(dialog, 3000) && Visible(dialog, 4000) &&
                            Visible(dialog, 5000) && !Visible(dialog, 3);
      SaveScreenshot(queue, dialog, "exception_dialog_compact.png");
      Click(GetDlgItem(dialog, 3000));  // send off: no screenshot to attach
      const bool disabled = !IsWindowEnabled(GetDlgItem(dialog, 4000));
      Click(GetDlgItem(dialog, 3000));
      send_toggles_screenshot = disabled && IsWindowEnabled(GetDlgItem(dialog, 4000));
      Click(GetDlgItem(dialog, 5000));

      Click(GetDlgItem(dialog, 4));
      Settle(queue, dialog);
      const HWND tabs = GetDlgItem(dialog, kPageControlId);
      detailed_tabs_shown = Visible(dialog, kPageControlId);
      first_tab = static_cast<int>(SendMessageA(tabs, TCM_GETCURSEL, 0, 0));
      const HWND page = FindWindowExA(tabs, nullptr, nullptr, nullptr);
      char text[4096] = {};
      GetWindowTextA(GetDlgItem(page, kPageContentId), text, sizeof text);
      general_text = text;
      const char* names[] = {"general", "call_stack", "modules", "cpu"};
      pages = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
      for (int tab = 0; tab < pages && tab < 4; ++tab) {
        RECT item{};
        SendMessageA(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&item));
        PostClick(queue, tabs, (item.left + item.right) / 2, (item.top + item.bottom) / 2);
        SaveScreenshot(queue, dialog, std::string("exception_dialog_") + names[tab] + ".png");
      }
      SetWindowPos(dialog, nullptr, 30, 40, 700, 500, SWP_NOZORDER);
      Settle(queue, dialog);
      RECT window{};
      GetWindowRect(dialog, &window);
      detailed_width = window.right - window.left;
      Click(GetDlgItem(dialog, 4));  // back to compact: the layout is saved
      Settle(queue, dialog);
      Click(GetDlgItem(dialog, 2));
    });
    result = ShowExceptionDialog(input);
    EXPECT_TRUE(driver.Found());
  }
  EXPECT_TRUE(compact_tabs_hidden);
  EXPECT_TRUE(send_toggles_screenshot);
  EXPECT_TRUE(detailed_tabs_shown);
  EXPECT_EQ(first_tab, 0);
  EXPECT_EQ(pages, 4);  // no Other page without custom data
  EXPECT_NE(general_text.find("1.2 Name/Description: crash_sample.exe"), std::string::npos) << general_text;
  EXPECT_TRUE(result.shown);
  EXPECT_TRUE(result.send);
  EXPECT_TRUE(result.screenshot);
  EXPECT_TRUE(result.copy);
  EXPECT_FALSE(result.terminate);
  EXPECT_EQ(IniValue("Left"), "30");
  EXPECT_EQ(IniValue("Top"), "40");
  EXPECT_EQ(IniValue("Width"), std::to_string(detailed_width));
  EXPECT_EQ(IniValue("Height"), std::to_string(500 - 34));  // without the option area
  EXPECT_EQ(IniValue("WindowsState"), "1");

  // Opened in detailed mode with a saved "Left" beyond the right edge.
  WritePrivateProfileStringA(kLayoutSection, "Left", "5000", kLayoutFile);
  options.SetDialogFlags(options.DialogFlags().With(dfDetailsOpen));
  RECT reopened{};
  {
    Driver driver("Error.", [&](HWND dialog) {
      Settle(queue, dialog);
      GetWindowRect(dialog, &reopened);
      Click(GetDlgItem(dialog, 2));
    });
    ShowExceptionDialog(input);
  }
  EXPECT_EQ(reopened.right - reopened.left, detailed_width);
  EXPECT_LE(reopened.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(reopened.top, 40);
}

// What the test's thread takes from its queue while a dialog counts down:
// the auto-close ticks (the styled dialog's timer 2, a second apart), and
// how many had come when the first click and the first WM_CLOSE came.
class AutoCloseWatch {
 public:
  AutoCloseWatch() : hook_(SetWindowsHookExA(WH_GETMESSAGE, &Hook, nullptr, GetCurrentThreadId())) { current = this; }
  ~AutoCloseWatch() {
    UnhookWindowsHookEx(hook_);
    current = nullptr;
  }
  AutoCloseWatch(const AutoCloseWatch&) = delete;
  AutoCloseWatch& operator=(const AutoCloseWatch&) = delete;

  std::atomic<int> ticks{0};
  std::atomic<int> ticks_at_click{-1};
  std::atomic<int> ticks_at_close{-1};

 private:
  static constexpr UINT_PTR kAutoCloseTimer = 2;

  static bool IsDialog(HWND window) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    return std::string(name) == "#32770";
  }

  static LRESULT CALLBACK Hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION && wparam == PM_REMOVE && current != nullptr) {
      const MSG& message = *reinterpret_cast<const MSG*>(lparam);
      AutoCloseWatch& watch = *current;
      if (message.message == WM_TIMER && message.wParam == kAutoCloseTimer && IsDialog(message.hwnd)) {
        ++watch.ticks;
      } else if (message.message == WM_LBUTTONDOWN && watch.ticks_at_click < 0) {
        watch.ticks_at_click = watch.ticks.load();
      } else if (message.message == WM_CLOSE && watch.ticks_at_close < 0) {
        watch.ticks_at_close = watch.ticks.load();
      }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
  }

  static inline AutoCloseWatch* current = nullptr;
  HHOOK hook_;
};

// No input: closed after the seconds as by OK; a click starts the count again.
TEST_F(DialogTest, AutoCloseAndAClickRestartsIt) {
  options.SetDialogAutoCloseSeconds(2);
  ExceptionDialogResult result;
  bool closed = false;
  {
    AutoCloseWatch idle;
    {
      Driver driver("Error.", [&](HWND dialog) { closed = WaitUntilClosed(dialog); });
      result = ShowExceptionDialog(input);
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(idle.ticks_at_close, 2) << "closed on the second idle second, not before";
  }
  EXPECT_TRUE(result.shown);
  EXPECT_FALSE(result.terminate);

  AutoCloseWatch clicked;
  bool ticked = false;
  closed = false;
  {
    Driver driver("Error.", [&](HWND dialog) {
      ticked = WaitUntil([&] { return clicked.ticks >= 1; });
      PostClick(queue, dialog, 5, 5);
      closed = WaitUntilClosed(dialog);
    });
    ShowExceptionDialog(input);
  }
  EXPECT_TRUE(ticked);
  EXPECT_TRUE(closed);
  // The count goes by whole seconds: reset by a click after the first tick,
  // the dialog closes on the second tick after it, the third in all.
  EXPECT_EQ(clicked.ticks_at_click, 1);
  EXPECT_EQ(clicked.ticks_at_close, 3);
}

// The terminate button from the (TerminateButtonAfter + 1)-th error on; a
// handler that refuses brings the dialog back.
TEST_F(DialogTest, TerminateButtonAndARefusingHandler) {
  options.SetTerminateButtonAfter(2);
  input.error_count = 2;
  bool shown_at_two = true;
  {
    Driver driver("Error.", [&](HWND dialog) {
      Settle(queue, dialog);
      shown_at_two = Visible(dialog, 3);
      Click(GetDlgItem(dialog, 2));
    });
    ShowExceptionDialog(input);
  }
  EXPECT_FALSE(shown_at_two);

  input.error_count = 3;
  int asked = 0, dialogs = 0;
  std::string caption;
  input.confirm_terminate = [&] { return ++asked > 1; };
  ExceptionDialogResult result;
  {
    Driver driver("Error.", [&](HWND dialog) {
      for (int round = 0; round < 2; ++round) {
        Settle(queue, dialog);
        if (!Visible(dialog, 3)) break;
        ++dialogs;
        char text[64] = {};
        GetDlgItemTextA(dialog, 3, text, sizeof text);
        caption = text;
        Click(GetDlgItem(dialog, 3));
        if (!WaitUntilClosed(dialog) || round == 1) break;  // the handler agreed the second time
        dialog = WaitForWindow("Error.");
        if (dialog == nullptr) break;
      }
    });
    result = ShowExceptionDialog(input);
  }
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(caption, "&Restart");  // TerminateAction 1 restarts
  EXPECT_TRUE(result.terminate);
}

// The option area: nothing, one row, two rows.
TEST_F(DialogTest, OptionAreaHeights) {
  const auto compact_height = [&] {
    LONG height = 0;
    Driver driver("Error.", [&](HWND dialog) {
      Settle(queue, dialog);
      RECT window{};
      GetWindowRect(dialog, &window);
      height = window.bottom - window.top;
      Click(GetDlgItem(dialog, 2));
    });
    ShowExceptionDialog(input);
    return height;
  };
  options.SetMailMethod(0);
  options.SetDialogFlags(options.DialogFlags().Without(dfCopyOption));
  const LONG none = compact_height();
  options.SetDialogFlags(options.DialogFlags().With(dfCopyOption));
  const LONG one_row = compact_height();
  options.SetSupportPage("http://127.0.0.1/support");
  const LONG two_rows = compact_height();
  EXPECT_EQ(one_row - none, 20);
  EXPECT_EQ(two_rows - none, 34);
}

// The Call Stack page: toggling by the sign only, nested groups kept
// collapsed, the first header in dark red, and a double click on a row with
// a line sent to the listener.
TEST_F(DialogTest, CallStackListAndSourceRequests) {
  options.SetDialogFlags(options.DialogFlags().With(dfDetailsOpen));
  options.SetDialogFirstTab(1);
  const win::UniqueHandle<win::FileHandleTraits> slot(CreateMailslotA(kSourceRequestMailslot, 0, 0, nullptr));
  ASSERT_TRUE(slot);
  int rows_before = 0, after_outside = 0, after_collapse = 0, after_nested = 0, after_reopen = 0, red = 0;
  std::vector<std::string> shown_cells, collapsed_cells;
  {
    Driver driver("Error.", [&](HWND dialog) {
      Settle(queue, dialog);
      const HWND tabs = GetDlgItem(dialog, kPageControlId);
      const HWND page = FindWindowExA(tabs, nullptr, nullptr, nullptr);
      const HWND list = GetDlgItem(page, kPageContentId);
      const auto count = [&] { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); };
      const auto row_rect = [&](int row) {
        RECT rect{};
        rect.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
        return rect;
      };
      rows_before = count();
      const auto cell = [&](int row, int column) { return ListViewCellText(list, row, column); };
      shown_cells = {cell(1, 0), cell(1, 2)};
      red = gui::testing::CaptureClient(list).Count(RGB(128, 0, 0), row_rect(0));

      RECT header = row_rect(0);
      PostClick(queue, list, header.left + 100, header.top + 5);  // on the text, not the sign
      after_outside = count();
      RECT nested = row_rect(3);
      PostClick(queue, list, nested.left + 14 + 6, nested.top + 6);  // the nested header's sign
      after_nested = count();
      PostClick(queue, list, header.left + 6, header.top + 6);
      after_collapse = count();
      collapsed_cells = {cell(1, 0), cell(3, 0), cell(3, 1)};
      PostClick(queue, list, header.left + 6, header.top + 6);
      after_reopen = count();

      const RECT line_row = row_rect(1);
      PostClick(queue, list, line_row.left + 40, line_row.top + 5, true);
      const RECT plain_row = row_rect(2);
      PostClick(queue, list, plain_row.left + 40, plain_row.top + 5, true);
      Click(GetDlgItem(dialog, 2));
    });
    ShowExceptionDialog(input);
  }
  EXPECT_EQ(rows_before, 8);
  EXPECT_EQ(shown_cells, (std::vector<std::string>{"00401234", "sample_faults_win.cpp"}));
  EXPECT_GT(red, 10);
  EXPECT_EQ(after_outside, 8);
  EXPECT_EQ(after_nested, 7);
  EXPECT_EQ(after_collapse, 4);  // up to the blank row
  EXPECT_EQ(collapsed_cells, (std::vector<std::string>{"", "7C801000", "kernel32.dll"}))
      << "the blank row, then the running thread's call";
  EXPECT_EQ(after_reopen, 7);  // the nested group stays closed

  std::vector<SourceRequest> requests;
  for (;;) {
    DWORD next = 0, waiting = 0;
    if (!GetMailslotInfo(slot.get(), nullptr, &next, &waiting, nullptr) || next == MAILSLOT_NO_MESSAGE) break;
    std::vector<std::uint8_t> bytes(next);
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(slot.get(), bytes.data(), next, &read, nullptr));
    auto request = DecodeSourceRequest(bytes.data(), read);
    ASSERT_TRUE(request);
    requests.push_back(*request);
  }
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[0].unit, "sample_faults_win.cpp");
  EXPECT_EQ(requests[0].class_name, "TSample");
  EXPECT_EQ(requests[0].line, 123);
  EXPECT_EQ(requests[0].offset, 4);
  EXPECT_EQ(requests[0].compile_date, 46000.5);
  EXPECT_EQ(requests[1].line, 77);
  EXPECT_EQ(requests[1].offset, -1);
}

// The Modules page's Path column from "ColMod5", written back when the page goes.
TEST_F(DialogTest, ModulesColumnWidthFromColMod5) {
  WritePrivateProfileStringA(kLayoutSection, "ColMod5", "333", kLayoutFile);
  options.SetDialogFlags(options.DialogFlags().With(dfDetailsOpen));
  options.SetDialogFirstTab(2);
  int path_width = 0, modified_width = 0;
  std::string version;
  {
    Driver driver("Error.", [&](HWND dialog) {
      Settle(queue, dialog);
      const HWND page = FindWindowExA(GetDlgItem(dialog, kPageControlId), nullptr, nullptr, nullptr);
      const HWND list = GetDlgItem(page, kPageContentId);
      path_width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 6, 0));
      modified_width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 5, 0));
      SendMessageA(list, LVM_SETCOLUMNWIDTH, 6, 250);
      Click(GetDlgItem(dialog, 2));
    });
    ShowExceptionDialog(input);
  }
  EXPECT_EQ(path_width, 333);
  EXPECT_EQ(modified_width, 80);
  EXPECT_EQ(IniValue("ColMod5"), "250");
  EXPECT_EQ(IniValue("ColMod6"), "80");
}

// Escape keeps what was typed, as OK does.
TEST(ReproduceRequest, EscapeKeepsTheText) {
  TRuzadaModuleOptions options("test.exe", false);
  options.SetDialogFlags(TDialogFlags{dfShowDialog, dfOwnStyle});
  QueueMarker queue;  // on the thread that runs the request's modal loop
  std::string prompt;
  std::string steps;
  {
    Driver driver("Request", [&](HWND dialog) {
      Settle(queue, dialog);
      char text[256] = {};
      GetDlgItemTextA(dialog, 100, text, sizeof text);
      prompt = text;
      const HWND edit = GetDlgItem(dialog, 101);
      for (char c : std::string("  Open a file\r")) PostMessageA(edit, WM_CHAR, static_cast<WPARAM>(c), 1);
      for (char c : std::string("Press F5  ")) PostMessageA(edit, WM_CHAR, static_cast<WPARAM>(c), 1);
      SaveScreenshot(queue, dialog, "reproduce_request.png");
      PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 1);
      PostMessageA(edit, WM_KEYUP, VK_ESCAPE, 0xC0000001);
      WaitUntilClosed(dialog);
    });
    steps = AskReproduceStepsText(options);
  }
  EXPECT_EQ(prompt, "Please describe the steps to reproduce the error:");
  EXPECT_EQ(steps, "Open a file\r\nPress F5");
}

}  // namespace
}  // namespace vellum::exceptlog

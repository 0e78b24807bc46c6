// How messages reach the library's handlers: the catch point for whatever
// escapes a handler, keys seen by the form first, context menus, and the
// timer's one-shot restartable period.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/exception.h"
#include "runtime/gui/action_win.h"
#include "runtime/gui/application_win.h"
#include "runtime/gui/controls_win.h"
#include "runtime/gui/form_win.h"
#include "runtime/gui/gui_test_support_win.h"
#include "runtime/gui/menu_win.h"
#include "runtime/gui/timer_win.h"

namespace vellum::gui {
namespace {

using testing::PumpUntil;

struct Caught {
  Component* sender = nullptr;
  std::string class_name;
  std::string message;
};

// Records what reaches the application object, through the hook or through
// OnException, and leaves the application as it found it.
class ApplicationSpy {
 public:
  ApplicationSpy() {
    Application().OnException = [this](Component* sender, const std::exception& error) {
      shown.push_back({sender, "", error.what()});
    };
  }
  ~ApplicationSpy() {
    Application().SetExceptionHook(nullptr);
    Application().OnException = nullptr;
  }
  void HookTakes(bool takes) {
    Application().SetExceptionHook([this, takes](Component* sender, std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const Exception& e) {
        hooked.push_back({sender, e.ClassName(), e.Message()});
      } catch (...) {
        hooked.push_back({sender, "?", ""});
      }
      return takes;
    });
  }
  std::vector<Caught> hooked;
  std::vector<Caught> shown;
};

struct FormWithButton {
  std::unique_ptr<TForm> form = CreateForm<TForm>();
  TButton& button = form->CreateOwned<TButton>();
  FormWithButton() {
    button.SetParent(form.get());
    form->Show();
  }
  void ClickWith(std::function<void()> handler) {
    button.OnClick = [handler](Component&) { handler(); };
    SendMessageA(button.Handle(), BM_CLICK, 0, 0);
  }
};

TEST(MessageHandling, AnExceptionEscapingAHandlerReachesTheApplicationObject) {
  ApplicationSpy spy;
  FormWithButton window;

  // The reporting hook sees it first and keeps it.
  spy.HookTakes(true);
  window.ClickWith([] { throw EConvertError("bad number"); });
  ASSERT_EQ(spy.hooked.size(), 1u);
  EXPECT_EQ(spy.hooked[0].class_name, "EConvertError");
  EXPECT_EQ(spy.hooked[0].message, "bad number");
  EXPECT_EQ(spy.hooked[0].sender, window.form.get()) << "the button's click arrives as the form's WM_COMMAND";
  EXPECT_TRUE(spy.shown.empty());

  // A hook that declines passes it on to OnException.
  spy.HookTakes(false);
  window.ClickWith([] { throw EListError("out of range"); });
  ASSERT_EQ(spy.hooked.size(), 2u);
  ASSERT_EQ(spy.shown.size(), 1u);
  EXPECT_EQ(spy.shown[0].message, "out of range");

  // Without a hook EAbort ends the operation silently; others are shown.
  Application().SetExceptionHook(nullptr);
  window.ClickWith([] { throw EAbort("quiet"); });
  EXPECT_EQ(spy.shown.size(), 1u);
  window.ClickWith([] { throw EInvalidOperation("loud"); });
  ASSERT_EQ(spy.shown.size(), 2u);
  EXPECT_EQ(spy.shown[1].message, "loud");
  EXPECT_TRUE(IsWindow(window.form->Handle())) << "the window survives its handler's failure";
}

TEST(MessageHandling, TheFormSeesKeysTypedIntoItsControlsWhenKeyPreviewIsOn) {
  FormWithButton window;
  TPanel& panel = window.form->CreateOwned<TPanel>();
  panel.SetParent(window.form.get());
  std::string keys;
  window.form->OnKeyPress = [&](Component&, char& key) { keys += key; };

  SendMessageA(panel.Handle(), WM_CHAR, '+', 0);
  EXPECT_EQ(keys, "") << "KeyPreview off: the form hears only its own keys";
  SendMessageA(window.form->Handle(), WM_CHAR, 'a', 0);
  EXPECT_EQ(keys, "a");

  window.form->SetKeyPreview(true);
  SendMessageA(panel.Handle(), WM_CHAR, '+', 0);
  SendMessageA(window.button.Handle(), WM_CHAR, 'b', 0);
  EXPECT_EQ(keys, "a+b");
}

TEST(MessageHandling, ContextMenuShowsThePopupOfTheControlOrOfItsParent) {
  ApplicationSpy spy;
  FormWithButton window;
  TPanel& with_menu = window.form->CreateOwned<TPanel>();
  TPanel& without_menu = window.form->CreateOwned<TPanel>();
  with_menu.SetParent(window.form.get());
  without_menu.SetParent(&with_menu);
  TActionList& actions = window.form->CreateOwned<TActionList>();
  TAction& run = window.form->CreateOwned<TAction>();
  run.SetCaption("Run");
  run.SetActionList(&actions);
  int runs = 0;
  run.OnExecute = [&](Component& sender) {
    EXPECT_EQ(&sender, &run);
    ++runs;
  };
  TPopupMenu& menu = window.form->CreateOwned<TPopupMenu>();
  TMenuItem& item = window.form->CreateOwned<TMenuItem>();
  item.SetAction(&run);
  menu.Items().Add(item);
  with_menu.SetPopupMenu(&menu);
  std::vector<std::string> seen;
  menu.OnPopup = [&](Component&) { run.SetCaption("Run now"); };
  TPopupMenu::SetChooser([&](const std::vector<TPopupMenu::Entry>& entries) {
    for (const auto& entry : entries) seen.push_back(entry.caption);
    return 0;
  });

  SendMessageA(with_menu.Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(with_menu.Handle()), MAKELPARAM(5, 5));
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(seen, std::vector<std::string>{"Run now"}) << "entries are built after OnPopup";

  // A control without a menu of its own passes the request to its parent.
  SendMessageA(without_menu.Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(without_menu.Handle()), -1);
  EXPECT_EQ(runs, 2);

  // A disabled entry chosen runs nothing; neither does an index past the end.
  run.SetEnabled(false);
  SendMessageA(with_menu.Handle(), WM_CONTEXTMENU, 0, -1);
  TPopupMenu::SetChooser([](const std::vector<TPopupMenu::Entry>&) { return 7; });
  run.SetEnabled(true);
  SendMessageA(with_menu.Handle(), WM_CONTEXTMENU, 0, -1);
  EXPECT_EQ(runs, 2);
  TPopupMenu::SetChooser(nullptr);
  EXPECT_TRUE(spy.shown.empty());
}

bool reference_tick_came = false;

void CALLBACK NoteReferenceTick(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  reference_tick_came = true;
}

// Pumps until a thread timer set now with `interval_ms` has fired. A timer
// with the same period that was running before it is due no later, and
// timers leave the queue in the order they fall due: once this returns, a
// timer under test that was still running has fired.
void PumpOnePeriod(UINT interval_ms) {
  reference_tick_came = false;
  SetTimer(nullptr, 0, interval_ms, &NoteReferenceTick);
  ASSERT_TRUE(PumpUntil([] { return reference_tick_came; }, testing::kGenerousWaitMs));
}

TEST(Timer, RestartingDefersTheTickAndAHandlerThatDisablesItFiresOnce) {
  ApplicationSpy spy;
  TTimer timer;
  std::vector<DWORD> ticks;
  timer.OnTimer = [&](Component&) {
    ticks.push_back(GetTickCount());
    timer.SetEnabled(false);
  };
  timer.SetEnabled(false);
  timer.SetInterval(150);
  PumpOnePeriod(150);
  EXPECT_TRUE(ticks.empty()) << "a disabled timer never fires";

  timer.SetEnabled(true);
  // Part of the first period goes by with nothing dispatched, so no tick
  // can come before the restart however long the machine takes here.
  Sleep(100);
  // Setting the interval again restarts the period, as enabling does.
  const DWORD restarted = GetTickCount();
  timer.SetInterval(150);
  ASSERT_TRUE(PumpUntil([&] { return !ticks.empty(); }, testing::kGenerousWaitMs));
  EXPECT_GE(ticks[0] - restarted, 130u) << "the first period was not cut short by the restart";
  PumpOnePeriod(150);
  EXPECT_EQ(ticks.size(), 1u) << "one shot";

  // An exception from OnTimer reaches the application with the timer as sender.
  timer.OnTimer = [&](Component&) {
    timer.SetEnabled(false);
    throw EConvertError("tick");
  };
  timer.SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return !spy.shown.empty(); }, testing::kGenerousWaitMs));
  EXPECT_EQ(spy.shown[0].sender, &timer);
  EXPECT_EQ(spy.shown[0].message, "tick");
}

}  // namespace
}  // namespace vellum::gui

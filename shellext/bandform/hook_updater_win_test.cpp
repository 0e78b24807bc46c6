// The work the class library does in its own message loop, done for band
// forms from thread hooks: hooks per thread only while it has band forms,
// action updates when idle, the control under the mouse and its hint; and
// cross-thread calls run by the synchronisation window; and the tear-down
// the server runs at unload.
#include "shellext/bandform/hook_updater_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "runtime/exception.h"
#include "runtime/gui/action_win.h"
#include "runtime/gui/application_win.h"
#include "runtime/gui/controls_win.h"
#include "runtime/gui/designer.h"
#include "runtime/gui/gui_test_support_win.h"
#include "runtime/gui/synchronize_win.h"
#include "shellext/bandform/garbage_collector_win.h"

namespace vellum::shellext {
namespace {

using gui::Design;
using gui::testing::HostWindow;
using gui::testing::PumpUntil;

DUduzHookUpdater& Updater() {
  return DUduzHookUpdater::Instance();
}

std::unique_ptr<DUduzDeskBandForm> MakeBandForm(const HostWindow& host) {
  auto form = gui::CreateParentedForm<DUduzDeskBandForm>(host.get());
  form->SetBounds(0, 0, 300, 60);
  form->Show();
  return form;
}

struct HookHandles {
  HHOOK idle, mouse, keyboard;
  bool operator==(const HookHandles&) const = default;
};

HookHandles HooksOf(const TThreadHook& record) {
  return {record.idle_hook.get(), record.mouse_hook.get(), record.keyboard_hook.get()};
}

TEST(HookUpdater, EachThreadGetsOneSetOfHooksWhileItHasBandForms) {
  HostWindow host;
  ASSERT_EQ(Updater().ThreadRecord(GetCurrentThreadId()), nullptr);

  auto first = MakeBandForm(host);
  const TThreadHook* record = Updater().ThreadRecord(GetCurrentThreadId());
  ASSERT_NE(record, nullptr);
  const HookHandles hooks = HooksOf(*record);
  EXPECT_NE(hooks.idle, nullptr);
  EXPECT_NE(hooks.mouse, nullptr);
  EXPECT_NE(hooks.keyboard, nullptr);

  auto second = MakeBandForm(host);
  ASSERT_EQ(Updater().ThreadRecord(GetCurrentThreadId()), record);
  EXPECT_EQ(HooksOf(*record), hooks) << "the second form adds no hooks";
  EXPECT_EQ(record->forms, (std::vector<DUduzBaseBandForm*>{first.get(), second.get()}));

  // Another user-interface thread with a band gets hooks of its own.
  HookHandles other_hooks{};
  bool other_gone_after = false;
  std::thread([&] {
    HostWindow other_host;
    auto form = MakeBandForm(other_host);
    if (const TThreadHook* other = Updater().ThreadRecord(GetCurrentThreadId())) other_hooks = HooksOf(*other);
    form.reset();
    other_gone_after = Updater().ThreadRecord(GetCurrentThreadId()) == nullptr;
  }).join();
  EXPECT_NE(other_hooks.idle, nullptr);
  EXPECT_NE(other_hooks.idle, hooks.idle);
  EXPECT_TRUE(other_gone_after);
  EXPECT_EQ(HooksOf(*Updater().ThreadRecord(GetCurrentThreadId())), hooks);

  first.reset();
  ASSERT_EQ(Updater().ThreadRecord(GetCurrentThreadId()), record);
  EXPECT_EQ(record->forms, std::vector<DUduzBaseBandForm*>{second.get()});
  second.reset();
  EXPECT_EQ(Updater().ThreadRecord(GetCurrentThreadId()), nullptr);
  // The system no longer knows the hooks: they were removed, not leaked.
  EXPECT_FALSE(UnhookWindowsHookEx(hooks.idle));
  EXPECT_FALSE(UnhookWindowsHookEx(hooks.mouse));
  EXPECT_FALSE(UnhookWindowsHookEx(hooks.keyboard));
}

// A band form with one action whose update is recorded.
struct FormWithAction {
  std::unique_ptr<DUduzDeskBandForm> form;
  gui::TAction* action = nullptr;
  FormWithAction(const HostWindow& host, std::string& log, char id) : form(MakeBandForm(host)) {
    auto& list = form->CreateOwned<gui::TActionList>();
    action = &form->CreateOwned<gui::TAction>();
    action->SetActionList(&list);
    action->OnUpdate = [&log, id](Component&) { log += id; };
  }
};

TEST(HookUpdater, IdleTimeUpdatesTheActionsOfTheThreadsBandFormsInOrder) {
  // Wine never fires WH_FOREGROUNDIDLE, so the hook procedure is called as
  // the system would call it.
  HostWindow host;
  std::string log;
  FormWithAction a(host, log, 'a');
  FormWithAction b(host, log, 'b');
  gui::TApplication& application = gui::Application();

  DUduzHookUpdater::ForegroundIdleProc(HC_ACTION, 0, 0);
  EXPECT_EQ(log, "ab");
  DUduzHookUpdater::ForegroundIdleProc(-1, 0, 0);
  EXPECT_EQ(log, "ab") << "negative codes are only passed on";

  int idles = 0;
  application.OnIdle = [&](Component&, bool& done) {
    ++idles;
    done = false;
  };
  DUduzHookUpdater::ForegroundIdleProc(HC_ACTION, 0, 0);
  EXPECT_EQ(idles, 1);
  EXPECT_EQ(log, "ab") << "an idle handler that is not done holds the updates back";
  application.OnIdle = [&](Component&, bool&) { ++idles; };
  DUduzHookUpdater::ForegroundIdleProc(HC_ACTION, 0, 0);
  EXPECT_EQ(idles, 2);
  EXPECT_EQ(log, "abab");

  // A failing update goes to the application object, not into the host's loop.
  std::string caught;
  application.SetExceptionHook([&](Component*, std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const Exception& e) {
      caught = std::string(e.ClassName()) + ": " + e.Message();
    }
    return true;
  });
  b.action->OnUpdate = [](Component&) { throw EConvertError("update failed"); };
  EXPECT_NO_THROW(DUduzHookUpdater::ForegroundIdleProc(HC_ACTION, 0, 0));
  EXPECT_EQ(caught, "EConvertError: update failed");
  application.SetExceptionHook(nullptr);
  application.OnIdle = nullptr;

  // A thread without band forms is not touched.
  std::thread([] { EXPECT_EQ(DUduzHookUpdater::ForegroundIdleProc(HC_ACTION, 0, 0), 0); }).join();
  EXPECT_EQ(log, "ababa");
}

// Moves the real mouse: the move reaches the thread's WH_MOUSE hook when the
// message is taken from the queue.
void MoveMouseTo(const gui::TControl& control, int x, int y) {
  POINT at{x, y};
  ClientToScreen(const_cast<gui::TControl&>(control).Handle(), &at);
  INPUT move{};
  move.type = INPUT_MOUSE;
  move.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  move.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &move, sizeof move);
  gui::testing::PumpFor(100);
}

TEST(HookUpdater, TheControlUnderTheMouseIsTrackedAndItsHintShown) {
  gui::testing::ScreenLock screen;
  HostWindow host(400, 80);
  host.MakeTopmost();
  auto form = MakeBandForm(host);
  auto& panel = form->CreateOwned<gui::TPanel>();
  auto& button = form->CreateOwned<gui::TSpeedButton>();
  auto& label = form->CreateOwned<gui::TLabel>();
  Design(panel, {{"Left", 0}, {"Top", 0}, {"Width", 250}, {"Height", 60}, {"Hint", "Dock|The dock panel"}});
  Design(button, {{"Left", 8}, {"Top", 8}, {"Width", 23}, {"Height", 22}, {"Hint", "Connect to Vellum"}});
  Design(label, {{"Left", 40},
                 {"Top", 8},
                 {"Width", 100},
                 {"Height", 20},
                 {"Caption", "label"},
                 {"WordWrap", true},
                 {"Enabled", false}});
  panel.SetParent(form.get());
  button.SetParent(&panel);
  label.SetParent(&panel);
  form->CreateHandles();
  gui::TApplication& application = gui::Application();

  MoveMouseTo(button, 10, 10);
  EXPECT_EQ(Updater().ControlHook().Tracked(), button.Handle());
  EXPECT_TRUE(button.MouseInControl()) << "CM_MOUSEENTER reached the button";
  EXPECT_EQ(application.Hint(), "Connect to Vellum");

  // A disabled label without a hint of its own: found all the same, and its
  // parent's long hint is shown.
  MoveMouseTo(label, 5, 5);
  EXPECT_EQ(Updater().ControlHook().Tracked(), label.Handle());
  EXPECT_FALSE(button.MouseInControl()) << "CM_MOUSELEAVE reached the button";
  EXPECT_EQ(application.Hint(), "The dock panel");

  // Over the form (which has no hint) and then over no control at all.
  MoveMouseTo(*form, 280, 30);
  EXPECT_EQ(Updater().ControlHook().Tracked(), form->Handle());
  EXPECT_EQ(application.Hint(), "");
  EXPECT_FALSE(application.HintCancelled());
  MoveMouseTo(*form, 350, 30);  // the host, beyond the form
  EXPECT_EQ(Updater().ControlHook().Tracked(), nullptr);
  EXPECT_TRUE(application.HintCancelled());

  // A tracked control that goes away ends the tracking by itself.
  MoveMouseTo(button, 10, 10);
  ASSERT_EQ(Updater().ControlHook().Tracked(), button.Handle());
  form->DestroyComponent(button);
  EXPECT_EQ(Updater().ControlHook().Tracked(), nullptr);

  // Keys cancel the hint. Real keys go to whichever program of the session
  // is in the foreground, so the hook procedure is called directly.
  MoveMouseTo(label, 5, 5);
  ASSERT_FALSE(application.HintCancelled());
  DUduzHookUpdater::KeyboardProc(HC_ACTION, VK_SHIFT, 0);
  EXPECT_TRUE(application.HintCancelled());
}

TEST(SyncHelper, CallsFromAWorkerRunOnTheBandThreadWhenItDispatchesMessages) {
  HostWindow host;
  auto form = MakeBandForm(host);  // the band unit's window exists from here on
  ASSERT_NE(TSyncHelper::Instance().Window(), nullptr);
  const DWORD band_thread = GetCurrentThreadId();

  DWORD ran_on = 0;
  std::string rethrown;
  std::atomic<bool> worker_done{false};
  std::thread worker([&] {
    gui::Synchronize([&] { ran_on = GetCurrentThreadId(); });
    try {
      gui::Synchronize([] { throw EInvalidOperation("in the call"); });
    } catch (const EInvalidOperation& e) {
      rethrown = e.Message();
    }
    worker_done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return worker_done.load(); }, 3000)) << "the worker was never served";
  worker.join();
  EXPECT_EQ(ran_on, band_thread);
  EXPECT_EQ(rethrown, "in the call");
}

bool ModuleClassRegistered(const char* name) {
  WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  return GetClassInfoExA(gui::ModuleInstance(), name, &info) != FALSE;
}

// The server's tear-down, step by step as it runs at unload: the collector's
// forms go with their windows, the updater takes the hooks of forms nobody
// freed, then the call window and the classes go; the next form starts afresh.
TEST(BandFormTearDown, LeavesNoFormHookWindowOrClassAndTheNextFormStartsAfresh) {
  HostWindow host;
  for (int round = 0; round < 2; ++round) {
    DUduzBaseBandForm& adopted = DUduzGarbageCollector::Instance().Adopt(MakeBandForm(host));
    auto kept = MakeBandForm(host);  // the test's own: the collector does not free it
    HWND adopted_window = adopted.Handle();
    char form_class[128] = {};
    GetClassNameA(adopted_window, form_class, sizeof form_class);
    const TThreadHook* record = Updater().ThreadRecord(GetCurrentThreadId());
    ASSERT_NE(record, nullptr);
    const HookHandles hooks = HooksOf(*record);
    HWND sync_window = TSyncHelper::Instance().Window();
    ASSERT_TRUE(ModuleClassRegistered(form_class)) << round;
    ASSERT_TRUE(ModuleClassRegistered("TVellumSyncHelper")) << round;

    DUduzGarbageCollector::DestroyInstance();
    EXPECT_FALSE(IsWindow(adopted_window));
    ASSERT_EQ(Updater().ThreadRecord(GetCurrentThreadId()), record) << "the kept form still holds the hooks";
    DUduzHookUpdater::DestroyInstance();
    for (HHOOK hook : {hooks.idle, hooks.mouse, hooks.keyboard}) {
      EXPECT_FALSE(UnhookWindowsHookEx(hook)) << "already removed";
    }
    kept.reset();  // leaves a new, empty updater
    TSyncHelper::DestroyInstance();
    EXPECT_FALSE(IsWindow(sync_window));
    gui::UnregisterWindowClasses();
    EXPECT_FALSE(ModuleClassRegistered(form_class));
    EXPECT_FALSE(ModuleClassRegistered("TVellumSyncHelper"));
    EXPECT_EQ(DUduzGarbageCollector::Instance().AdoptedCount(), 0);
    EXPECT_EQ(Updater().ThreadRecord(GetCurrentThreadId()), nullptr);
  }
}

}  // namespace
}  // namespace vellum::shellext

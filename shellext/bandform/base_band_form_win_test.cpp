// Band forms inside a window of "another program" (a window the test makes):
// forced construction values, no frame, focus reported to the band object,
// the taskbar background or none, and the links cut when the shell destroys
// the window.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "runtime/gui/controls_win.h"
#include "runtime/gui/designer.h"
#include "runtime/gui/gui_test_support_win.h"
#include "runtime/win/gdi_win.h"
#include "shellext/bandform/band_form_test_support_win.h"
#include "shellext/bandform/garbage_collector_win.h"
#include "shellext/bandform/hook_updater_win.h"

namespace vellum::shellext {
namespace {

using gui::Design;
using gui::testing::HostWindow;
using gui::testing::PixelCanvas;
using gui::testing::PumpFor;
using gui::testing::PumpUntil;
using testing::FakeBandObject;
using testing::FakeTheme;

bool IsRegistered(const DUduzBaseBandForm& form) {
  const TThreadHook* record = DUduzHookUpdater::Instance().ThreadRecord(GetCurrentThreadId());
  return record != nullptr && std::find(record->forms.begin(), record->forms.end(), &form) != record->forms.end();
}

// A band form whose designer sets the four properties the base forces, with
// a client-aligned panel that shows its parent's background.
class DesignedBandForm : public DUduzDeskBandForm {
 public:
  struct SeenAtCreate {
    bool registered = false;
    gui::TBorderStyle border_style = gui::bsNone;
    gui::TPosition position = gui::poDefault;
    bool theme_bk_gnd = false;
    bool paint_bk_gnd = false;
    bool auto_scroll = true;
  } seen;
  gui::TPanel* panel = nullptr;

  DesignedBandForm() {
    Design(*this, {{"BorderStyle", "bsDialog"},
                   {"Position", "poScreenCenter"},
                   {"ThemeBkGnd", false},
                   {"PaintBkGnd", false},
                   {"AutoScroll", true},
                   {"ClientWidth", 270},
                   {"ClientHeight", 185},
                   {"Visible", true}});
    Design(BandConstraints(), {{"MaxHeight", 40}, {"MinWidth", 100}});
    panel = &CreateOwned<gui::TPanel>();
    Design(*panel, {{"Align", "alClient"}, {"BevelOuter", "bvNone"}, {"ParentBackground", true}});
    panel->SetParent(this);
    OnCreate = [this](Component&) {
      seen = {IsRegistered(*this), BorderStyle(), Position(), ThemeBkGnd(), PaintBkGnd(), AutoScroll()};
    };
  }
};

TEST(BandForm, ConstructionForcesTheBandPropertiesBeforeOnCreateAndDropsTheFrame) {
  HostWindow host;
  auto form = gui::CreateParentedForm<DesignedBandForm>(host.get());
  EXPECT_TRUE(form->seen.registered);
  EXPECT_EQ(form->seen.border_style, gui::bsSizeable);
  EXPECT_EQ(form->seen.position, gui::poDesigned);
  EXPECT_TRUE(form->seen.theme_bk_gnd);
  EXPECT_TRUE(form->seen.paint_bk_gnd);
  EXPECT_FALSE(form->seen.auto_scroll);
  EXPECT_EQ(form->BandConstraints().MaxHeight(), 40) << "designed constraints are kept";
  EXPECT_EQ(form->BandConstraints().MinWidth(), 100);
  EXPECT_EQ(form->BandConstraints().MinHeight(), 0);

  form->CreateHandles();
  const LONG style = GetWindowLongA(form->Handle(), GWL_STYLE);
  EXPECT_EQ(GetParent(form->Handle()), host.get());
  EXPECT_TRUE(style & WS_CHILD);
  EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME), 0);
  RECT client{};
  GetClientRect(form->Handle(), &client);
  EXPECT_EQ(client.right, 270);
  EXPECT_EQ(client.bottom, 185);
  EXPECT_EQ(form->panel->Width(), 270);
}

struct ShownBandForm {
  gui::testing::ScreenLock screen;  // real clicks and pixels read back
  HostWindow host{300, 60};
  std::unique_ptr<DUduzDeskBandForm> form = gui::CreateParentedForm<DUduzDeskBandForm>(host.get());
  gui::TPanel& child = form->CreateOwned<gui::TPanel>();
  FakeBandObject band;

  ShownBandForm() {
    Design(child, {{"Left", 10},
                   {"Top", 10},
                   {"Width", 50},
                   {"Height", 30},
                   {"BevelOuter", "bvNone"},
                   {"ParentBackground", true}});
    child.SetParent(form.get());
    form->SetBounds(0, 0, 300, 60);
    form->Show();
    form->SetBandObject(&band);
    host.MakeTopmost();
    UpdateWindow(host.get());
  }
  // What the screen shows of the form, after a full repaint of the host.
  COLORREF ScreenPixel(int x, int y) {
    RedrawWindow(host.get(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PixelCanvas canvas(300, 60, RGB(1, 2, 3));
    const win::WindowDC dc(host.get());
    BitBlt(canvas.dc(), 0, 0, 300, 60, dc.get(), 0, 0, SRCCOPY);
    return canvas.At(x, y);
  }
};

TEST(BandForm, FocusChangesOfTheFormAndClicksOnItsChildrenReachTheBandObject) {
  ShownBandForm shown;
  SetActiveWindow(shown.host.get());
  SetFocus(shown.form->Handle());
  SetFocus(shown.host.get());
  EXPECT_EQ(shown.band.focus_changes, (std::vector<bool>{true, false}));

  // A panel takes no focus when clicked; the click still tells the site that
  // the band is being used. A real click, through the system's input queue.
  shown.band.focus_changes.clear();
  POINT centre{35, 25};
  ClientToScreen(shown.form->Handle(), &centre);
  SetCursorPos(centre.x, centre.y);
  INPUT clicks[2] = {};
  clicks[0].type = clicks[1].type = INPUT_MOUSE;
  clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, clicks, sizeof(INPUT));
  ASSERT_TRUE(PumpUntil([&] { return !shown.band.focus_changes.empty(); }, 2000)) << "no report of the click";
  EXPECT_EQ(shown.band.focus_changes, std::vector<bool>{true});
  EXPECT_EQ(GetFocus(), shown.host.get()) << "the panel took no focus";

  // Right and middle buttons count; other child notifications do not.
  shown.band.focus_changes.clear();
  const LPARAM at = MAKELPARAM(20, 20);
  for (WPARAM event : {WPARAM{WM_RBUTTONDOWN}, WPARAM{WM_MBUTTONDOWN}, WPARAM{WM_LBUTTONUP}, WPARAM{WM_XBUTTONDOWN}}) {
    SendMessageA(shown.form->Handle(), WM_PARENTNOTIFY, event, at);
  }
  SendMessageA(shown.form->Handle(), WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, 0),
               reinterpret_cast<LPARAM>(shown.child.Handle()));
  EXPECT_EQ(shown.band.focus_changes, (std::vector<bool>{true, true}));

  // Without a band object nothing is reported and nothing fails.
  shown.form->SetBandObject(nullptr);
  SendMessageA(shown.form->Handle(), WM_PARENTNOTIFY, WM_LBUTTONDOWN, at);
  SetFocus(shown.form->Handle());
  EXPECT_EQ(shown.band.focus_changes.size(), 2u);
}

TEST(BandForm, PaintBkGndOffPaintsNothingAtAllNotEvenThroughChildren) {
  ShownBandForm shown;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  ASSERT_EQ(shown.ScreenPixel(150, 30), face);
  ASSERT_EQ(shown.ScreenPixel(20, 20), face) << "the child shows the form's background";

  shown.form->SetPaintBkGnd(false);
  EXPECT_EQ(shown.ScreenPixel(150, 30), RGB(255, 0, 255)) << "the host's background stays visible";
  EXPECT_EQ(shown.ScreenPixel(20, 20), RGB(255, 0, 255));

  FakeTheme theme;
  PixelCanvas canvas(300, 60, RGB(1, 2, 3));
  EXPECT_EQ(SendMessageA(shown.form->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc()), 0), 1)
      << "answered as erased";
  SendMessageA(shown.child.Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc()), 0);
  EXPECT_EQ(canvas.Count(RGB(1, 2, 3), 0, 0, 300, 60), 300 * 60);
  EXPECT_TRUE(FakeTheme::Current().opened_classes.empty());
}

TEST(BandForm, ThemedBackgroundIsTheTaskbarPartWhenEverythingAllowsIt) {
  ShownBandForm shown;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  auto erase = [&](HWND window) {
    PixelCanvas canvas(300, 60, RGB(1, 2, 3));
    SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc()), 0);
    return canvas.At(5, 5);
  };
  {
    FakeTheme theme;
    EXPECT_EQ(erase(shown.form->Handle()), FakeTheme::kTaskbarColor);
    EXPECT_EQ(erase(shown.child.Handle()), FakeTheme::kTaskbarColor) << "the child shows the form's background";
    const FakeTheme::State& calls = FakeTheme::Current();
    ASSERT_EQ(calls.opened_classes.size(), 2u);
    EXPECT_EQ(calls.opened_classes[0], L"TASKBAR");
    EXPECT_EQ(calls.opened_windows[0], shown.form->Handle());
    EXPECT_EQ(calls.parts, (std::vector<int>{1, 1}));
    EXPECT_EQ(calls.states, (std::vector<int>{0, 0}));
    EXPECT_EQ(calls.closes, 2);

    FakeTheme::Current().draw_fails = true;
    erase(shown.form->Handle());
    EXPECT_EQ(FakeTheme::Current().closes, 3) << "closed also when drawing failed";

    // The ordinary background, without opening the theme, whenever one
    // condition fails.
    FakeTheme::Current().draw_fails = false;
    const std::size_t opened = FakeTheme::Current().opened_classes.size();
    shown.band.SetViewMode(ebmFloating);
    EXPECT_EQ(erase(shown.form->Handle()), face);
    shown.band.SetViewMode(ebmTransparent);
    EXPECT_EQ(erase(shown.form->Handle()), face);
    shown.band.SetViewMode(ebmVertical);
    EXPECT_EQ(erase(shown.form->Handle()), FakeTheme::kTaskbarColor);
    shown.form->SetThemeBkGnd(false);
    EXPECT_EQ(erase(shown.form->Handle()), face);
    shown.form->SetThemeBkGnd(true);
    shown.form->SetBandObject(nullptr);
    EXPECT_EQ(erase(shown.form->Handle()), face);
    shown.form->SetBandObject(&shown.band);
    EXPECT_EQ(FakeTheme::Current().opened_classes.size(), opened + 1);
  }
  for (auto [active, app_themed] : {std::pair{false, true}, std::pair{true, false}}) {
    FakeTheme theme(active, app_themed);
    EXPECT_EQ(erase(shown.form->Handle()), face);
    EXPECT_TRUE(FakeTheme::Current().opened_classes.empty());
  }
  // The machine's own functions: Wine has no taskbar theme class, so the
  // ordinary background is what it gets.
  EXPECT_EQ(erase(shown.form->Handle()), face);
}

TEST(BandForm, DestroyingTheWindowCutsEveryLinkAndQueuesTheForm) {
  ShownBandForm shown;
  DUduzGarbageCollector& collector = DUduzGarbageCollector::Instance();
  const int queued = collector.QueuedCount();
  ASSERT_TRUE(IsRegistered(*shown.form));

  shown.host.Destroy();
  EXPECT_EQ(shown.band.releases, 1);
  EXPECT_EQ(shown.form->BandObject(), nullptr);
  EXPECT_FALSE(IsRegistered(*shown.form));
  EXPECT_FALSE(shown.form->HandleAllocated());
  EXPECT_EQ(collector.QueuedCount(), queued + 1);
  EXPECT_TRUE(collector.TimerRunning());

  // This form is not the collector's: its owner frees it, and the queue
  // forgets it then rather than keeping a pointer to freed memory.
  shown.form.reset();
  EXPECT_EQ(collector.QueuedCount(), queued);
  PumpFor(2 * DUduzGarbageCollector::kPeriodMs);
  EXPECT_EQ(shown.band.releases, 1);
}

}  // namespace
}  // namespace vellum::shellext

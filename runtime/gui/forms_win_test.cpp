// Forms and controls as windows: alignment of children, bounds that follow
// the window, designed client sizes, actions seen through menu items, and
// the modal loop with its result.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/exception.h"
#include "runtime/gui/action_win.h"
#include "runtime/gui/controls_win.h"
#include "runtime/gui/designer.h"
#include "runtime/gui/form_win.h"
#include "runtime/gui/gui_test_support_win.h"
#include "runtime/gui/menu_win.h"

namespace vellum::gui {
namespace {

using testing::PumpUntil;

RECT BoundsOf(const TControl& control) {
  return {control.Left(), control.Top(), control.Left() + control.Width(), control.Top() + control.Height()};
}

RECT WindowBoundsInParent(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

::testing::AssertionResult SameRect(const RECT& actual, const RECT& expected) {
  if (EqualRect(&actual, &expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << actual.left << "," << actual.top << ")-(" << actual.right << ","
                                       << actual.bottom << ") instead of (" << expected.left << "," << expected.top
                                       << ")-(" << expected.right << "," << expected.bottom << ")";
}

// A bsNone form of client 300 x 200 with one child per alignment.
struct AlignedChildren {
  std::unique_ptr<TForm> form = CreateForm<TForm>();
  TPanel& top = Child(alTop);
  TPanel& bottom = Child(alBottom);
  TPanel& left = Child(alLeft);
  TPanel& right = Child(alRight);
  TPanel& client = Child(alClient);

  AlignedChildren() {
    form->SetBorderStyle(bsNone);
    form->SetBounds(0, 0, 300, 200);
    top.SetHeight(20);
    bottom.SetHeight(30);
    left.SetWidth(40);
    right.SetWidth(50);
  }
  TPanel& Child(TAlign align) {
    TPanel& panel = form->CreateOwned<TPanel>();
    panel.SetParent(form.get());
    panel.SetAlign(align);
    return panel;
  }
  void ExpectLayout(int width, int height) const {
    EXPECT_TRUE(SameRect(BoundsOf(top), {0, 0, width, 20}));
    EXPECT_TRUE(SameRect(BoundsOf(bottom), {0, height - 30, width, height}));
    EXPECT_TRUE(SameRect(BoundsOf(left), {0, 20, 40, height - 30}));
    EXPECT_TRUE(SameRect(BoundsOf(right), {width - 50, 20, width, height - 30}));
    EXPECT_TRUE(SameRect(BoundsOf(client), {40, 20, width - 50, height - 30}));
  }
};

TEST(Layout, AlignedChildrenShareTheClientAreaBeforeAndAfterTheirWindowsExist) {
  AlignedChildren designed;
  designed.ExpectLayout(300, 200);
  EXPECT_FALSE(designed.client.HandleAllocated());

  AlignedChildren shown;
  int client_resizes = 0;
  shown.client.OnResize = [&](Component&) { ++client_resizes; };
  shown.form->Show();
  ASSERT_TRUE(shown.client.HandleAllocated());
  shown.ExpectLayout(300, 200);
  EXPECT_TRUE(SameRect(WindowBoundsInParent(shown.client.Handle()), BoundsOf(shown.client)));

  // Resized from outside, as a host resizes a band: the children follow.
  SetWindowPos(shown.form->Handle(), nullptr, 0, 0, 400, 250, SWP_NOZORDER | SWP_NOMOVE);
  shown.ExpectLayout(400, 250);
  EXPECT_TRUE(SameRect(WindowBoundsInParent(shown.client.Handle()), BoundsOf(shown.client)));
  EXPECT_EQ(client_resizes, 1);
  SetWindowPos(shown.form->Handle(), nullptr, 10, 10, 400, 250, SWP_NOZORDER);
  EXPECT_EQ(client_resizes, 1) << "a move is no resize";

  // A hidden aligned child gives its space to the others.
  shown.top.SetVisible(false);
  EXPECT_TRUE(SameRect(BoundsOf(shown.client), {40, 0, 350, 220}));
}

TEST(Layout, DesignedClientSizeIsTheClientAreaOfAFramedForm) {
  for (TBorderStyle style : {bsDialog, bsSizeable, bsNone}) {
    std::unique_ptr<TForm> form = CreateForm<TForm>();
    Design(*form, {{"BorderStyle", style == bsDialog     ? "bsDialog"
                                   : style == bsSizeable ? "bsSizeable"
                                                         : "bsNone"},
                   {"ClientWidth", 333},
                   {"ClientHeight", 213}});
    form->Show();
    RECT client{};
    GetClientRect(form->Handle(), &client);
    EXPECT_EQ(client.right, 333) << "border style " << style;
    EXPECT_EQ(client.bottom, 213) << "border style " << style;
    EXPECT_EQ(form->ClientWidth(), 333);
  }
}

TEST(Layout, DesignerNamesThePropertyThatRefusesAValue) {
  TPanel panel;
  try {
    Design(panel, {{"Align", "alMiddle"}});
    FAIL() << "no error";
  } catch (const EPropertyError& e) {
    EXPECT_NE(e.Message().find("TPanel.Align"), std::string::npos) << e.Message();
  }
}

TEST(Actions, MenuItemsShowTheirActionsAsTheyAreWhenTheMenuOpens) {
  auto form = CreateForm<TForm>();
  TActionList& list = form->CreateOwned<TActionList>();
  TAction& first = form->CreateOwned<TAction>();
  TAction& second = form->CreateOwned<TAction>();
  first.SetCaption("First");
  second.SetCaption("Second");
  first.SetActionList(&list);
  second.SetActionList(&list);
  TPopupMenu& menu = form->CreateOwned<TPopupMenu>();
  TMenuItem& linked_first = form->CreateOwned<TMenuItem>();
  TMenuItem& linked_second = form->CreateOwned<TMenuItem>();
  TMenuItem& plain = form->CreateOwned<TMenuItem>();
  linked_first.SetAction(&first);
  linked_second.SetAction(&second);
  plain.SetCaption("Plain");
  for (TMenuItem* item : {&linked_first, &linked_second, &plain}) menu.Items().Add(*item);

  auto captions = [&] {
    std::vector<std::string> result;
    for (const auto& entry : menu.VisibleEntries()) result.push_back(entry.caption + (entry.enabled ? "" : "(off)"));
    return result;
  };
  EXPECT_EQ(captions(), (std::vector<std::string>{"First", "Second", "Plain"}));

  // OnUpdate runs for every action of the form's lists, in list order.
  std::string updated;
  first.OnUpdate = [&](Component&) {
    updated += "1";
    first.SetVisible(false);
  };
  second.OnUpdate = [&](Component&) {
    updated += "2";
    second.SetEnabled(false);
    second.SetCaption("Second!");
  };
  form->UpdateActions();
  EXPECT_EQ(updated, "12");
  EXPECT_EQ(captions(), (std::vector<std::string>{"Second!(off)", "Plain"}));

  // A disabled action does not run, even when clicked through its item.
  int executed = 0;
  second.OnExecute = [&](Component&) { ++executed; };
  linked_second.Click();
  EXPECT_EQ(executed, 0);
  second.OnUpdate = nullptr;
  second.SetEnabled(true);
  linked_second.Click();
  EXPECT_EQ(executed, 1);

  // Freeing an action unlinks its item and its list.
  form->DestroyComponent(second);
  EXPECT_EQ(linked_second.Action(), nullptr);
  EXPECT_EQ(list.Actions().size(), 1u);
  form->UpdateActions();
  EXPECT_EQ(updated,
            "12"
            "2"
            "1")
      << "Execute lets the action update itself first";
}

// Runs `step` from a thread timer while a modal loop is running; should the
// loop still run two seconds later, closes `form` so that a failure cannot
// hang the test.
class DuringModal {
 public:
  DuringModal(TCustomForm& form, std::function<void()> step) {
    Current() = std::move(step);
    timer_ = SetTimer(nullptr, 0, 50, &Tick);
    Window() = form.Handle();
    safety_ = SetTimer(nullptr, 0, 2000, &Safety);
  }
  ~DuringModal() {
    KillTimer(nullptr, timer_);
    KillTimer(nullptr, safety_);
    Current() = nullptr;
  }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (Current()) std::exchange(Current(), nullptr)();
  }
  static void CALLBACK Safety(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageA(Window(), WM_CLOSE, 0, 0);
  }
  static HWND& Window() {
    static HWND window = nullptr;
    return window;
  }
  static std::function<void()>& Current() {
    static std::function<void()> step;
    return step;
  }
  UINT_PTR timer_ = 0;
  UINT_PTR safety_ = 0;
};

struct ModalForm {
  std::unique_ptr<TForm> form = CreateForm<TForm>();
  TButton& ok = form->CreateOwned<TButton>();
  TButton& plain = form->CreateOwned<TButton>();
  int shows = 0;
  int closes = 0;
  ModalForm() {
    Design(*form, {{"BorderStyle", "bsDialog"}, {"Caption", "Modal test"}});
    Design(ok, {{"Caption", "OK"}, {"ModalResult", mrOk}, {"Default", true}});
    Design(plain, {{"Caption", "Other"}, {"Left", 100}});
    ok.SetParent(form.get());
    plain.SetParent(form.get());
    form->OnShow = [this](Component&) { ++shows; };
    form->OnClose = [this](Component&, TCloseAction&) { ++closes; };
  }
};

TEST(Modal, TheLoopEndsWithTheResultOfTheButtonOrOfClosing) {
  testing::HostWindow other;
  ModalForm modal;
  bool other_disabled_meanwhile = false;
  int clicks_on_plain = 0;
  modal.plain.OnClick = [&](Component&) { ++clicks_on_plain; };
  {
    DuringModal step(*modal.form, [&] {
      other_disabled_meanwhile = !IsWindowEnabled(other.get());
      SendMessageA(modal.plain.Handle(), BM_CLICK, 0, 0);  // a button without a result keeps the loop going
      SendMessageA(modal.ok.Handle(), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(modal.form->ShowModal(), mrOk);
  }
  EXPECT_EQ(clicks_on_plain, 1);
  EXPECT_TRUE(other_disabled_meanwhile) << "the thread's other windows are disabled while the form is modal";
  EXPECT_TRUE(IsWindowEnabled(other.get()));
  EXPECT_FALSE(IsWindowVisible(modal.form->Handle()));
  EXPECT_EQ(modal.shows, 1);
  EXPECT_EQ(modal.closes, 1);

  {
    DuringModal step(*modal.form, [&] { PostMessageA(modal.form->Handle(), WM_CLOSE, 0, 0); });
    EXPECT_EQ(modal.form->ShowModal(), mrCancel);
  }
  {
    DuringModal step(*modal.form, [&] { PostMessageA(modal.form->Handle(), WM_KEYDOWN, VK_ESCAPE, 0); });
    EXPECT_EQ(modal.form->ShowModal(), mrCancel);
  }
  {
    // Enter chooses the default button.
    DuringModal step(*modal.form, [&] { PostMessageA(modal.form->Handle(), WM_KEYDOWN, VK_RETURN, 0); });
    EXPECT_EQ(modal.form->ShowModal(), mrOk);
  }
  EXPECT_EQ(modal.shows, 4);
  EXPECT_EQ(modal.closes, 4);
}

}  // namespace
}  // namespace vellum::gui

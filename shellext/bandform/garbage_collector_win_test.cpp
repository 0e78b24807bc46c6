// The collector frees band forms from its timer once the shell destroyed
// their windows: never inside their own WM_DESTROY, in queue order, and
// never a form whose window still exists.
#include "shellext/bandform/garbage_collector_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "runtime/gui/gui_test_support_win.h"

namespace vellum::shellext {
namespace {

using gui::testing::HostWindow;
using gui::testing::PumpFor;
using gui::testing::PumpUntil;

// Records when and where it was freed.
class WatchedForm : public DUduzDeskBandForm {
 public:
  static std::string& Freed() {
    static std::string freed;
    return freed;
  }
  static bool& FreedInsideDestroy() {
    static bool inside = false;
    return inside;
  }

  explicit WatchedForm(char id = '?') : id_(id) {}
  ~WatchedForm() override {
    Freed() += id_;
    if (in_destroy_) FreedInsideDestroy() = true;
  }

 protected:
  void WndProc(gui::Message& message) override {
    const bool destroying = message.msg == WM_DESTROY;
    if (destroying) in_destroy_ = true;
    DUduzDeskBandForm::WndProc(message);
    if (destroying) in_destroy_ = false;
  }

 private:
  char id_;
  bool in_destroy_ = false;
};

DUduzBaseBandForm& AdoptFormIn(const HostWindow& host, char id) {
  auto form = std::make_unique<WatchedForm>(id);
  form->SetParentWindow(host.get());
  form->AfterConstruction();
  form->Show();
  return DUduzGarbageCollector::Instance().Adopt(std::move(form));
}

TEST(GarbageCollector, FreesFormsFromItsTimerOnlyAfterTheirWindowsAreGone) {
  DUduzGarbageCollector& collector = DUduzGarbageCollector::Instance();
  WatchedForm::Freed().clear();
  HostWindow first_host, second_host, lasting_host;
  AdoptFormIn(first_host, 'a');
  AdoptFormIn(second_host, 'b');
  AdoptFormIn(lasting_host, 'c');
  const int adopted = collector.AdoptedCount();

  // Destroying the hosts destroys the forms' windows; the forms live on
  // until the timer comes, in the order their windows went.
  second_host.Destroy();
  first_host.Destroy();
  EXPECT_EQ(WatchedForm::Freed(), "");
  EXPECT_EQ(collector.QueuedCount(), 2);
  EXPECT_TRUE(collector.TimerRunning());
  const DWORD destroyed_at = GetTickCount();
  ASSERT_TRUE(PumpUntil([] { return WatchedForm::Freed().size() == 2; }, 3000));
  // One period plus generous slack for a loaded machine: the point is that
  // the timer, not some later event, frees them.
  EXPECT_LT(GetTickCount() - destroyed_at, 5 * DUduzGarbageCollector::kPeriodMs);
  EXPECT_EQ(WatchedForm::Freed(), "ba");
  EXPECT_FALSE(WatchedForm::FreedInsideDestroy());
  EXPECT_EQ(collector.AdoptedCount(), adopted - 2);
  EXPECT_EQ(collector.QueuedCount(), 0);

  // Ticks with an empty queue free nothing, and the form whose window still
  // exists stays; the timer keeps running.
  PumpFor(3 * DUduzGarbageCollector::kPeriodMs);
  EXPECT_EQ(WatchedForm::Freed(), "ba");
  EXPECT_TRUE(collector.TimerRunning());

  lasting_host.Destroy();
  ASSERT_TRUE(PumpUntil([] { return WatchedForm::Freed() == "bac"; }, 3000));
  EXPECT_FALSE(WatchedForm::FreedInsideDestroy());
}

}  // namespace
}  // namespace vellum::shellext

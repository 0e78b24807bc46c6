#include "exceptlog/capture/freeze/freeze_rules.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

TEST(MainWindowCandidate, OnlyAVisibleUnownedWindowOfThisProcessThatIsNoPlainToolWindow) {
  const TopLevelWindowFacts main{.of_this_process = true, .visible = true};
  EXPECT_TRUE(IsMainWindowCandidate(main));

  auto changed = [&](auto change) {
    TopLevelWindowFacts facts = main;
    change(facts);
    return IsMainWindowCandidate(facts);
  };
  EXPECT_FALSE(changed([](auto& f) { f.of_this_process = false; }));
  EXPECT_FALSE(changed([](auto& f) { f.visible = false; }));
  EXPECT_FALSE(changed([](auto& f) { f.owned = true; }));
  EXPECT_FALSE(changed([](auto& f) { f.tool_window = true; }));
  EXPECT_TRUE(changed([](auto& f) { f.tool_window = f.app_window = true; }));
}

int ProbesUntilReport(FreezeCounter& counter, int limit) {
  for (int probe = 1; probe <= limit; ++probe) {
    if (counter.Probe(false)) return probe;
  }
  return -1;
}

TEST(FreezeCounter, ReportsOncePerLimitOfUnbrokenSilence) {
  FreezeCounter counter(2);
  // 2 s of 50 ms probes: 40 of them, and the 40th reports.
  EXPECT_EQ(ProbesUntilReport(counter, 1000), 40);
  // The count starts again: a window that stays silent is reported again
  // after another full limit, not at the next probe.
  EXPECT_EQ(ProbesUntilReport(counter, 1000), 40);
}

TEST(FreezeCounter, AnAnswerStartsTheCountAgain) {
  FreezeCounter counter(1);
  for (int i = 0; i < 19; ++i) EXPECT_FALSE(counter.Probe(false));
  EXPECT_FALSE(counter.Probe(true));
  EXPECT_EQ(counter.SilentMilliseconds(), 0);
  EXPECT_EQ(ProbesUntilReport(counter, 1000), 20);
}

TEST(FreezeCounter, NoLimitBelowOneSecondAndNoOverflowAtTheTop) {
  for (int seconds : {0, -5}) {
    FreezeCounter counter(seconds);
    EXPECT_FALSE(counter.Probe(true)) << "an answering window is never frozen";
    EXPECT_EQ(counter.LimitMilliseconds(), 1000);
  }
  EXPECT_EQ(FreezeCounter(2147483647).LimitMilliseconds(), 2147483647LL * 1000);
}

}  // namespace
}  // namespace vellum::exceptlog

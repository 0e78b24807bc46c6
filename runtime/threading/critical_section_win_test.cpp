#include "runtime/threading/critical_section_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "runtime/threading/function_thread_win.h"
#include "runtime/threading/thread_list_win.h"
#include "runtime/threading/thread_probe_test_support_win.h"

namespace vellum {
namespace {

TEST(CriticalSection, ContendingThreadsNeverLoseAnUpdate) {
  CriticalSection section;
  long long total = 0;  // plain on purpose: only the section protects it
  std::vector<std::unique_ptr<FunctionThread>> threads;
  for (int t = 0; t < 4; ++t) {
    threads.push_back(StartThread<FunctionThread>([&](FunctionThread&) {
      for (int i = 0; i < 20000; ++i) {
        CriticalSectionLock lock(section);
        const long long before = total;
        if (i % 1000 == 0) Sleep(0);  // invite a switch in the middle
        total = before + 1;
      }
    }));
  }
  for (auto& thread : threads) thread->WaitFor();
  EXPECT_EQ(total, 80000);
}

TEST(CriticalSection, TryEnterFailsOnlyWhileAnotherThreadHoldsIt) {
  CriticalSection section;
  std::atomic<int> other_got_it{-1};
  auto try_from_other_thread = [&] {
    FunctionThread thread([&](FunctionThread&) {
      const bool entered = section.TryEnter();
      if (entered) section.Leave();
      other_got_it = entered ? 1 : 0;
    });
    thread.Start();
    thread.WaitFor();
    return other_got_it.load();
  };
  section.Enter();
  EXPECT_TRUE(section.TryEnter()) << "the owner re-enters";
  section.Leave();
  EXPECT_EQ(try_from_other_thread(), 0);
  section.Leave();
  EXPECT_EQ(try_from_other_thread(), 1);
}

TEST(ThreadList, AddsFromManyThreadsAndHonoursDuplicates) {
  ThreadList<int> list;
  std::vector<int> values(200);
  std::vector<std::unique_ptr<FunctionThread>> threads;
  for (int t = 0; t < 4; ++t) {
    threads.push_back(StartThread<FunctionThread>([&](FunctionThread&) {
      for (int& value : values) list.Add(&value);  // every thread adds the same pointers
    }));
  }
  for (auto& thread : threads) thread->WaitFor();
  EXPECT_EQ(list.Count(), 200) << "dupIgnore keeps one of each";

  list.SetDuplicates(dupError);
  EXPECT_THROW(list.Add(&values[0]), EListError);
  list.SetDuplicates(dupAccept);
  list.Add(&values[0]);
  EXPECT_EQ(list.Count(), 201);
  list.Remove(&values[0]);
  list.Remove(&values[0]);
  list.Remove(&values[0]);
  EXPECT_FALSE(list.Contains(&values[0]));
  EXPECT_EQ(list.TakeAll().size(), 199u);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ThreadList, ALockedViewKeepsOtherThreadsOutUntilUnlocked) {
  LockedList<int> list;
  int a = 1;
  int b = 2;
  auto view = list.LockList();
  view.Add(&a);
  std::atomic<bool> adding{false};
  std::atomic<bool> added{false};
  auto adder = StartThread<FunctionThread>([&](FunctionThread&) {
    adding = true;
    list.Add(&b);
    added = true;
  });
  // Not ASSERT: leaving now would keep the view locked and the adder blocked.
  EXPECT_TRUE(testing::YieldUntil([&] { return adding.load(); }));
  testing::YieldManyTimes();
  EXPECT_TRUE(testing::StillRunning(adder->Handle()));
  EXPECT_FALSE(added) << "the other thread waits for the view";
  EXPECT_EQ(view.Count(), 1);
  EXPECT_EQ(view[0], &a);
  EXPECT_THROW(view[1], EListError);
  view.UnlockList();
  EXPECT_THROW(view.Count(), EInvalidOperation) << "an unlocked view is no longer usable";
  adder->WaitFor();
  EXPECT_TRUE(added);
  auto again = list.LockList();
  EXPECT_EQ(again.IndexOf(&b), 1);
}

}  // namespace
}  // namespace vellum

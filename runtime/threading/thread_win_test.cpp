#include "runtime/threading/thread_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "runtime/exception.h"
#include "runtime/threading/function_thread_win.h"
#include "runtime/threading/thread_probe_test_support_win.h"

namespace vellum {
namespace {

// Signals its own destruction, to see a self-freeing thread go.
class SelfFreeingThread : public Thread {
 public:
  SelfFreeingThread(HANDLE destroyed, bool fail) : destroyed_(destroyed), fail_(fail) {}
  ~SelfFreeingThread() override { SetEvent(destroyed_); }

 protected:
  void Execute() override {
    SetReturnValue(5);
    if (fail_) throw EAbort("escaped from a freeing thread");
  }

 private:
  HANDLE destroyed_;
  bool fail_;
};

// Installs a hook for one test and puts back the previous one.
class HookScope {
 public:
  explicit HookScope(ThreadExceptionHook hook) : previous_(SetThreadExceptionHook(std::move(hook))) {}
  ~HookScope() { SetThreadExceptionHook(std::move(previous_)); }

 private:
  ThreadExceptionHook previous_;
};

TEST(Thread, RunsOnlyAfterStartAndAnswersItsReturnValue) {
  std::atomic<DWORD> seen_id{0};
  FunctionThread thread([&](FunctionThread& self) {
    seen_id = GetCurrentThreadId();
    self.SetReturnValue(-3);
  });
  ASSERT_NE(thread.Handle(), nullptr);
  ASSERT_NE(thread.ThreadID(), 0u);
  DWORD exit_code = 0;
  EXPECT_THROW(thread.WaitFor(), EInvalidOperation) << "waiting for a thread that never started would hang";
  EXPECT_EQ(testing::SuspendCount(thread.Handle()), 1u) << "the system holds a new thread until Start";
  EXPECT_EQ(seen_id, 0u) << "a new thread waits for Start";

  thread.Start();
  EXPECT_THROW(thread.Start(), EInvalidOperation);
  EXPECT_EQ(thread.WaitFor(), static_cast<DWORD>(-3)) << "the exit code is the return value";
  EXPECT_EQ(seen_id, thread.ThreadID());
  EXPECT_TRUE(thread.Finished());
  EXPECT_TRUE(thread.WaitFor(0, exit_code));
  EXPECT_EQ(thread.ReturnValue(), -3);
  EXPECT_FALSE(thread.FatalException());
}

TEST(Thread, TerminateIsAFlagExecutePolls) {
  std::atomic<int> rounds{0};
  FunctionThread thread([&](FunctionThread& self) {
    while (!self.Terminated()) {
      ++rounds;
      Sleep(1);
    }
    self.SetReturnValue(rounds);
  });
  thread.Start();
  ASSERT_TRUE(testing::YieldUntil([&] { return rounds >= 3; })) << "the thread never went round its loop";
  DWORD exit_code = 0;
  EXPECT_FALSE(thread.WaitFor(0, exit_code)) << "still polling";
  thread.Terminate();
  EXPECT_TRUE(thread.Terminated());
  EXPECT_GT(static_cast<int>(thread.WaitFor()), 0);
}

TEST(Thread, DestroyingStopsRunningAndNeverStartedThreads) {
  std::atomic<bool> executed{false};
  {
    FunctionThread never_started([&](FunctionThread&) { executed = true; });
  }
  EXPECT_FALSE(executed) << "destroying a thread that never started does not run Execute";

  std::atomic<bool> left_loop{false};
  {
    FunctionThread running([&](FunctionThread& self) {
      while (!self.Terminated()) Sleep(1);
      left_loop = true;
    });
    running.Start();
    running.Suspend();
    EXPECT_TRUE(running.Suspended());
  }
  EXPECT_TRUE(left_loop) << "the destructor resumes, terminates and waits";
}

TEST(Thread, SuspendStopsTheThreadUntilResumed) {
  std::atomic<int> counter{0};
  FunctionThread thread([&](FunctionThread& self) {
    while (!self.Terminated()) ++counter;
  });
  thread.Start();
  ASSERT_TRUE(testing::YieldUntil([&] { return counter != 0; }));
  thread.Suspend();
  ASSERT_TRUE(testing::WaitUntilStopped(thread.Handle()));
  EXPECT_EQ(testing::SuspendCount(thread.Handle()), 1u);
  const int frozen = counter;
  testing::YieldManyTimes();
  EXPECT_EQ(counter, frozen);
  thread.Resume();
  EXPECT_FALSE(thread.Suspended());
  ASSERT_TRUE(testing::YieldUntil([&] { return counter != frozen; })) << "the resumed thread does not count";
  thread.Terminate();
  thread.WaitFor();
}

TEST(Thread, PriorityIsSetAndReadBack) {
  FunctionThread thread([](FunctionThread&) {});
  EXPECT_EQ(thread.Priority(), tpNormal);
  for (const ThreadPriority priority : {tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical}) {
    thread.SetPriority(priority);
    EXPECT_EQ(thread.Priority(), priority) << priority;
  }
  EXPECT_THROW(thread.SetPriority(static_cast<ThreadPriority>(9)), EInvalidOperation);
}

TEST(Thread, FreeOnTerminateDeletesTheObjectAfterExecute) {
  win::UniqueKernelHandle destroyed(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const DWORD id = StartDetachedThread<SelfFreeingThread>(destroyed.get(), false);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(WaitForSingleObject(destroyed.get(), 5000), WAIT_OBJECT_0);
}

TEST(Thread, AnExceptionEscapingExecuteIsKeptWithoutAHook) {
  HookScope no_hook{ThreadExceptionHook{}};
  FunctionThread thread([](FunctionThread& self) {
    self.SetReturnValue(9);
    throw std::runtime_error("lost in a thread");
  });
  thread.Start();
  EXPECT_EQ(thread.WaitFor(), 9u) << "the thread ends normally";
  ASSERT_TRUE(thread.FatalException());
  try {
    std::rethrow_exception(thread.FatalException());
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "lost in a thread");
  }
}

TEST(Thread, AnExceptionEscapingExecuteReachesTheHookInItsThread) {
  struct Seen {
    std::string message;
    DWORD hook_thread = 0;
    DWORD object_thread = 0;
  } seen;
  HookScope hook([&](std::exception_ptr error, Thread& thread) {
    seen.hook_thread = GetCurrentThreadId();
    seen.object_thread = thread.ThreadID();
    try {
      std::rethrow_exception(error);
    } catch (const Exception& e) {
      seen.message = std::string(e.ClassName()) + ": " + e.Message();
    }
  });
  FunctionThread thread([](FunctionThread&) { throw EConvertError("bad number"); });
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(seen.message, "EConvertError: bad number");
  EXPECT_EQ(seen.hook_thread, thread.ThreadID());
  EXPECT_EQ(seen.object_thread, thread.ThreadID());
  EXPECT_TRUE(thread.FatalException()) << "kept as well";

  // A self-freeing thread's exception reaches the hook before the object goes.
  win::UniqueKernelHandle destroyed(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::atomic<bool> object_alive_in_hook{false};
  SetThreadExceptionHook([&](std::exception_ptr, Thread&) {
    object_alive_in_hook = WaitForSingleObject(destroyed.get(), 0) == WAIT_TIMEOUT;
  });
  StartDetachedThread<SelfFreeingThread>(destroyed.get(), true);
  ASSERT_EQ(WaitForSingleObject(destroyed.get(), 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(object_alive_in_hook);
}

TEST(Thread, AFailingHookDoesNotBreakTheThreadBoundary) {
  HookScope hook([](std::exception_ptr, Thread&) { throw std::logic_error("reporter broke"); });
  FunctionThread thread([](FunctionThread& self) {
    self.SetReturnValue(1);
    throw 42;  // not even a std::exception
  });
  thread.Start();
  EXPECT_EQ(thread.WaitFor(), 1u);
  EXPECT_TRUE(thread.FatalException());
}

TEST(Thread, SetThreadExceptionHookAnswersThePreviousHook) {
  int calls = 0;
  ThreadExceptionHook first = [&](std::exception_ptr, Thread&) { ++calls; };
  ThreadExceptionHook before = SetThreadExceptionHook(first);
  ThreadExceptionHook replaced = SetThreadExceptionHook(before);
  ASSERT_TRUE(replaced);
  FunctionThread thread([](FunctionThread&) {});
  replaced(nullptr, thread);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace vellum

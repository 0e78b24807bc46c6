// The exception manager inside a program that carries the subsystem (this
// test program has its own stored block): what reaches the pipeline, what
// handlers, filters and steps see and change, and how it holds up when many
// threads raise at once or the pipeline itself fails.
#include "exceptlog/capture/manager/exception_manager_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/manager/catch_points_win.h"
#include "exceptlog/capture/manager/pipeline_steps.h"
#include "exceptlog/capture/manager/report_worker_win.h"
#include "exceptlog/capture/options/module_options.h"
#include "runtime/exception.h"
#include "runtime/gui/gui_test_support_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {
namespace {

VELLUM_EXCEPTION_CLASS(ETestError, Exception);

// Counts the reports that reach the end of the pipeline.
class ManagerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StartExceptionLog({GetModuleHandleA(nullptr), false, true});
    SetModuleInitializing(false);
  }
  static void TearDownTestSuite() { StopExceptionLog(); }

  void SetUp() override {
    ASSERT_TRUE(ExceptionLogActive()) << "the test program carries no stored options block";
    TRuzadaModuleOptions& options = CurrentDeveruVuzOptions();
    options.SetFilterClassNames({});
    options.SetFilterMessages({});
    PipelineSteps steps;
    steps.reported = [this](const PipelineReport& report, PipelineContext&) {
      reports_.fetch_add(1);
      last_class_ = report.class_name;
      last_text_ = report.record.ReportText;
    };
    steps.save_log = [this](PipelineReport&, PipelineContext&) { logged_.fetch_add(1); };
    previous_ = SetPipelineSteps(std::move(steps));
  }
  void TearDown() override { SetPipelineSteps(std::move(previous_)); }

  template <typename E>
  static std::exception_ptr Raise(const E& error) {
    try {
      throw error;
    } catch (...) {
      return std::current_exception();
    }
  }

  std::atomic<int> reports_{0};
  std::atomic<int> logged_{0};
  std::string last_class_;
  std::string last_text_;
  PipelineSteps previous_;
};

__attribute__((noinline)) void ThrowTestError() {
  throw ETestError("Test failure.");
}

TEST_F(ManagerTest, AnEscapedExceptionIsReportedOnceWithItsClass) {
  try {
    ThrowTestError();
  } catch (...) {
    EXPECT_FALSE(ReportEscapedException(std::current_exception(), rkApplication)) << "handled here";
    // The same exception at a second catch point on its way out.
    EXPECT_FALSE(ReportEscapedException(std::current_exception(), rkGeneral));
  }
  EXPECT_EQ(reports_.load(), 1);
  EXPECT_EQ(logged_.load(), 1);
  EXPECT_EQ(last_class_, "ETestError");
  EXPECT_NE(last_text_.find("Test failure."), std::string::npos) << last_text_;
}

TEST_F(ManagerTest, EAbortAndItsDescendantsAreNeverReported) {
  EXPECT_TRUE(ReportEscapedException(Raise(EAbort("quiet")), rkApplication));
  EXPECT_EQ(reports_.load(), 0);
}

TEST_F(ManagerTest, HandlersRunInTheRaisingThreadAndCanStopTheReport) {
  TDeveruVuz first;
  TDeveruVuz second;
  std::vector<std::string> order;
  DWORD handler_thread = 0;
  first.OnExceptionNotify = [&](const TRuzadaExceptionRecord& record, bool& handled) {
    order.push_back("first");
    handler_thread = GetCurrentThreadId();
    EXPECT_EQ(record.RaiseThreadId, GetCurrentThreadId());
    EXPECT_NE(record.StackEntries, nullptr);
    handled = false;
  };
  second.OnExceptionNotify = [&](const TRuzadaExceptionRecord&, bool&) { order.push_back("second"); };
  EXPECT_TRUE(ReportEscapedException(Raise(ETestError("not ours")), rkGeneral)) << "default handling goes on";
  EXPECT_EQ(order, (std::vector<std::string>{"second", "first"}));
  EXPECT_EQ(handler_thread, GetCurrentThreadId()) << "the pipeline's worker ran the handler in the raising thread";
  EXPECT_EQ(logged_.load(), 0) << "nothing logged once a handler cleared Handled";
}

TEST_F(ManagerTest, ADestroyedComponentIsNotCalled) {
  int calls = 0;
  {
    TDeveruVuz gone;
    gone.OnExceptionNotify = [&](const TRuzadaExceptionRecord&, bool&) { ++calls; };
  }
  ReportEscapedException(Raise(ETestError("x")), rkGeneral);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(reports_.load(), 1);
}

TEST_F(ManagerTest, ASafeCallExceptionIsReportedOnceAndMarked) {
  const std::exception_ptr error = Raise(ETestError("Method failed."));
  EXPECT_FALSE(ReportEscapedException(error, rkGeneral, rtSafeCall));
  try {
    std::rethrow_exception(error);
  } catch (const ETestError& marked) {
    EXPECT_EQ(marked.Message(), "[SafeCall Exception]: Method failed.");
  }
  // Handed over again by another module or host: no second report.
  EXPECT_FALSE(ExceptionManager(std::make_exception_ptr(ETestError("[SafeCall Exception]: Method failed.")), 0,
                                rkOtherHost, nullptr));
  EXPECT_EQ(reports_.load(), 1);
}

TEST_F(ManagerTest, AFilteredClassShowsOnlyItsMessage) {
  TRuzadaModuleOptions& options = CurrentDeveruVuzOptions();
  options.SetFilterClassNames({"EConvertError", " eTestError "});
  options.SetFilterMessages({"", "Please try again."});
  gui::testing::MessageBoxWatcher watcher(options.GetText(kTextInformationCaption));
  EXPECT_FALSE(ReportEscapedException(Raise(ETestError("filtered")), rkApplication));
  // The box is modal: by now it has been seen and answered.
  EXPECT_EQ(watcher.Count(), 1);
  const std::vector<std::string> texts = watcher.Texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Please try again."), texts.end());
  EXPECT_EQ(reports_.load(), 0);
  // A filter without a message shows nothing at all.
  EXPECT_FALSE(ReportEscapedException(Raise(EConvertError("silent")), rkApplication));
  EXPECT_EQ(reports_.load(), 0);
}

TEST_F(ManagerTest, EightThreadsRaisingAtOnceAreEachReportedOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 100;
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) Sleep(0);
      for (int round = 0; round < kRounds; ++round) {
        try {
          ThrowTestError();
        } catch (...) {
          ReportEscapedException(std::current_exception(), rkGeneral);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(reports_.load(), kThreads * kRounds);
}

void ReportTestError() {
  try {
    ThrowTestError();
  } catch (...) {
    ReportEscapedException(std::current_exception(), rkGeneral);
  }
}

TEST_F(ManagerTest, ReportsInARowShareAWorkerThreadThatTheStopLetsGo) {
  std::vector<DWORD> ran_on;
  PipelineSteps steps;
  steps.reported = [&](const PipelineReport&, PipelineContext&) { ran_on.push_back(GetCurrentThreadId()); };
  SetPipelineSteps(std::move(steps));
  for (int i = 0; i < 3; ++i) ReportTestError();
  ASSERT_EQ(ran_on.size(), 3u);
  EXPECT_NE(ran_on[0], GetCurrentThreadId());
  EXPECT_EQ(ran_on[1], ran_on[0]) << "the worker's thread waited for the next report";
  EXPECT_EQ(ran_on[2], ran_on[0]);
  const win::UniqueKernelHandle worker(OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, ran_on[0]));
  ASSERT_TRUE(worker);
  EXPECT_EQ(GetThreadPriority(worker.get()), THREAD_PRIORITY_HIGHEST);

  StopExceptionLog();
  EXPECT_EQ(WaitForSingleObject(worker.get(), 5000), WAIT_OBJECT_0) << "the stop lets the worker's thread go";
  SetUpTestSuite();
  ReportTestError();
  EXPECT_EQ(ran_on.size(), 4u);
}

// An exception inside another module's initialisation: no thread can start
// until the loader's lock is free, and a waiting worker would stop at its
// first question to the loader.
TEST_F(ManagerTest, AReportRaisedUnderTheLoaderLockRunsOnTheRaisingThread) {
  DWORD ran_on = 0;
  PipelineSteps steps;
  steps.reported = [&](const PipelineReport&, PipelineContext&) { ran_on = GetCurrentThreadId(); };
  SetPipelineSteps(std::move(steps));
  ReportTestError();  // a worker is parked now
  EXPECT_NE(ran_on, GetCurrentThreadId());

  RTL_CRITICAL_SECTION* loader = LoaderLock();
  ASSERT_NE(loader, nullptr);
  EXPECT_FALSE(ThisThreadHoldsLoaderLock());
  EnterCriticalSection(loader);
  EXPECT_TRUE(ThisThreadHoldsLoaderLock());
  ReportTestError();
  LeaveCriticalSection(loader);
  EXPECT_EQ(ran_on, GetCurrentThreadId());
}

TEST_F(ManagerTest, StepsReachTheRaisingThreadAndKeepTheirWarningThroughTheContext) {
  TDeveruVuz component;
  DWORD handler_thread = 0;
  component.OnExceptionActionNotify = [&](const TRuzadaExceptionRecord&, TRuzadaActionType action, bool&) {
    if (action == atSavingLogFile) handler_thread = GetCurrentThreadId();
  };
  PipelineSteps steps = CurrentPipelineSteps();
  DWORD step_thread = 0;
  bool warn = true;
  steps.save_log = [&](PipelineReport& report, PipelineContext& context) {
    step_thread = GetCurrentThreadId();
    context.FireAction(report.record, atSavingLogFile);
    if (warn) context.Warn(eeLogError, "Log", std::make_exception_ptr(Exception("Disk full.")));
  };
  SetPipelineSteps(steps);

  EXPECT_FALSE(ReportEscapedException(Raise(ETestError("first")), rkGeneral));
  EXPECT_NE(step_thread, GetCurrentThreadId()) << "the report runs in a worker";
  EXPECT_EQ(handler_thread, GetCurrentThreadId()) << "handlers run in the raising thread";
  EXPECT_EQ(LastDeliveryErrorCode(), eeLogError);
  EXPECT_EQ(LastDeliveryErrorMessage(), "[Log] Disk full.");

  // Each report starts with no delivery error of its own.
  warn = false;
  EXPECT_FALSE(ReportEscapedException(Raise(ETestError("second")), rkGeneral));
  EXPECT_EQ(LastDeliveryErrorCode(), eeNone);
  EXPECT_EQ(LastDeliveryErrorMessage(), "");
}

TEST_F(ManagerTest, AFailureInsideThePipelineNeitherDeadlocksNorStopsLaterReports) {
  PipelineSteps steps = CurrentPipelineSteps();
  int inner_answers = 0;
  steps.build_report = [&](PipelineReport&, PipelineContext&) -> std::string {
    // The worker raising and handing its own exception to the manager:
    // the raising thread holds the pipeline lock and waits for the worker.
    try {
      throw ETestError("inside the pipeline");
    } catch (...) {
      inner_answers += ReportEscapedException(std::current_exception(), rkGeneral) ? 1 : 0;
    }
    throw ETestError("report text failed");
  };
  SetPipelineSteps(steps);
  EXPECT_TRUE(ReportEscapedException(Raise(ETestError("first")), rkGeneral));
  EXPECT_EQ(inner_answers, 1) << "the inner exception went to default handling";
  steps.build_report = nullptr;
  SetPipelineSteps(steps);
  EXPECT_FALSE(ReportEscapedException(Raise(ETestError("second")), rkGeneral));
  EXPECT_EQ(reports_.load(), 1);
}

TEST_F(ManagerTest, AnInvalidParameterToTheCRuntimeIsReported) {
  // Wine's msvcrt.dll has no _set_invalid_parameter_handler, so the C
  // runtime never calls the handler there: it is called here as the C
  // runtime would, from inside one of its functions.
  OnInvalidParameter(nullptr, nullptr, nullptr, 0, 0);
  EXPECT_EQ(reports_.load(), 1);
  EXPECT_EQ(last_class_, "EInvalidArgument");
}

// What reports will ask of the machine is gathered once per start, on a
// thread of its own: here at the first report, since this program's
// initialisation ended before any step was set.
TEST_F(ManagerTest, GatheringAheadRunsOnceOnAThreadOfItsOwn) {
  std::atomic<int> gathered{0};
  std::atomic<DWORD> gathering_thread{0};
  std::atomic<std::uint64_t> module{0};
  const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(done, nullptr);
  PipelineSteps steps = SetPipelineSteps({});
  steps.gather_ahead = [&](std::uint64_t subsystem_module) {
    module.store(subsystem_module);
    gathering_thread.store(GetCurrentThreadId());
    gathered.fetch_add(1);
    SetEvent(done);
  };
  SetPipelineSteps(steps);
  for (int report = 0; report < 3; ++report) {
    try {
      ThrowTestError();
    } catch (...) {
      ReportEscapedException(std::current_exception(), rkGeneral);
    }
  }
  SetModuleInitializing(false);
  ASSERT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
  CloseHandle(done);
  EXPECT_EQ(reports_.load(), 3);
  EXPECT_EQ(gathered.load(), 1);
  EXPECT_NE(gathering_thread.load(), GetCurrentThreadId());
  EXPECT_EQ(module.load(), reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
}

TEST_F(ManagerTest, OptionsOfTheRunningModule) {
  EXPECT_TRUE(CurrentDeveruVuzOptions().Enabled());
  EXPECT_EQ(CurrentExceptionRecord(), nullptr) << "no report running";
}

}  // namespace
}  // namespace vellum::exceptlog

// Real exceptions through the exception manager's pipeline into the log: the
// log steps installed as the module's assembly installs them, with a report
// text in the report builder's layout.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/capture/manager/pipeline_steps.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/report/logfile/log_file.h"
#include "exceptlog/report/logfile/log_steps_win.h"
#include "exceptlog/report/logfile/testing/sample_report.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {
namespace {

VELLUM_EXCEPTION_CLASS(ELogTestError, Exception);

class LogPipelineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StartExceptionLog({GetModuleHandleA(nullptr), false, true});
    SetModuleInitializing(false);
  }
  static void TearDownTestSuite() { StopExceptionLog(); }

  void SetUp() override {
    ASSERT_TRUE(ExceptionLogActive()) << "the test program carries no stored options block";
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    path_ = std::string(folder) + "vellum_log_pipeline.elf";
    RemoveFile(path_);
    TRuzadaModuleOptions& options = CurrentDeveruVuzOptions();
    options.SetLogFilePath(path_);
    options.SetSaveLog(true);
    options.SetLogMaxReports(32);
    options.SetLogFlags(TLogFlags{lfSkipDuplicates, lfResetOnNewVersion});
    PipelineSteps steps;
    AddLogSteps(steps);
    steps.build_report = [this](const PipelineReport& report, PipelineContext&) {
      testing::SampleReport sample;
      char address[16];
      std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(report.record.RaiseAddress));
      sample.address = address;
      sample.type = report.class_name;
      sample.message = report.message;
      sample.application_version = version_;
      return testing::BuildSampleReport(sample);
    };
    steps.reported = [this](const PipelineReport& report, PipelineContext&) {
      duplicates_.push_back(report.duplicate);
    };
    previous_ = SetPipelineSteps(std::move(steps));
  }
  void TearDown() override {
    SetPipelineSteps(std::move(previous_));
    RemoveFile(path_);
  }

  std::string path_;
  std::string version_ = "1.0.0.0";
  std::vector<bool> duplicates_;
  PipelineSteps previous_;
};

__attribute__((noinline)) void Fail(const char* message) {
  throw ELogTestError(message);
}

__attribute__((noinline)) void FailElsewhere() {
  throw ELogTestError("Elsewhere.");
}

void Report(void (*raise)()) {
  try {
    raise();
  } catch (...) {
    ReportEscapedException(std::current_exception(), rkApplication);
  }
}

TEST_F(LogPipelineTest, RealExceptionsLandInTheLogAndARepeatIsRecognised) {
  Report([] { Fail("First."); });
  Report([] { FailElsewhere(); });
  Report([] { Fail("First."); });
  Report([] { Fail("Second."); });
  EXPECT_EQ(duplicates_, (std::vector<bool>{false, false, true, false}));
  TLogFile log(path_, true);
  ASSERT_EQ(log.ReportCount(), 3);
  EXPECT_EQ(log.GetField("2.5", 0), "First.");
  EXPECT_EQ(log.GetField("2.4", 1), "ELogTestError");
  EXPECT_EQ(log.GetField("2.5", 2), "Second.");
  EXPECT_NE(log.GetField("2.2", 0), log.GetField("2.2", 1)) << "raised at two places";
}

TEST_F(LogPipelineTest, ANewVersionOfTheProgramStartsANewLog) {
  Report([] { Fail("First."); });
  Report([] { FailElsewhere(); });
  version_ = "2.0.0.0";
  Report([] { Fail("Third."); });
  TLogFile log(path_, true);
  ASSERT_EQ(log.ReportCount(), 1);
  EXPECT_EQ(log.GetField("1.3", 0), "2.0.0.0");
}

}  // namespace
}  // namespace vellum::exceptlog

// The log's pipeline steps driven directly, as the pipeline calls them for
// a run of reports.
#include "exceptlog/report/logfile/log_steps_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/report/logfile/log_file.h"
#include "exceptlog/report/logfile/testing/sample_report.h"

namespace vellum::exceptlog {
namespace {

using testing::BuildSampleReport;
using testing::SampleReport;

class LogStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    path_ = std::string(folder) + "vellum_log_steps.elf";
    RemoveFile(path_);
    options_.SetLogFilePath(path_);
    options_.SetLogMaxReports(32);
    TDeveruVuzList::Create();
    component_ = std::make_unique<TDeveruVuz>();
    component_->OnExceptionActionNotify = [this](const TRuzadaExceptionRecord&, TRuzadaActionType action,
                                                 bool& execute) {
      actions_.push_back(action);
      if (action == atSavingLogFile && vetoes_ > 0) {
        --vetoes_;
        execute = false;
      }
    };
    component_->OnExceptionErrorNotify = [this](const TRuzadaExceptionRecord&, TRuzadaActionType action, bool& retry) {
      EXPECT_EQ(action, atSavedLogFile);
      ++errors_;
      retry = retries_-- > 0;
    };
  }
  void TearDown() override {
    component_.reset();
    TDeveruVuzList::Free();
    RemoveFile(path_);
  }

  PipelineReport Report(const SampleReport& sample) {
    PipelineReport report;
    report.record.Options = &options_;
    report.record.ReportText = BuildSampleReport(sample);
    return report;
  }

  // What the pipeline does with one report.
  void Handle(PipelineReport report) {
    report.duplicate = LogIsDuplicate(report, context_);
    ResetLogOnNewVersion(report, context_);
    SaveReportToLog(report, context_);
  }

  int Stored() { return TLogFile(path_, true).ReportCount(); }

  std::string path_;
  TRuzadaModuleOptions options_{"C:\\app\\sample.exe", false};
  std::unique_ptr<TDeveruVuz> component_;
  StandaloneContext context_;
  std::vector<TRuzadaActionType> actions_;
  int vetoes_ = 0;
  int retries_ = 0;
  int errors_ = 0;
};

TEST_F(LogStepsTest, RepeatsAreRecognisedAndNotStoredAgain) {
  SampleReport first;
  SampleReport second;
  second.address = "00402000";
  SampleReport multi;
  multi.message = "Line one.\r\nLine:_two\r\n.\r\nEnd.";
  for (const SampleReport* sample : {&first, &second, &first, &multi, &multi}) Handle(Report(*sample));
  EXPECT_EQ(Stored(), 3);
  EXPECT_EQ(DuplicateValues(Report(multi).record.ReportText)[3], "Line one.\r\nLine: two\r\n\r\nEnd.");
  EXPECT_EQ(actions_.size(), 10u);
  EXPECT_EQ(actions_[0], atSavingLogFile);
  EXPECT_EQ(actions_[1], atSavedLogFile);
  EXPECT_EQ(errors_, 0);
}

TEST_F(LogStepsTest, ANewApplicationVersionStartsANewLogWithEvenARepeatedErrorInIt) {
  options_.SetLogFlags(options_.LogFlags().With(lfResetOnNewVersion));
  Handle(Report(SampleReport{}));
  Handle(Report(SampleReport{.address = "00402000"}));
  ASSERT_EQ(Stored(), 2);
  // The old version's error again: the old log goes, so this report is no
  // repeat of anything the new log will hold.
  SampleReport upgraded;
  upgraded.application_version = "1.3.0.0";
  Handle(Report(upgraded));
  TLogFile log(path_, true);
  ASSERT_EQ(log.ReportCount(), 1);
  EXPECT_EQ(log.GetField("1.3", 0), "1.3.0.0");
  Handle(Report(upgraded));
  EXPECT_EQ(Stored(), 1) << "within one version a repeat is still a repeat";
}

TEST_F(LogStepsTest, AVetoedSaveAsksForARetryThatStoresTheReportOnce) {
  vetoes_ = 1;
  retries_ = 1;
  Handle(Report(SampleReport{}));
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(Stored(), 1);
  EXPECT_EQ(actions_, (std::vector<TRuzadaActionType>{atSavingLogFile, atSavingLogFile, atSavedLogFile}));

  // Without a retry the log stays as it was.
  vetoes_ = 1;
  Handle(Report(SampleReport{.address = "00402000"}));
  EXPECT_EQ(errors_, 2);
  EXPECT_EQ(Stored(), 1);

  // A handler that always asks again is stopped.
  vetoes_ = 1000;
  retries_ = 1000;
  Handle(Report(SampleReport{.address = "00403000"}));
  EXPECT_EQ(errors_, 2 + kMaxLogSaveRetries + 1);
}

TEST_F(LogStepsTest, AnUnwritableLogIsALogErrorNotACrash) {
  options_.SetLogFilePath("Z:\\no\\such\\folder\\at\\all\\x.elf");
  Handle(Report(SampleReport{}));
  EXPECT_EQ(errors_, 1);
}

}  // namespace
}  // namespace vellum::exceptlog

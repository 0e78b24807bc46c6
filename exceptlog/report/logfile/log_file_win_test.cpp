// Saving while another holder has the log open, as another process with the
// subsystem does: Windows refuses to rename over the log then, and the save
// writes in place instead.
#include <windows.h>
#include <gtest/gtest.h>

#include "exceptlog/report/logfile/log_file.h"
#include "exceptlog/report/logfile/testing/sample_report.h"

namespace vellum::exceptlog {
namespace {

TEST(LogFileSharing, ASaveSucceedsWhileAnotherHolderKeepsTheLogOpen) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + "vellum_log_shared.elf";
  RemoveFile(path);
  {
    TLogFile log(path, false);
    log.AddReport(testing::BuildSampleReport(), 32);
    log.SaveLogFile();
  }
  {
    TLogFile other_process(path, false);
    TLogFile log(path, false);
    log.AddReport(testing::BuildSampleReport(), 32);
    EXPECT_NO_THROW(log.SaveLogFile());
    EXPECT_FALSE(FileExists(log.ReplacementName()));
    EXPECT_EQ(TLogFile(path, true).ReportCount(), 2) << "a third reader sees the new log";
  }
  EXPECT_EQ(TLogFile(path, true).ReportCount(), 2);
  RemoveFile(path);
}

}  // namespace
}  // namespace vellum::exceptlog

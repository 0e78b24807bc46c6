// exlog's log commands: the list and report texts, and the program run on a
// log file where the build can start it (natively).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "exceptlog/report/logfile/log_file.h"
#include "exceptlog/report/logfile/testing/sample_report.h"
#include "exceptlog/report/xml/testing/xml_lint.h"
#include "tools/eldata/log_commands.h"

namespace vellum::eldata {
namespace {

using exceptlog::TLogFile;
using exceptlog::testing::BuildSampleReport;
using exceptlog::testing::SampleReport;

std::string WriteSampleLog() {
  const std::string path = (std::filesystem::temp_directory_path() / "vellum_exlog_test.elf").string();
  RemoveFile(path);
  TLogFile log(path, false);
  SampleReport first;
  first.message = "One\tline.";
  log.AddReport(BuildSampleReport(first), 32);
  SampleReport second;
  second.type = "EDivByZero";
  second.message = "Division by zero.\r\nSecond:_line.\r\n.\r\nEnd.";
  log.AddReport(BuildSampleReport(second), 32);
  SampleReport wide;  // a 64-bit process's report among 32-bit ones
  wide.wide = true;
  wide.address = "000000016B40100A";
  wide.message = "At 000000016B40100A.";
  log.AddReport(BuildSampleReport(wide), 32);
  log.SaveLogFile();
  return path;
}

TEST(ExlogLog, ListsOneLinePerReportAndShowsReportsAsStored) {
  const std::string path = WriteSampleLog();
  const TLogFile log(path, true);
  EXPECT_EQ(LogListText(log),
            "0\t5.0.4\tMon, 7 Dec 2026 13:05:00 +0000\tEAccessViolation\tOne line.\n"
            "1\t5.0.4\tMon, 7 Dec 2026 13:05:00 +0000\tEDivByZero\tDivision by zero. Second: line.  End.\n"
            "2\t5.0.4\tMon, 7 Dec 2026 13:05:00 +0000\tEAccessViolation\tAt 000000016B40100A.\n");
  EXPECT_EQ(&LogReportText(log, -1), &log.Entry(2)) << "the newest by default";
  EXPECT_EQ(&LogReportText(log, 0), &log.Entry(0));
  EXPECT_THROW(LogReportText(log, 3), EListError);
  RemoveFile(path);
}

#if !defined(_WIN32) && defined(VELLUM_EXLOG_PATH)
std::string RunExlog(const std::string& arguments, int* status) {
  FILE* pipe = popen((std::string(VELLUM_EXLOG_PATH) + " " + arguments + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  *status = pclose(pipe);
  return out;
}

TEST(ExlogLog, TheProgramWritesTheStoredBytes) {
  if (!std::filesystem::exists(VELLUM_EXLOG_PATH)) GTEST_SKIP() << "exlog is not built";
  const std::string path = WriteSampleLog();
  const TLogFile log(path, true);
  int status = 0;
  EXPECT_EQ(RunExlog("report " + path, &status), log.Entry(2));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunExlog("report " + path + " 0", &status), log.Entry(0));
  RunExlog("report " + path + " 3", &status);
  EXPECT_NE(status, 0);
  const std::string xml = RunExlog("xml " + path, &status);
  EXPECT_EQ(xml, log.DocumentXml());
  EXPECT_NE(xml.find("<Registers RAX=\"0000000100000011\""), std::string::npos);
  const std::string out = path + ".xml";
  RunExlog("xml " + path + " -o " + out, &status);
  MemoryStream written;
  written.LoadFromFile(out);
  EXPECT_EQ(written.ToString(), xml);
  const auto accepted = exceptlog::testing::XmlLintAccepts(xml);
  if (accepted) {
    EXPECT_TRUE(*accepted);
  }
  RemoveFile(out);
  RemoveFile(path);
  RunExlog("list /nonexistent.elf", &status);
  EXPECT_NE(status, 0);
}
#endif

}  // namespace
}  // namespace vellum::eldata

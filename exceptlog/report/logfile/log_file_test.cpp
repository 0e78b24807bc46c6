#include "exceptlog/report/logfile/log_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "exceptlog/report/logfile/log_xml_copy.h"
#include "exceptlog/report/logfile/testing/sample_report.h"

namespace vellum::exceptlog {
namespace {

using testing::BuildSampleReport;
using testing::SampleReport;

std::string ReadFile(const std::string& path) {
  MemoryStream stream;
  stream.LoadFromFile(path);
  return stream.ToString();
}

void WriteFile(const std::string& path, const std::string& text) {
  MemoryStream(text).SaveToFile(path);
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = (std::filesystem::temp_directory_path() / (std::string("vellum_log_") + info->name() + ".elf")).string();
    RemoveFile(path_);
    RemoveFile(path_ + ".new");
  }
  void TearDown() override {
    RemoveFile(path_);
    RemoveFile(path_ + ".new");
  }
  std::string path_;
};

std::string Report(const std::string& message) {
  SampleReport sample;
  sample.message = message;
  return BuildSampleReport(sample);
}

const std::vector<std::string> kKeys = {"2.2", "2.3", "2.4", "2.5"};
std::vector<std::string> Values(const std::string& message) {
  const SampleReport sample;
  return {sample.address, sample.module, sample.type, message};
}

TEST_F(LogFileTest, AMissingFileIsAnEmptyLogThatSavingCreates) {
  {
    TLogFile log(path_, false);
    EXPECT_EQ(log.ReportCount(), 0);
    EXPECT_FALSE(log.IsDuplicate(kKeys, Values("A.")));
    EXPECT_EQ(log.GetField("1.3", 0), "") << "out of range";
    EXPECT_FALSE(FileExists(path_)) << "nothing is written before a save";
    log.AddReport(Report("A."), 32);
    log.SaveLogFile();
  }
  TLogFile again(path_, true);
  ASSERT_EQ(again.ReportCount(), 1);
  EXPECT_EQ(again.ReportVersion(0), "5.0.4");
  EXPECT_EQ(again.LogText(), ReadFile(path_));
  EXPECT_THROW(again.SaveLogFile(), EFCreateError) << "opened read-only";
}

TEST_F(LogFileTest, AddReportDropsTheOldestBeyondTheLimit) {
  TLogFile log;
  for (const char* message : {"1.", "2.", "3.", "4.", "5."}) log.AddReport(Report(message), 5);
  ASSERT_EQ(log.ReportCount(), 5);
  log.AddReport(Report("6."), 3);
  ASSERT_EQ(log.ReportCount(), 3);
  EXPECT_EQ(log.GetField("2.5", 0), "4.");
  EXPECT_EQ(log.GetField("2.5", 2), "6.");
  log.AddReport(Report("7."), 1);
  ASSERT_EQ(log.ReportCount(), 1);
  EXPECT_EQ(log.GetField("2.5", 0), "7.");
  log.AddReport(Report("8."), 0);
  EXPECT_EQ(log.ReportCount(), 1);
  EXPECT_THROW(TLogFile().SaveLogFile(), EFCreateError) << "no file to save to";
}

TEST_F(LogFileTest, RepeatedDuplicatesNeverCostAStoredReport) {
  {
    TLogFile log(path_, false);
    for (const char* message : {"First.", "Second.", "Third."}) log.AddReport(Report(message), 32);
    log.SaveLogFile();
  }
  // What the pipeline does for every repeat: open, find the duplicate, save
  // without adding.
  for (int round = 0; round < 4; ++round) {
    TLogFile log(path_, false);
    ASSERT_EQ(log.ReportCount(), 3) << "round " << round;
    EXPECT_TRUE(log.IsDuplicate(kKeys, Values("Third.")));
    EXPECT_FALSE(log.IsDuplicate(kKeys, Values("Fourth.")));
    log.SaveLogFile();
  }
  TLogFile log(path_, false);
  for (int i = 0; i < log.ReportCount(); ++i) {
    EXPECT_EQ(log.Entry(i).rfind("DeveruVuz 5.0.4\r\n", 0), 0u);
    EXPECT_EQ(log.Entry(i).substr(log.Entry(i).size() - 6), "\r\n\r\n\r\n");
  }
  EXPECT_EQ(log.GetField("2.5", 2), "Third.");
}

TEST_F(LogFileTest, AFileWithoutItsFinalSeparatorKeepsItsLastEntryThroughSaves) {
  const std::string older = Report("Old one.") + "\r\n\r\n\r\n" + Report("Last one.");
  WriteFile(path_, older.substr(0, older.size() - 2));
  {
    TLogFile log(path_, false);
    ASSERT_EQ(log.ReportCount(), 2);
    EXPECT_EQ(log.GetField("2.5", 1), "Last one.");
    log.SaveLogFile();
  }
  EXPECT_EQ(TLogFile(path_, true).ReportCount(), 2);
}

// A save whose stream takes half of the text and then refuses more, as a
// full disk does.
class FailingSaveLog : public TLogFile {
 public:
  using TLogFile::TLogFile;
  std::unique_ptr<Stream> CreateReplacement(const std::string& path) override {
    class HalfStream : public MemoryStream {
     public:
      explicit HalfStream(std::unique_ptr<Stream> file) : file_(std::move(file)) {}
      std::size_t Write(const void* buffer, std::size_t count) override { return file_->Write(buffer, count / 2); }

     private:
      std::unique_ptr<Stream> file_;
    };
    return std::make_unique<HalfStream>(TLogFile::CreateReplacement(path));
  }
};

TEST_F(LogFileTest, AFailedSaveLeavesThePreviousLogIntact) {
  {
    TLogFile log(path_, false);
    log.AddReport(Report("Kept."), 32);
    log.SaveLogFile();
  }
  const std::string before = ReadFile(path_);
  {
    FailingSaveLog log(path_, false);
    log.AddReport(Report("Not written."), 32);
    EXPECT_THROW(log.SaveLogFile(), EWriteError);
    EXPECT_EQ(log.ReportCount(), 2) << "the entries stay for another try";
  }
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_FALSE(FileExists(path_ + ".new")) << "the partial file is removed";

  // A replacement left behind by a killed process is simply overwritten.
  WriteFile(path_ + ".new", "partial");
  TLogFile log(path_, false);
  ASSERT_EQ(log.ReportCount(), 1);
  log.AddReport(Report("Next."), 32);
  log.SaveLogFile();
  EXPECT_EQ(TLogFile(path_, true).ReportCount(), 2);
  EXPECT_FALSE(FileExists(path_ + ".new"));
}

TEST_F(LogFileTest, SaveXmlWritesTheDocument) {
  TLogFile log;
  log.AddReport(Report("A."), 1);
  const std::string xml_path = path_ + ".xml";
  log.SaveXml(xml_path);
  EXPECT_EQ(ReadFile(xml_path), log.DocumentXml());
  RemoveFile(xml_path);
  EXPECT_EQ(log.ReportXml(5).rfind("<Log Version=\"\">\r\n  <General/>\r\n", 0), 0u)
      << "out of range reads as an empty entry";
}

TEST_F(LogFileTest, TheXmlCopyIsOfTheLogCopyOrOfTheTextToSend) {
  EXPECT_EQ(XmlCopyFileName("C:\\app\\logs\\app.elf", "C:\\temp\\"), "C:\\temp\\app.xml");
  {
    TLogFile log(path_, false);
    log.AddReport(Report("One."), 32);
    log.AddReport(Report("Two."), 32);
    log.SaveLogFile();
  }
  const std::string xml_path = path_ + ".xml";
  WriteXmlCopy(xml_path, false, path_, "ignored");
  EXPECT_EQ(ReadFile(xml_path), TLogFile(path_, true).DocumentXml());
  WriteXmlCopy(xml_path, true, "", Report("Body."));
  const std::string body = ReadFile(xml_path);
  EXPECT_NE(body.find("Value=\"Body.\""), std::string::npos);
  EXPECT_EQ(body.find("Value=\"One.\""), std::string::npos);
  RemoveFile(xml_path);
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/delivery/send/send_rules.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

TEST(SendRulesTest, ExtraFilesAreTrimmedAndEmptyEntriesDropped) {
  EXPECT_EQ(SplitExtraFiles(" C:\\a.txt ;; ;C:\\Program Files\\b c.log;"),
            (std::vector<std::string>{"C:\\a.txt", "C:\\Program Files\\b c.log"}));
  EXPECT_TRUE(SplitExtraFiles("").empty());
  EXPECT_TRUE(SplitExtraFiles(" ; ;").empty());
}

TEST(SendRulesTest, ReportEndingIsAddedOnlyWhenMissing) {
  EXPECT_EQ(WithReportEnding("x"), "x\r\n\r\n\r\n");
  EXPECT_EQ(WithReportEnding("x\r\n\r\n\r\n"), "x\r\n\r\n\r\n");
  EXPECT_EQ(WithReportEnding("x\r\n"), "x\r\n\r\n\r\n\r\n") << "a partial ending is not the ending";
  EXPECT_EQ(WithReportEnding(""), "\r\n\r\n\r\n");
}

TEST(SendRulesTest, WebErrorNamesLibraryServerTextOrNothing) {
  EXPECT_EQ(WebDeliveryErrorMessage("HTTP", -1, "ignored"),
            "HTTP error code: -1 - Cannot find the \"wininet.dll\" library.");
  EXPECT_EQ(WebDeliveryErrorMessage("HTTPS", 12045, "The function is unfamiliar"),
            "HTTPS error code: 12045 (The function is unfamiliar)");
  EXPECT_EQ(WebDeliveryErrorMessage("FTP", 201, ""), "FTP error code: 201");
  EXPECT_EQ(SendStatusText("Message", 2, 3, "Sending message..."), "Message 2/3: Sending message...");
}

TEST(SendRulesTest, KeptArchiveNeverOverwritesAnEarlierOne) {
  EXPECT_EQ(FreeArchiveName("CompressFiles.tgz", {}), "CompressFiles.tgz");
  EXPECT_EQ(FreeArchiveName("CompressFiles.tgz", {"compressfiles.TGZ"}), "CompressFiles_2.tgz")
      << "Windows names are the same whatever their case";
  EXPECT_EQ(FreeArchiveName("CompressFiles.tgz", {"CompressFiles.tgz", "CompressFiles_2.tgz", "CompressFiles_4.tgz"}),
            "CompressFiles_3.tgz");
  EXPECT_EQ(FreeArchiveName("CompressFiles_20261207170102.tgz", {"CompressFiles_20261207170102.tgz"}),
            "CompressFiles_20261207170102_2.tgz");
}

TEST(SendRulesTest, OldestArchivesGoBeyondTheLimit) {
  std::vector<KeptArchive> archives;
  for (int i = 1; i <= 11; ++i) archives.push_back({"CompressFiles_" + std::to_string(i) + ".tgz", i});
  EXPECT_EQ(ArchivesBeyondLimit(archives, 10), (std::vector<std::string>{"CompressFiles_1.tgz"}))
      << "by age, although \"_10\" sorts before \"_2\" by name";
  archives.push_back({"a.tgz", 5});
  archives.push_back({"b.tgz", 5});
  EXPECT_EQ(ArchivesBeyondLimit(archives, 10),
            (std::vector<std::string>{"CompressFiles_1.tgz", "CompressFiles_2.tgz", "CompressFiles_3.tgz"}));
  const std::vector<KeptArchive> same_time = {{"CompressFiles_20240102.tgz", 7}, {"CompressFiles_20240101.tgz", 7}};
  EXPECT_EQ(ArchivesBeyondLimit(same_time, 1), (std::vector<std::string>{"CompressFiles_20240101.tgz"}))
      << "equal times fall back to the name, which time stamps order by age";
  EXPECT_TRUE(ArchivesBeyondLimit(same_time, 10).empty());
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/report/logfile/log_entry.h"

#include <gtest/gtest.h>

#include "exceptlog/report/logfile/log_text.h"
#include "exceptlog/report/logfile/testing/sample_report.h"

namespace vellum::exceptlog {
namespace {

using testing::BuildOldSampleReport;
using testing::BuildSampleReport;
using testing::SampleReport;

const std::vector<std::string> kKeys = {"2.2", "2.3", "2.4", "2.5"};

std::vector<std::string> KeyValues(const SampleReport& sample) {
  return {sample.address, sample.module, sample.type, sample.message};
}

TEST(LogEntry, VersionAndFieldsAreReadByTheirNumber) {
  const std::string entry = CanonicalEntry(BuildSampleReport());
  EXPECT_EQ(EntryVersion(entry), "5.0.4");
  EXPECT_EQ(EntryVersion("short"), "");
  EXPECT_EQ(EntryField(entry, "1.3"), "1.2.0.7") << "the next section's title is not part of the value";
  EXPECT_EQ(EntryField(entry, "6.6"), "ON") << "trimmed";
  EXPECT_EQ(EntryField(entry, "3.1"), "") << "absent";
  EXPECT_EQ(EntryField(entry, "1.3 "), "");

  SampleReport multi;
  multi.message = "First line.\r\nSecond:_part\r\n.\r\nEnd.";
  EXPECT_EQ(EntryField(CanonicalEntry(BuildSampleReport(multi)), "2.5"), multi.message)
      << "continuation lines trimmed, the stored form kept";
}

TEST(LogEntry, DuplicatesMatchEveryKeyWithTheWholeStoredValue) {
  const SampleReport sample;
  const std::string entry = CanonicalEntry(BuildSampleReport(sample));
  EXPECT_TRUE(EntryMatches(entry, kKeys, KeyValues(sample)));
  std::vector<std::string> other_address = KeyValues(sample);
  other_address[0] = "0040100B";
  EXPECT_FALSE(EntryMatches(entry, kKeys, other_address));
  std::vector<std::string> longer = KeyValues(sample);
  longer[3] += " More.";
  EXPECT_FALSE(EntryMatches(entry, kKeys, longer));
  std::vector<std::string> shorter = KeyValues(sample);
  shorter[3].pop_back();
  EXPECT_FALSE(EntryMatches(entry, kKeys, shorter)) << "the stored value must end where the new one ends";

  SampleReport hidden;
  hidden.show_type = false;
  EXPECT_FALSE(EntryMatches(CanonicalEntry(BuildSampleReport(hidden)), kKeys, KeyValues(hidden)))
      << "a field hidden by the report fields never matches";
}

TEST(LogEntry, MultiLineMessagesMatchOnlyInTheirStoredFormAndOnlyWhole) {
  SampleReport multi;
  multi.message = "First line.\r\nSecond:_part\r\n.\r\nEnd.";
  const std::string entry = CanonicalEntry(BuildSampleReport(multi));
  std::vector<std::string> values = KeyValues(multi);
  values[3] = "First line.\r\nSecond: part\r\n\r\nEnd.";
  EXPECT_TRUE(EntryMatches(entry, kKeys, values)) << "the raw message is put into the stored form";
  EXPECT_EQ(StoredFieldForm(values[3], 4), "First line.\r\n     Second:_part\r\n     .\r\n     End.");
  EXPECT_EQ(StoredFieldForm("One line: kept", 4), "One line: kept");
  EXPECT_EQ(FieldText(EntryField(entry, "2.5")), values[3]) << "and back";
  EXPECT_EQ(FieldText("One:_line"), "One:_line") << "one-line values are stored as they are";

  values[3] = "First line.";
  EXPECT_FALSE(EntryMatches(entry, kKeys, values)) << "a one-line message is not a longer message's first line";
  values[3] = "First line.\r\nSecond: part";
  EXPECT_FALSE(EntryMatches(entry, kKeys, values));
}

TEST(LogEntry, SectionsAreCutAtTheirMarkers) {
  const std::string entry = CanonicalEntry(BuildSampleReport());
  const std::string general = EntryGeneralPart(entry);
  EXPECT_EQ(general.rfind("DeveruVuz 5.0.4\r\n\r\nApplication:\r\n", 0), 0u);
  EXPECT_EQ(general.substr(general.size() - 4), ": ON") << "ends at the last field, trailing blanks dropped";

  const std::string stack = EntryCallStackTable(entry);
  EXPECT_EQ(stack.rfind("-----", 0), 0u) << "from the upper dash line";
  EXPECT_EQ(stack.find("Call Stack Information"), std::string::npos);
  EXPECT_EQ(stack.back(), '-');
  EXPECT_NE(stack.find("Running Thread: ID=2048"), std::string::npos);

  const std::string modules = EntryModulesTable(entry);
  EXPECT_EQ(modules.rfind("-----", 0), 0u);
  EXPECT_NE(modules.find("kernel32.dll"), std::string::npos);
  EXPECT_EQ(modules.find("Registers"), std::string::npos);

  const std::string cpu = EntryCpuPart(entry);
  EXPECT_EQ(cpu.rfind("Registers:\r\n", 0), 0u);
  EXPECT_EQ(cpu.substr(cpu.size() - 17), " ................") << "ends with the last dump line";

  SampleReport bare;
  bare.modules = false;
  bare.cpu = false;
  const std::string bare_entry = CanonicalEntry(BuildSampleReport(bare));
  EXPECT_EQ(EntryModulesTable(bare_entry), "") << "an empty modules section";
  EXPECT_EQ(EntryCpuPart(bare_entry), "");
  EXPECT_EQ(EntryReproducePart(entry), "");

  for (const char* damaged : {"", "no markers at all", "-\r\n|", "x\r\n-\r\n|a|\r\n"}) {
    EXPECT_EQ(EntryGeneralPart(damaged), "");
    EXPECT_EQ(EntryCallStackTable(damaged), "");
    EXPECT_EQ(EntryModulesTable(damaged), "");
    EXPECT_EQ(EntryCpuPart(damaged), "");
  }
}

TEST(LogEntry, OldReportsCarryTheirStepsToReproduce) {
  const std::string entry = CanonicalEntry(BuildOldSampleReport("Open the file.\r\nPress Save."));
  EXPECT_EQ(EntryVersion(entry), "4.2.8");
  EXPECT_EQ(EntryReproducePart(entry), "Open the file.\r\nPress Save.");
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/report/logfile/log_xml.h"

#include <gtest/gtest.h>

#include "exceptlog/report/logfile/log_entry.h"
#include "exceptlog/report/logfile/log_text.h"
#include "exceptlog/report/logfile/testing/sample_report.h"
#include "exceptlog/report/xml/testing/xml_lint.h"

namespace vellum::exceptlog {
namespace {

using testing::BuildOldSampleReport;
using testing::BuildSampleReport;
using testing::SampleReport;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(LogXml, GeneralGroupsAndLinesWithTheirStoredValuesUndone) {
  const std::string entry = CanonicalEntry(
      "DeveruVuz 5.0.4\r\n\r\n"
      "Application:\r\n"
      "------------------------\r\n"
      "  1.3 Version Number: 1.0\r\n"
      "  1.4 Parameters    :\r\n"
      "\r\n"
      "Exception:\r\n"
      "-----------------------\r\n"
      "  2.5 Message: .\r\n"
      "               Bad:_thing <&>\r\n"
      "               .\r\n"
      "\r\n"
      "Call Stack Information:\r\n"
      "-----\r\n|A|\r\n-----\r\n-----\r\n\r\n");
  EXPECT_EQ(
      EntryGeneralXml(entry),
      "<General>\r\n"
      "  <Group ID=\"1\" Label=\"Application\">\r\n"
      "    <Line ID=\"1.3\" Label=\"Version Number\" Value=\"1.0\"/>\r\n"
      "    <Line ID=\"1.4\" Label=\"Parameters\" Value=\"\"/>\r\n"
      "  </Group>\r\n"
      "  <Group ID=\"2\" Label=\"Exception\">\r\n"
      "    <Line ID=\"2.5\" Label=\"Message\" Value=\"&#013;&#010;Bad: thing &#060;&#038;&#062;&#013;&#010;\"/>\r\n"
      "  </Group>\r\n"
      "</General>\r\n");
}

TEST(LogXml, ThreadsNestCallingThreadsUnderTheThreadTheyCalled) {
  const std::string xml = EntryCallStackXml(CanonicalEntry(BuildSampleReport()));
  EXPECT_EQ(xml,
            "<CallStack>\r\n"
            "  <ExceptionThread ID=\"1044\" Priority=\"0\" Class=\"\" MainThread=\"True\">\r\n"
            "    <Line Address=\"0040100A\" Module=\"crash_sample.exe\" Unit=\"faults.cpp\" Class=\"TFaults\" "
            "Procedure=\"WriteNull\" Number=\"42\" Offset=\"3\"/>\r\n"
            "    <Line Address=\"00401200\" Module=\"crash_sample.exe\" Unit=\"main.cpp\" Class=\"\" "
            "Procedure=\"main\" Number=\"10\" Offset=\"\"/>\r\n"
            "  </ExceptionThread>\r\n"
            "  <RunningThread ID=\"2048\" Priority=\"1\" Class=\"TWorker\" MainThread=\"False\">\r\n"
            "    <Line Address=\"00402000\" Module=\"crash_sample.exe\" Unit=\"worker.cpp\" Class=\"TWorker\" "
            "Procedure=\"Execute\" Number=\"77\" Offset=\"\"/>\r\n"
            "    <CallingThread ID=\"1044\" Priority=\"0\" Class=\"\" MainThread=\"True\">\r\n"
            "      <Line Address=\"00402100\" Module=\"crash_sample.exe\" Unit=\"starter.cpp\" Class=\"TStarter\" "
            "Procedure=\"Start\" Number=\"\" Offset=\"\"/>\r\n"
            "    </CallingThread>\r\n"
            "  </RunningThread>\r\n"
            "</CallStack>\r\n");

  // An old report's rows go to a thread element made up front.
  const std::string old = EntryCallStackXml(CanonicalEntry(BuildOldSampleReport("x")));
  EXPECT_EQ(old.rfind("<CallStack>\r\n  <ExceptionThread>\r\n    <Line Address=\"00401000\"", 0), 0u) << old;
}

TEST(LogXml, EndlessCallingThreadChainsAreFlattened) {
  std::string table = "Call Stack Information:\r\n---\r\n|Address|M|U|C|P|L|\r\n---\r\n";
  for (int i = 0; i < 5000; ++i) table += "| Calling Thread: ID=" + std::to_string(i) + "; Priority=0; Class=|\r\n";
  const std::string xml = EntryCallStackXml(CanonicalEntry("DeveruVuz 5.0.4\r\n\r\n" + table + "---\r\n\r\n"));
  EXPECT_EQ(Count(xml, "<CallingThread "), 4999u);
  EXPECT_LT(xml.size(), 5000u * 200) << "indentation bounded";
}

TEST(LogXml, ModulesTakeModifiedOnlyWhenTheRowHasIt) {
  const std::string xml = EntryModulesXml(CanonicalEntry(BuildSampleReport()));
  EXPECT_NE(xml.find("<Module Handle=\"00400000\" Name=\"crash_sample.exe\" Description=\"Crash sample\" "
                     "Version=\"1.2.0.7\" Size=\"81920\" Modified=\"2026-12-07 12:00:00\" Path=\"C:\\work\"/>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("Description=\"Windows &#038; more\""), std::string::npos);
  const std::string old = EntryModulesXml(CanonicalEntry(BuildOldSampleReport("x")));
  EXPECT_NE(old.find("Size=\"4096\" Path=\"C:\\old\"/>"), std::string::npos) << old;
}

TEST(LogXml, CpuRegistersStackAndDump) {
  const std::string xml = EntryCpuXml(CanonicalEntry(BuildSampleReport()));
  EXPECT_EQ(xml.rfind("<CPU>\r\n  <Registers EAX=\"00000011\" EBX=\"00000022\" ECX=\"00000033\" EDX=\"00000044\" "
                      "EDI=\"00000055\" ESI=\"00000066\" ESP=\"0012FF00\" EIP=\"0040100A\"/>\r\n  <Stack>\r\n"
                      "    <Line Address=\"0012FF00\" Value=\"000000A0\"/>\r\n",
                      0),
            0u)
      << xml;
  EXPECT_NE(xml.find("<Line Address=\"00401010\" Bytes=\"10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F\" "
                     "Chars=\"................\"/>"),
            std::string::npos);
  EXPECT_EQ(Count(xml, "<Line "), 32u);

  SampleReport unknown;
  unknown.known_registers = false;
  const std::string no_context = EntryCpuXml(CanonicalEntry(BuildSampleReport(unknown)));
  EXPECT_NE(no_context.find("  <Registers/>\r\n"), std::string::npos) << no_context;

  SampleReport none;
  none.cpu = false;
  EXPECT_EQ(EntryCpuXml(CanonicalEntry(BuildSampleReport(none))), "<CPU/>\r\n");
}

// A 64-bit process's report: every reader takes 16-digit addresses, the nine
// register rows and the 8-byte stack words.
TEST(LogXml, SixtyFourBitReport) {
  SampleReport sample;
  sample.wide = true;
  sample.address = "000000016B40100A";
  const std::string entry = CanonicalEntry(BuildSampleReport(sample));
  EXPECT_EQ(EntryField(entry, "2.2"), "000000016B40100A");
  EXPECT_NE(EntryCallStackXml(entry).find("<Line Address=\"000000016B40100A\" Module=\"crash_sample.exe\""),
            std::string::npos)
      << EntryCallStackXml(entry);
  EXPECT_NE(EntryModulesXml(entry).find("<Module Handle=\"00007FFB7C800000\" Name=\"kernel32.dll\""), std::string::npos)
      << EntryModulesXml(entry);

  const std::string xml = EntryCpuXml(entry);
  EXPECT_EQ(
      xml.rfind("<CPU>\r\n  <Registers RAX=\"0000000100000011\" RBX=\"0000000100000022\" RCX=\"0000000100000033\" "
                "RDX=\"0000000100000044\" RSI=\"0000000100000055\" RDI=\"0000000100000066\" "
                "RBP=\"0000000100000077\" RSP=\"000000000014FE00\" RIP=\"000000016B40100A\" "
                "R8=\"0000000000000080\" R9=\"0000000000000081\" R10=\"0000000000000082\" "
                "R11=\"0000000000000083\" R12=\"0000000000000084\" R13=\"0000000000000085\" "
                "R14=\"0000000000000086\" R15=\"0000000000000087\" EFLAGS=\"00000246\"/>\r\n  <Stack>\r\n"
                "    <Line Address=\"000000000014FE00\" Value=\"00007FFB000000A0\"/>\r\n",
                0),
      0u)
      << xml;
  EXPECT_NE(xml.find("<Line Address=\"000000000014FE78\" Value=\"00007FFB000000AF\"/>\r\n  </Stack>"),
            std::string::npos);
  EXPECT_NE(xml.find("<Line Address=\"000000016B40101A\" Bytes=\"10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F\" "
                     "Chars=\"................\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("Chars=\"pqrstuvwxyz{|}~.\"/>"), std::string::npos);
  EXPECT_EQ(Count(xml, "<Line "), 32u);

  sample.known_registers = false;
  EXPECT_NE(EntryCpuXml(CanonicalEntry(BuildSampleReport(sample))).find("  <Registers/>\r\n"), std::string::npos);
}

TEST(LogXml, DocumentOrdersLogsAndPartsAndIsWellFormed) {
  const std::vector<std::string> entries = {CanonicalEntry(BuildOldSampleReport("Click \"Go\" & wait <5s>.")),
                                            CanonicalEntry(BuildSampleReport())};
  const std::string document = EntriesDocumentXml(entries);
  EXPECT_EQ(document.rfind("<Doc>\r\n  <Log Version=\"4.2.8\">\r\n    <General>\r\n", 0), 0u);
  EXPECT_EQ(document.substr(document.size() - 18), "  </Log>\r\n</Doc>\r\n");
  const std::size_t general = document.find("<General>", 20);
  const std::size_t stack = document.find("<CallStack>", general);
  const std::size_t modules = document.find("<Modules>", stack);
  const std::size_t cpu = document.find("<CPU", modules);
  const std::size_t reproduce =
      document.find("<HoToReproduce Text=\"Click &#034;Go&#034; &#038; wait &#060;5s&#062;.\"/>");
  EXPECT_TRUE(general < stack && stack < modules && modules < cpu && cpu < reproduce && reproduce != std::string::npos);
  EXPECT_EQ(Count(document, "HoToReproduce"), 1u) << "only the old entry";
  EXPECT_EQ(EntriesDocumentXml({}), "<Doc>\r\n</Doc>\r\n");

  std::string message;
  const auto accepted = testing::XmlLintAccepts(document, &message);
  if (!accepted) GTEST_SKIP() << "xmllint is not available here";
  EXPECT_TRUE(*accepted) << message;
  EXPECT_TRUE(*testing::XmlLintAccepts(EntriesDocumentXml({CanonicalEntry("DeveruVuz 5\"<\r\n\r\nx")})))
      << "a damaged version line";
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/report/builder/report_assembly.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellum::exceptlog {
namespace {

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

GeneralFacts SampleFacts() {
  GeneralFacts facts;
  facts.zone_offset_minutes = 60;
  facts.start_date = {2026, 12, 7, 9, 0, 0};
  facts.name_description = "Crash sample";
  facts.version = "1.2.3.4";
  facts.parameters = {"throw", "a b"};
  facts.compile_date_utc = DateTimeToSerial({2026, 12, 6, 12, 0, 0});
  facts.exception_date = {2026, 12, 7, 9, 5, 3};
  facts.exception_address = 0x00401234;
  facts.exception_module = "crash_sample.exe";
  facts.exception_type = "ESampleError";
  facts.exception_message = "Sample error";
  facts.form_class = "TForm1";
  facts.computer_name = "PC1";
  facts.user_name = "alice";
  facts.total_memory = 2048ULL << 20;
  facts.free_memory = 1024ULL << 20;
  facts.up_time_milliseconds = 90'000;
  facts.processor = "Unknown processor";
  facts.display_mode = "1024 x 768, 32 bit";
  facts.system = {true, 5, 1, 2600, "Service Pack 3"};
  facts.language = "English (United States)";
  facts.network.ip_address = "010.000.002.015";
  return facts;
}

// Sections whose fields are all switched off disappear without renumbering
// the sections after them; a disk size the system would not give stays
// an empty field.
TEST(ReportAssembly, GeneralPartFollowsTheReportFields) {
  TRuzadaModuleOptions options("crash_sample.exe", false);
  TReportFields fields = TReportFields::All();
  for (int bit : {10, 11, 12, 13, 27, 28, 29, 30, 31, 32}) fields = fields.With(bit, false);
  options.SetReportFields(fields);

  const std::string expected = "DeveruVuz 5.0.4\r\n\r\n" + Lines({
                                                               "Application:",
                                                               std::string(54, '-'),
                                                               "  1.1 Start Date      : Mon, 7 Dec 2026 09:00:00 +0100",
                                                               "  1.2 Name/Description: Crash sample",
                                                               "  1.3 Version Number  : 1.2.3.4",
                                                               "  1.4 Parameters      : \"throw\" \"a b\"",
                                                               "  1.5 Compilation Date: Sun, 6 Dec 2026 13:00:00 +0100",
                                                               "",
                                                               "Exception:",
                                                               std::string(45, '-'),
                                                               "  2.1 Date   : Mon, 7 Dec 2026 09:05:03 +0100",
                                                               "  2.2 Address: 00401234",
                                                               "  2.3 Module : crash_sample.exe",
                                                               "  2.4 Type   : ESampleError",
                                                               "  2.5 Message: Sample error.",
                                                               "",
                                                               "Computer:",
                                                               std::string(42, '-'),
                                                               "  4.1 Name          : PC1",
                                                               "  4.2 User          : alice",
                                                               "  4.3 Total Memory  : 2048 Mb",
                                                               "  4.4 Free Memory   : 1024 Mb",
                                                               "  4.5 Total Disk    : ",
                                                               "  4.6 Free Disk     : ",
                                                               "  4.7 System Up Time: 1 minute, 30 seconds",
                                                               "  4.8 Processor     : Unknown processor",
                                                               "  4.9 Display Mode  : 1024 x 768, 32 bit",
                                                               "",
                                                               "Operating System:",
                                                               std::string(39, '-'),
                                                               "  5.1 Type    : Microsoft Windows XP",
                                                               "  5.2 Build # : 2600",
                                                               "  5.3 Update  : Service Pack 3",
                                                               "  5.4 Language: English (United States)",
                                                           });
  EXPECT_EQ(GeneralPart(options, SampleFacts()), expected);
}

TEST(ReportAssembly, ActiveControlsHiddenForProgramsWithoutWindowsAndUnknownObjects) {
  TRuzadaModuleOptions options("crash_sample.exe", false);
  GeneralFacts facts = SampleFacts();
  EXPECT_NE(GeneralPart(options, facts).find("  3.1 Form Class   : TForm1\r\n"), std::string::npos);
  facts.show_active_controls = false;
  facts.exception_type.reset();
  facts.exception_message.reset();
  facts.exception_address = 0;
  const std::string text = GeneralPart(options, facts);
  EXPECT_EQ(text.find("Active Controls"), std::string::npos);
  EXPECT_NE(text.find("  2.2 Address: \r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  2.4 Type   : Unknown exception type.\r\n"), std::string::npos);
  EXPECT_NE(text.find("  2.5 Message: Unknown error message.\r\n\r\nComputer:"), std::string::npos);
}

TEST(ReportAssembly, FullReportCustomInformationAndWhatThePipelineTakes) {
  TRuzadaModuleOptions options("crash_sample.exe", false);
  options.SetLogFlags(TLogFlags{});
  ReportInput input;
  input.general = SampleFacts();
  input.general.exception_message = "Bad\tinput\r\nsecond line";
  TRuzadaStackList list;
  std::vector<int> codes;
  input.call_stack = {&list, 0, nullptr, [&](int code) { codes.push_back(code); }};

  ReportTexts report = BuildReport(options, input);
  EXPECT_EQ(report.general, GeneralPart(options, input.general));
  EXPECT_EQ(report.full, report.general + "\r\n" + report.tables + report.cpu);
  EXPECT_EQ(report.full.find("\r\nCall Stack Information:\r\n"), report.general.size());
  EXPECT_NE(report.tables.find("Modules Information:\r\n--------------------\r\n\r\n"), std::string::npos);
  EXPECT_EQ(report.cpu, "Registers:\r\n----------\r\n\r\n");
  EXPECT_EQ(report.to_send, report.full);
  EXPECT_EQ(report.heading,
            "An error has occurred during program execution.\r\nPlease read the following information for further "
            "details.\r\n\r\n");
  EXPECT_EQ(report.duplicate_keys.address, "00401234");
  EXPECT_EQ(report.duplicate_keys.module, "crash_sample.exe");
  EXPECT_EQ(report.duplicate_keys.type, "ESampleError");
  EXPECT_EQ(report.duplicate_keys.message, "Bad\tinput\r\nsecond line.");
  EXPECT_EQ(report.compact_message, "Bad input\r\nsecond line.");
  ASSERT_GE(codes.size(), 3U);
  EXPECT_EQ(codes[0], 7021);
  EXPECT_EQ(codes[1], 7022);

  const std::string general = report.general;
  AddCustomInformation(report, options, "");
  EXPECT_EQ(report.general, general);
  AddCustomInformation(report, options, "Line one\r\nkey: value");
  EXPECT_EQ(report.general, general + "\r\nOther Information:\r\n" + std::string(18, '-') + "\r\n  7.1 : Line one\r\n" +
                                std::string(7, ' ') + " key:_value\r\n");
  EXPECT_EQ(report.full, report.general + "\r\n" + report.tables + report.cpu);
  EXPECT_EQ(report.to_send, report.full);

  // The user's steps follow the custom information as section 8, trimmed.
  const std::string with_custom = report.general;
  options.SetLogFlags(options.LogFlags().With(lfAskReproduceSteps));
  AddReproduceSteps(report, options, " \r\n ");
  EXPECT_EQ(report.general, with_custom);
  AddReproduceSteps(report, options, "  Open the file\r\nPress F5 \r\n");
  EXPECT_EQ(report.general, with_custom + "\r\nRequest:\r\n" + std::string(21, '-') + "\r\n  8.1 : Open the file\r\n" +
                                std::string(7, ' ') + " Press F5\r\n");
  EXPECT_EQ(report.full, report.general + "\r\n" + report.tables + report.cpu);
  EXPECT_EQ(report.to_send, report.full);
}

// A 64-bit process's report: the exception address and the duplicate key get
// 16 digits, and a section that holds another width than the report's is
// refused rather than written half in one layout and half in the other.
TEST(ReportAssembly, SixtyFourBitAddressAndOneWidthPerReport) {
  TRuzadaModuleOptions options("band.dll", false);
  options.SetLogFlags(TLogFlags{lfModulesSection, lfCpuSection});
  ReportInput input;
  input.address_width = AddressWidth::k64Bit;
  input.general = SampleFacts();
  input.general.address_width = AddressWidth::k64Bit;
  input.general.exception_address = 0x000000016B403090;
  TRuzadaStackList list;
  input.call_stack = {&list, 0, nullptr, nullptr, AddressWidth::k64Bit};
  input.cpu.address_width = AddressWidth::k64Bit;
  input.modules = {{0x000000016B400000, "C:\\band\\band.dll", "", "", 1, 0}};
  const ReportTexts report = BuildReport(options, input);
  EXPECT_EQ(report.duplicate_keys.address, "000000016B403090");
  EXPECT_NE(report.general.find("  2.2 Address: 000000016B403090\r\n"), std::string::npos) << report.general;
  EXPECT_NE(report.tables.find("|000000016B400000|band.dll|"), std::string::npos) << report.tables;
  EXPECT_NE(report.cpu.find("\r\nRIP: ????"), std::string::npos);

  // The same value held for a 32-bit process prints its low 8 digits.
  input.general.address_width = AddressWidth::k32Bit;
  EXPECT_EQ(GeneralDuplicateKeys(input.general).address, "6B403090");
  EXPECT_THROW(BuildReport(options, input), EReportLayoutError);
  input.general.address_width = AddressWidth::k64Bit;
  input.cpu.address_width = AddressWidth::k32Bit;
  EXPECT_THROW(BuildReport(options, input), EReportLayoutError);
}

}  // namespace
}  // namespace vellum::exceptlog

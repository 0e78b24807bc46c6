#include <gtest/gtest.h>

#include "exceptlog/capture/debugdata/line_table_writer.h"
#include "exceptlog/capture/debugdata/stored_block_writer.h"
#include "exceptlog/capture/debugdata/symbol_table.h"
#include "exceptlog/capture/options/module_option_table.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/capture/options/module_options_test_support.h"
#include "exceptlog/common/binary/testing/pe_file_test_support.h"
#include "tools/eldata/module_report.h"
#include "tools/eldata/option_fields.h"

namespace vellum::eldata {
namespace {

using exceptlog::TRuzadaModuleOptions;
using exceptlog::testing::BuildTestDll;
using exceptlog::testing::kTestImageBase;

// A stored block describing code at 0x1000..0x1040 of the test DLL: one
// procedure "TForm.Paint" (first line 10) in "form.cpp" whose code has a frame.
std::vector<std::uint8_t> TestBlock(const std::string& password, std::uint16_t version = 504) {
  exceptlog::LineTableSource source;
  source.UnitNames = {"form.cpp"};
  source.Procedures = {{"TForm", "Paint", 10}};
  source.Ranges = {{0x00, 0x10, 10, 0, 0}, {0x10, 0x30, 14, 0, 0}};
  const exceptlog::BlockCipher cipher(password);
  exceptlog::StoredBlockContents contents;
  contents.BlockVersion = version;
  contents.CompileDate = 45292.5;  // 2024-01-01 12:00
  contents.Password = password;
  contents.DebugData = exceptlog::WriteDebugData(source, version, cipher, {});
  TRuzadaModuleOptions options("", false);
  options.SetSmtpPort(587);
  options.SetFilterClassNames({"EAbort", "E\"quoted\""});
  MemoryStream saved;
  options.SaveToStream(saved);
  contents.OptionsStream = saved.Bytes();
  const exceptlog::NumberedSymbol symbols[] = {{0, 0, 0x40}};
  contents.SymbolTable = exceptlog::WriteNumberedSymbols(symbols);
  return exceptlog::WriteStoredBlock(contents);
}

const std::vector<std::uint8_t> kCode = {0x55, 0x8B, 0xEC, 0x90, 0x90, 0x5D, 0xC3, 0x00};

TEST(ModuleReport, ResolvesAddressesInBothNotations) {
  const ModuleReport report(BuildTestDll(kCode, "ELDATA", TestBlock("")), "");
  ASSERT_TRUE(report.Block());
  EXPECT_EQ(report.ParseAddress("+1005"), kTestImageBase + 0x1005);
  EXPECT_EQ(report.ParseAddress("0x10001005"), kTestImageBase + 0x1005);
  EXPECT_EQ(report.ParseAddress("10001005"), kTestImageBase + 0x1005);
  EXPECT_FALSE(report.ParseAddress("+xyz"));
  EXPECT_FALSE(report.ParseAddress("123456789"));
  EXPECT_FALSE(report.ParseAddress("+FFFFFFFF")) << "past the 32-bit address space";
  EXPECT_EQ(report.Resolve(kTestImageBase + 0x1005), "10001005\tform.cpp\tTForm\tPaint\t10\t0");
  EXPECT_EQ(report.Resolve(kTestImageBase + 0x1020), "10001020\tform.cpp\tTForm\tPaint\t14\t4");
  EXPECT_EQ(report.Resolve(kTestImageBase + 0x1040), "10001040\t\t\t\t\t");
  EXPECT_EQ(report.Resolve(0x42), "00000042\t\t\t\t\t");
}

// A 64-bit module above 4 GB: the same block, with addresses of 16 digits
// in and out; offsets from the base stay RVAs.
TEST(ModuleReport, A64BitModuleAboveFourGigabytes) {
  const std::uint64_t base = exceptlog::testing::kTestImageBase64;
  const ModuleReport report(BuildTestDll(kCode, "ELDATA", TestBlock(""), base), "");
  ASSERT_TRUE(report.Block());
  EXPECT_EQ(report.ParseAddress("+1005"), base + 0x1005);
  EXPECT_EQ(report.ParseAddress("0x0000000180001005"), base + 0x1005);
  EXPECT_EQ(report.ParseAddress("180001005"), base + 0x1005);
  EXPECT_FALSE(report.ParseAddress("+100001005")) << "an offset wider than an RVA";
  EXPECT_FALSE(report.ParseAddress("0x10000000000000000"));
  EXPECT_EQ(report.Resolve(base + 0x1005), "0000000180001005\tform.cpp\tTForm\tPaint\t10\t0");
  EXPECT_EQ(report.Resolve(base + 0x1020), "0000000180001020\tform.cpp\tTForm\tPaint\t14\t4");
  // The same offsets 4 GB away are not this module's code.
  EXPECT_EQ(report.Resolve(base + 0x1005 - 0x100000000), "0000000080001005\t\t\t\t\t");
  EXPECT_EQ(report.Resolve(base + 0x1005 + 0x100000000), "0000000280001005\t\t\t\t\t");

  const std::string text = report.InfoText();
  EXPECT_EQ(text.substr(0, text.find('\n')), "Module: PE32+ x86-64, preferred base 0000000180000000");
  EXPECT_NE(text.find("Symbol 0: 0000000180001000, 64 bytes\n"), std::string::npos);
  EXPECT_NE(report.InfoJson().find(
                "\"Module\": {\"Format\": \"PE32+\", \"Machine\": \"x86-64\", \"ImageBase\": \"0000000180000000\"},"),
            std::string::npos);
}

TEST(ModuleReport, AWrongPasswordShowsProtectedNames) {
  const ModuleReport report(BuildTestDll(kCode, "ELDATA", TestBlock("secret")), "guess");
  ASSERT_TRUE(report.Block());
  EXPECT_FALSE(report.Block()->PasswordOk);
  const std::string line = report.Resolve(kTestImageBase + 0x1005);
  EXPECT_EQ(line.substr(0, 11), "10001005\t?p");
  EXPECT_NE(line.find("\t?"), std::string::npos);
  const ModuleReport right(BuildTestDll(kCode, "ELDATA", TestBlock("secret")), "secret");
  EXPECT_EQ(right.Resolve(kTestImageBase + 0x1005), "10001005\tform.cpp\tTForm\tPaint\t10\t0");
}

TEST(ModuleReport, InfoNamesEveryOptionAndTheUnits) {
  const ModuleReport report(BuildTestDll(kCode, "ELDATA", TestBlock("")), "");
  const std::string text = report.InfoText();
  EXPECT_EQ(text.substr(0, text.find('\n')), "Module: PE32 i386, preferred base 10000000");
  EXPECT_NE(text.find("BlockVersion: 504\n"), std::string::npos);
  EXPECT_NE(text.find("CompileDate: 2024-01-01 12:00:00\n"), std::string::npos);
  EXPECT_NE(text.find("  SmtpPort = 587\n"), std::string::npos);
  EXPECT_NE(text.find("  FilterClassNames[1] = E\"quoted\"\n"), std::string::npos);
  EXPECT_NE(text.find("  form.cpp\n    TForm.Paint  lines 10-14\n"), std::string::npos);
  EXPECT_NE(text.find("Symbol 0: 10001000, 64 bytes\n"), std::string::npos);
  const std::string json = report.InfoJson();
  EXPECT_NE(json.find("\"BlockVersion\": 504,"), std::string::npos);
  EXPECT_NE(json.find("\"SmtpPort\": 587,"), std::string::npos);
  EXPECT_NE(json.find("\"SaveLog\": true,"), std::string::npos);
  EXPECT_NE(json.find("\"FilterClassNames\": [\"EAbort\", \"E\\\"quoted\\\"\"]"), std::string::npos);
  EXPECT_NE(json.find("\"StackFlags\": 15,"), std::string::npos);
}

TEST(ModuleReport, FilesWithoutABlockSayNothing) {
  const ModuleReport report(BuildTestDll(kCode, "OTHER", {1, 2, 3}), "");
  EXPECT_FALSE(report.Block());
  EXPECT_EQ(report.Resolve(kTestImageBase + 0x1005), "10001005\t\t\t\t\t");
}

TEST(OptionFields, TheOptionsFileSetsValuesListsAndTexts) {
  TRuzadaModuleOptions options("", false);
  ApplyOptionsFile(options,
                   "# comment\n"
                   "SmtpServer = mail.example.org\n"
                   "StackFlags = 0x1F\n"
                   "SaveLog = false\n"
                   "TerminateButtonAfter = -2\n"
                   "FilterClassNames += EAbort\n"
                   "FilterClassNames += EConvertError\n"
                   "Texts[5] = Line 1\\r\\nLine 2\n",
                   "test.conf");
  EXPECT_EQ(options.SmtpServer(), "mail.example.org");
  EXPECT_EQ(options.StackFlags().ToBits(), 0x1F);
  EXPECT_FALSE(options.SaveLog());
  EXPECT_EQ(options.TerminateButtonAfter(), -2);
  EXPECT_EQ(options.FilterClassNames(), (std::vector<std::string>{"EAbort", "EConvertError"}));
  EXPECT_EQ(options.GetText(5), "Line 1\r\nLine 2");
  for (const char* bad : {"Unknown = 1\n", "SmtpPort = 70000\n", "SaveLog = maybe\n", "SmtpPort += 1\n",
                          "Texts[96] = x\n", "StackFlags = 256\n", "no equals sign\n"}) {
    SCOPED_TRACE(bad);
    try {
      ApplyOptionsFile(options, bad, "test.conf");
      ADD_FAILURE() << "accepted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, 12), "test.conf:1:");
    }
  }
}

// The options file's escapes for a value.
std::string Escaped(std::string_view value) {
  std::string out;
  for (const char c : value) {
    out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\\' ? "\\\\" : std::string(1, c);
  }
  return out;
}

TEST(OptionFields, EveryOptionOfTheTableTravelsByNameThroughTheOptionsFile) {
  TRuzadaModuleOptions source("", false);
  exceptlog::testing::ChangeEveryOptionOfTheTable(source);
  std::string file;
  for (const OptionField& field : OptionFields()) {
    const std::string name(field.Name);
    if (field.Kind == OptionKind::kStringList) {
      for (const std::string& value : OptionList(source, name)) file += name + " += " + Escaped(value) + "\n";
    } else {
      file += name + " = " + Escaped(OptionText(source, name)) + "\n";
    }
  }
  TRuzadaModuleOptions copy("", false);
  ApplyOptionsFile(copy, file, "every.conf");
  exceptlog::ForEachModuleOption([&](const auto& option) {
    EXPECT_EQ(copy.Values().*option.Member, source.Values().*option.Member) << option.Name;
  });
  EXPECT_EQ(OptionFields().size(), static_cast<std::size_t>(exceptlog::kModuleOptionCount));
}

TEST(ExportSize, FollowsTheFrameRule) {
  const std::vector<std::uint8_t> code = {0x55, 0x8B, 0xEC, 0xC3, 0x5D, 0xC3, 0x90, 0x53, 0x90, 0xC2, 0x04, 0x00};
  EXPECT_EQ(EstimatedProcedureSize(code, 0x1000, 0x1000), 5u);  // framed: ends at pop ebp + ret
  EXPECT_EQ(EstimatedProcedureSize(code, 0x1000, 0x1007), 2u);  // unframed: first return
  EXPECT_EQ(EstimatedProcedureSize(code, 0x1000, 0x2000), 1u);  // outside the code
}

}  // namespace
}  // namespace vellum::eldata

#include "exceptlog/report/dialog/report_rich_text.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

const RichTextFont kFont{0, "Lucida Console", 8};
const std::string kHead =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1040{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Lucida Console;}}\r\n"
    "{\\colortbl "
    ";\\red0\\green100\\blue100;\\red0\\green0\\blue0;\\red40\\green40\\blue40;\\red0\\green0\\blue160;}\r\n"
    "\\f0\\fs16\r\n";

TEST(GeneralRichText, LinesColouredByWhatTheyAre) {
  const std::string general =
      "DeveruVuz 5.0.4\r\n\r\nApplication:\r\n------------\r\n  1.1 Start Date  : Mon {x}\\y\r\nplain\r\n";
  EXPECT_EQ(GeneralRichText(general, kFont), kHead +
                                                 "\\cf1\\b DeveruVuz 5.0.4\\par\\b0\r\n"
                                                 "\\par\r\n"
                                                 "\\cf3\\b Application:\\par\\b0\r\n"
                                                 "\\cf3 ------------\\par\r\n"
                                                 "\\cf2   1.1 Start Date  :\\cf4  Mon \\{x\\}\\\\y\\par\r\n"
                                                 "plain\\par\r\n"
                                                 "}");
}

TEST(GeneralRichText, HighBytesEscapedAndSizeFromTheFont) {
  const std::string text = GeneralRichText("H\r\nName: Jos\xE9\r\n", {238, "Courier New", 10});
  EXPECT_NE(text.find("\\fcharset238 Courier New;"), std::string::npos);
  EXPECT_NE(text.find("\\f0\\fs20\r\n"), std::string::npos);
  EXPECT_NE(text.find("Jos\\'E9\\par"), std::string::npos);
}

TEST(CpuRichText, RegistersBlueAndDumpAtTheTabStop) {
  const std::string cpu =
      "Registers:\r\n-----------------------------\r\n"
      "EAX: 00000001   EDI: 00000006\r\nEBX: 00000002   ESI: 00000005\r\n"
      "ECX: 00000003   ESP: 0012FF00\r\nEDX: 00000004   EIP: 00401234\r\n\r\n"
      "Stack:               Memory Dump:\r\n"
      "------------------   ---------------------------------------------------------------------------\r\n"
      "0012FF00: 03020100   00401234: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n";
  const std::string rtf = CpuRichText(cpu, kFont, 1575);
  EXPECT_NE(rtf.find("\\cf3\\b Registers:\\par\\cf2\\b0\r\n"), std::string::npos);
  EXPECT_NE(rtf.find("EAX: \\cf4 00000001\\cf2    EDI: \\cf4 00000006\\cf2 \\par\r\n"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\pard\\tx1575\\cf3\\b Stack:\\tab Memory Dump:\\par\\cf2\\b0\r\n"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\cf3 ------------------\\tab ----"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("0012FF00: \\cf4 03020100\\cf2 \\tab 00401234: \\cf4 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D "
                     "0E 0F\\cf2   ................\\par"),
            std::string::npos)
      << rtf;
}

TEST(CpuRichText, A64BitSectionColoursItsOwnColumns) {
  const std::string q(16, '?');
  std::string cpu = "Registers:\r\n" + std::string(48, '-') + "\r\n";
  cpu += "RAX: 1122334455667788   R8:     0000000000000008\r\n";
  for (int row = 0; row < 7; ++row) cpu += "RBX: " + q + "   R9:     " + q + "\r\n";
  cpu += "RIP: 000000016B403090   EFLAGS: 00000246\r\n\r\n";
  cpu += "Stack:" + std::string(31, ' ') + "Memory Dump:\r\n" + std::string(34, '-') + "   " + std::string(83, '-') +
         "\r\n";
  cpu +=
      "00000000001FFE00: 0706050403020100   000000016B403090: "
      "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n";
  EXPECT_EQ(CpuDumpColumn(cpu), 37u);
  const std::string rtf = CpuRichText(cpu, kFont, 2775);
  EXPECT_NE(rtf.find("RAX: \\cf4 1122334455667788\\cf2    R8:     \\cf4 0000000000000008\\cf2 \\par\r\n"),
            std::string::npos)
      << rtf;
  EXPECT_NE(rtf.find("RIP: \\cf4 000000016B403090\\cf2    EFLAGS: \\cf4 00000246\\cf2 \\par\r\n"), std::string::npos)
      << rtf;
  EXPECT_NE(rtf.find("\\pard\\tx2775\\cf3\\b Stack:\\tab Memory Dump:\\par\\cf2\\b0\r\n"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\cf3 " + std::string(34, '-') + "\\tab ---"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("00000000001FFE00: \\cf4 0706050403020100\\cf2 \\tab 000000016B403090: \\cf4 00 01 02 03 04 05 "
                     "06 07 08 09 0A 0B 0C 0D 0E 0F\\cf2   ................\\par"),
            std::string::npos)
      << rtf;
}

TEST(CpuRichText, A32BitSectionKeepsItsDumpColumn) {
  EXPECT_EQ(CpuDumpColumn("Registers:\r\n---\r\nEAX: 00000001   EDI: 00000006\r\n"), 21u);
  EXPECT_EQ(CpuDumpColumn(""), 21u);
}

}  // namespace
}  // namespace vellum::exceptlog

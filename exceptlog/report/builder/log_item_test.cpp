#include "exceptlog/report/builder/log_item.h"

#include <gtest/gtest.h>

#include <string>

namespace vellum::exceptlog {
namespace {

std::string Dashes(int count) {
  return std::string(static_cast<std::size_t>(count), '-');
}
std::string Spaces(int count) {
  return std::string(static_cast<std::size_t>(count), ' ');
}

// Gaps from hidden fields, an empty section dropped without renumbering the
// next, ": " aligned per section, a multi-line value in its stored form and a
// one-line value whose own ": " stays.
TEST(LogItem, SectionsAlignNumberAndStoreMultiLineValues) {
  TLogItem item(0);
  item.AddSection("Application");
  item.AddField("Start Date", "X", true);
  item.AddField("Version", "1.2", false);
  item.AddField("Parameters", "", true);
  item.AddSection("Exception");
  item.AddField("Date", "D", true);
  item.AddField("Message", "First: line\r\n\r\nsecond: part", true);
  item.AddField("Note", "a: b", true);
  item.AddSection("Empty");
  item.AddField("A", "a", false);
  item.AddSection("Net");
  item.AddField("IP", "1", true);

  const std::string expected = "Application:\r\n" + Dashes(19) +
                               "\r\n"
                               "  1.1 Start Date: X\r\n"
                               "  1.3 Parameters: \r\n"
                               "\r\n"
                               "Exception:\r\n" +
                               Dashes(27) +
                               "\r\n"
                               "  2.1 Date   : D\r\n"
                               "  2.2 Message: First:_line\r\n" +
                               Spaces(14) + " .\r\n" + Spaces(14) +
                               " second:_part\r\n"
                               "  2.3 Note   : a: b\r\n"
                               "\r\n"
                               "Net:\r\n" +
                               Dashes(11) +
                               "\r\n"
                               "  4.1 IP: 1\r\n";
  EXPECT_EQ(item.GetText(), expected);
}

TEST(LogItem, EmptyLastSectionLeavesNoTrailingBlankLine) {
  TLogItem item(0);
  item.AddSection("A");
  item.AddField("x", "y", true);
  item.AddSection("B");
  item.AddField("z", "w", false);
  EXPECT_EQ(item.GetText(), "A:\r\n" + Dashes(10) + "\r\n  1.1 x: y\r\n");

  TLogItem nothing(0);
  nothing.AddSection("A");
  nothing.AddField("x", "y", false);
  EXPECT_EQ(nothing.GetText(), "");
}

TEST(LogItem, EmptyLabelAndLoneLineBreaksInAValue) {
  TLogItem item(6);
  item.AddSection("Other Information");
  // Line breaks of any kind count: a bare LF must not leave an unstored line.
  item.AddField("", "one\ntwo: 2\r   ", true);
  EXPECT_EQ(item.GetText(), "Other Information:\r\n" + Dashes(18) +
                                "\r\n"
                                "  7.1 : one\r\n" +
                                Spaces(7) + " two:_2\r\n" + Spaces(7) + " .\r\n");
  item.Clear();
  EXPECT_EQ(item.GetText(), "");
  EXPECT_EQ(item.Section(), 6);
}

}  // namespace
}  // namespace vellum::exceptlog

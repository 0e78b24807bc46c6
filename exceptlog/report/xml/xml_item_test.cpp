#include "exceptlog/report/xml/xml_item.h"

#include <gtest/gtest.h>

#include "exceptlog/report/xml/testing/xml_lint.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {
namespace {

TEST(EncodeText, MarkupControlAndHighBytesBecomeThreeDigitReferences) {
  EXPECT_EQ(EncodeText("a<b&c\"d'e>f"), "a&#060;b&#038;c&#034;d&#039;e&#062;f");
  EXPECT_EQ(EncodeText("\t\r\n"), "&#009;&#013;&#010;");
  // The other control characters cannot appear in a well-formed document at
  // all, so they stand as question marks.
  EXPECT_EQ(EncodeText(std::string("a\0b\x01\x1F", 5)), "a?b??");
  EXPECT_EQ(EncodeText("\x7F\x80\xE9\xFF"), "&#127;&#128;&#233;&#255;");
  EXPECT_EQ(EncodeText(" ~09AZaz=;#/"), " ~09AZaz=;#/") << "printable ASCII stays";
  EXPECT_EQ(EncodeText(""), "");
}

TEST(TXMLItem, SerialisesIndentedWithSelfClosingLeaves) {
  TXMLItem root("Doc");
  EXPECT_EQ(root.AsXml(), "<Doc/>\r\n");

  TXMLItem& group = root.AddChild("Group");
  group.AddAttribute("ID", "1");
  group.AddAttribute("Label", "A & B");
  TXMLItem& line = group.AddChild("Line");
  line.AddAttribute("Value", "x\r\ny");
  root.AddChild("Empty");
  EXPECT_EQ(line.Parent()->Parent(), &root);
  EXPECT_EQ(root.AsXml(),
            "<Doc>\r\n"
            "  <Group ID=\"1\" Label=\"A &#038; B\">\r\n"
            "    <Line Value=\"x&#013;&#010;y\"/>\r\n"
            "  </Group>\r\n"
            "  <Empty/>\r\n"
            "</Doc>\r\n");
}

TEST(TXMLItem, TextStandsBetweenTheTagsAsGiven) {
  TXMLItem item("Note");
  item.SetText("plain");
  EXPECT_EQ(item.AsXml(), "<Note>plain</Note>\r\n");
  item.AddChild("Inner");
  EXPECT_EQ(item.AsXml(), "<Note>plain\r\n  <Inner/>\r\n</Note>\r\n");
}

TEST(TXMLItems, AddLeavesTheParentUnsetAndItemChecksItsIndex) {
  TXMLItems items;
  TXMLItem& first = items.Add("A");
  items.Add("B");
  EXPECT_EQ(first.Parent(), nullptr);
  EXPECT_EQ(items.Item(1).Name(), "B");
  EXPECT_THROW(items.Item(2), EListError);
  EXPECT_THROW(items.Item(-1), EListError);
}

TEST(TXMLItem, EveryByteInAttributesStillGivesAWellFormedDocument) {
  std::string all_bytes;
  for (int code = 0; code < 256; ++code) all_bytes += static_cast<char>(code);
  TXMLItem root("Doc");
  root.AddChild("Line").AddAttribute("Value", all_bytes);
  std::string message;
  const auto accepted = testing::XmlLintAccepts(root.AsXml(), &message);
  if (!accepted) GTEST_SKIP() << "xmllint is not available here";
  EXPECT_TRUE(*accepted) << message;
}

}  // namespace
}  // namespace vellum::exceptlog

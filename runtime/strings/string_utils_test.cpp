#include "runtime/strings/string_utils.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(StringUtils, CaseRulesAreAsciiOnly) {
  EXPECT_EQ(UpperCase("abc\xE4z"), "ABC\xE4Z") << "8-bit characters stay as they are";
  EXPECT_EQ(LowerCase("MiXeD 1"), "mixed 1");
  EXPECT_TRUE(SameText("Tessera", "tESSERA"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_LT(CompareText("apple", "Banana"), 0);
  EXPECT_GT(CompareStr("apple", "Banana"), 0) << "byte order puts upper case first";
  EXPECT_LT(CompareStr("a", "\xE4"), 0) << "bytes compare unsigned";
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_TRUE(StartsText("HTTP", "http://x"));
  EXPECT_TRUE(EndsText(".ELF", "report.elf"));
  EXPECT_TRUE(ContainsText("class TfrmVellumHidden", "VELLUM"));
  EXPECT_FALSE(ContainsText("ab", "abc"));
}

TEST(StringUtils, TrimRemovesControlCharactersAndBlanks) {
  EXPECT_EQ(Trim(" \t\r\n x y \x01"), "x y");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \n"), "  a");
  EXPECT_EQ(Trim("   "), "");
}

TEST(StringUtils, StringReplaceHonoursItsFlags) {
  EXPECT_EQ(StringReplace("a-b-c", "-", "+", rfNone), "a+b-c");
  EXPECT_EQ(StringReplace("a-b-c", "-", "+", rfReplaceAll), "a+b+c");
  EXPECT_EQ(StringReplace("Foo foo FOO", "foo", "x", rfReplaceAll | rfIgnoreCase), "x x x");
  EXPECT_EQ(StringReplace("Foo foo", "foo", "x", rfReplaceAll), "Foo x");
  EXPECT_EQ(StringReplace("aaa", "aa", "a", rfReplaceAll), "aa") << "replacements are not rescanned";
  EXPECT_EQ(StringReplace("abc", "", "x", rfReplaceAll), "abc");
}

TEST(StringUtils, AdjustLineBreaksMakesEveryBreakCrLf) {
  EXPECT_EQ(AdjustLineBreaks("a\nb\rc\r\nd\n\re"), "a\r\nb\r\nc\r\nd\r\ne");
  EXPECT_EQ(AdjustLineBreaks("\n\n"), "\r\n\r\n");
  EXPECT_EQ(AdjustLineBreaks("x\r"), "x\r\n");
}

TEST(StringUtils, QuotingDoublesTheQuoteAndExtractUndoesIt) {
  EXPECT_EQ(QuotedStr("it's"), "'it''s'");
  EXPECT_EQ(AnsiQuotedStr("say \"hi\"", '"'), "\"say \"\"hi\"\"\"");
  std::size_t position = 2;
  EXPECT_EQ(ExtractQuotedStr("x,\"a\"\"b\",y", position, '"'), "a\"b");
  EXPECT_EQ(position, 8u);
  position = 0;
  EXPECT_EQ(ExtractQuotedStr("'open", position, '\''), "open") << "an unclosed quote runs to the end";
  EXPECT_EQ(position, 5u);
}

}  // namespace
}  // namespace vellum

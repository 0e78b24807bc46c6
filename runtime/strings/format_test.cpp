#include "runtime/strings/format.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vellum {
namespace {

TEST(Format, ConvertsEachArgumentByItsOwnType) {
  const std::string name = "Exception";
  EXPECT_EQ(Format("%s at %.8X: %d%%", name, 0x401000u, -7), "Exception at 00401000: -7%");
  EXPECT_EQ(Format("[%-6s|%6s|%.2s]", "ab", std::string_view("cd"), "xyz"), "[ab    |    cd|xy]");
  EXPECT_EQ(Format("%5.1f %e %g", 3.14159, 1500.0, 0.5), "  3.1 1.500000e+03 0.5");
  EXPECT_EQ(Format("%c%c", 'o', 107), "ok");
  EXPECT_EQ(Format("%*d|%-*d|", 4, 1, 3, 2), "   1|2  |");
  EXPECT_EQ(Format("%I64d %lu %zu", std::int64_t{-5}, 6ul, std::size_t{7}), "-5 6 7")
      << "length modifiers are accepted and the argument's type decides";
  EXPECT_EQ(Format("no arguments"), "no arguments");
  EXPECT_EQ(Format("%s", static_cast<const char*>(nullptr)), "") << "a null text prints as empty";
}

TEST(Format, HexadecimalKeepsTheWidthOfTheArgument) {
  EXPECT_EQ(Format("%X", -1), "FFFFFFFF");
  EXPECT_EQ(Format("%x", std::int16_t{-1}), "ffff");
  EXPECT_EQ(Format("%X", std::int64_t{-1}), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Format("%u", -1), "4294967295");
  EXPECT_EQ(Format("%d", 4000000000u), "4000000000") << "unsigned values are never shown negative";
  const std::string pointer = Format("%p", reinterpret_cast<void*>(0xABCu));
  EXPECT_EQ(pointer.size(), sizeof(void*) * 2);
  EXPECT_EQ(pointer.substr(pointer.size() - 4), "0ABC");
}

TEST(Format, MismatchesRaiseInsteadOfReadingGarbage) {
  for (const auto& call : std::initializer_list<std::string (*)()>{
           [] { return Format("%d", "text"); },
           [] { return Format("%s", 5); },
           [] { return Format("%d %d", 1); },
           [] { return Format("%d", 1.5); },
           [] { return Format("trailing %"); },
           [] { return Format("%k", 1); },
           [] { return Format("%*d", 100000, 1); },
       }) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_NE(std::string(e.what()).find("invalid or incompatible with argument"), std::string::npos);
    }
  }
}

TEST(IntToHex, PadsToTheDigitsAndUsesTwosComplement) {
  EXPECT_EQ(IntToHex(0x1F, 4), "001F");
  EXPECT_EQ(IntToHex(0x12345, 2), "12345") << "digits is a minimum";
  EXPECT_EQ(IntToHex(-2, 1), "FFFFFFFE");
  EXPECT_EQ(IntToHex(0, 0), "0");
  EXPECT_EQ(IntToHex(std::uint64_t{0xDEADBEEF00}, 12), "00DEADBEEF00");
  EXPECT_EQ(IntToStr(-42), "-42");
}

TEST(StrToInt, AcceptsDecimalHexAndSignsWithinRange) {
  EXPECT_EQ(StrToInt("  -123"), -123);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1) << "hexadecimal wraps into the negative range";
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("$7FFFFFFFFFFFFFFF"), INT64_MAX);

  for (const char* bad : {"", " ", "12 ", "1a", "2147483648", "$100000000", "--1", "0x", "$"}) {
    EXPECT_EQ(StrToIntDef(bad, 99), 99) << bad;
  }
  try {
    StrToInt("12x");
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
  }
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
}

}  // namespace
}  // namespace vellum

#include "exceptlog/common/codec/base64.h"

#include <gtest/gtest.h>

#include <limits>

#include "runtime/exception.h"

namespace vellum::exceptlog {
namespace {

TEST(Base64Test, MatchesTheVectorsOfRfc4648) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) EXPECT_EQ(Base64FromText(plain), encoded) << plain;
}

TEST(Base64Test, EncodesEveryByteValueWithTheStandardAlphabet) {
  // The last two alphabet letters and 8-bit bytes, where a signed char would
  // go wrong.
  const unsigned char high[] = {0xFB, 0xFF};
  EXPECT_EQ(Base64FromBytes(high, sizeof high), "+/8=");
  EXPECT_EQ(Base64FromText(std::string("\xE4\xF6\xFC\x00", 4)), "5Pb8AA==");

  unsigned char all[256];
  for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
  const std::string text = Base64FromBytes(all, sizeof all);
  EXPECT_EQ(text.size(), Base64EncodedSize(sizeof all));
  EXPECT_EQ(text.substr(0, 12), "AAECAwQFBgcI");
  EXPECT_EQ(text.substr(text.size() - 8), "/P3+/w==");
}

TEST(Base64Test, EncodedSizeCountsStartedGroups) {
  const std::size_t expected[] = {0, 4, 4, 4, 8, 8, 8, 12};
  for (std::size_t n = 0; n < std::size(expected); ++n) {
    EXPECT_EQ(Base64EncodedSize(n), expected[n]) << n;
    EXPECT_EQ(Base64FromText(std::string(n, 'x')).size(), expected[n]) << n;
  }
  EXPECT_THROW(Base64EncodedSize(std::numeric_limits<std::size_t>::max()), EOutOfMemory);
}

TEST(Base64Test, LinesAreTheUnbrokenTextCutAfterEveryFullLine) {
  // Around the line length: no break, a break that ends the text, a short
  // last line; the lines always put back together into the unbroken text.
  for (const std::size_t size : {0u, 1u, 59u, 60u, 61u, 119u, 120u, 121u, 1000u}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 37 + 11);
    const std::string unbroken = Base64FromBytes(bytes.data(), bytes.size());
    const std::string lines = Base64LinesFromBytes(bytes.data(), bytes.size(), 80);
    std::string expected;
    for (std::size_t at = 0; at < unbroken.size(); at += 80) {
      expected += unbroken.substr(at, 80);
      if (at + 80 <= unbroken.size()) expected += "\r\n";
    }
    EXPECT_EQ(lines, expected) << size;
  }
  EXPECT_EQ(Base64LinesFromBytes("abcdef", 6, 4), "YWJj\r\nZGVm\r\n");
  EXPECT_THROW(Base64LinesFromBytes("abc", 3, 6), EInvalidOperation) << "a line must hold whole groups";
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/common/codec/md5.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

std::string Hex(const Md5Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

TEST(Md5Test, MatchesTheTestSuiteOfRfc1321) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : suite) EXPECT_EQ(Hex(MD5Digest(std::string(message))), digest) << message;
}

TEST(Md5Test, PadsAcrossBlockBoundaries) {
  // 55 bytes leave room for the length in the last block, 56 do not; 64 and
  // 120 bytes start a block of padding of their own.
  const std::pair<std::size_t, const char*> lengths[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
      {119, "8a7bd0732ed6a28ce75f6dabc90e1613"}, {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
  };
  for (const auto& [length, digest] : lengths) EXPECT_EQ(Hex(MD5Digest(std::string(length, 'a'))), digest) << length;

  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes += static_cast<char>(i);
  EXPECT_EQ(Hex(MD5Digest(all_bytes)), "e2c865db4162bed963bfaa9ef6ac18f0");
  EXPECT_EQ(Hex(MD5Digest(std::string(1000000, 'a'))), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
}  // namespace vellum::exceptlog

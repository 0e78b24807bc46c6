#include "exceptlog/debuginfo/stamp.h"

#include <gtest/gtest.h>

#include <vector>

#include "exceptlog/common/binary/testing/pe_file_test_support.h"

namespace vellum::exceptlog {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kCode = {0x55, 0x8B, 0xEC, 0x5D, 0xC3};

TEST(CompareCode, OnlyTheResourcesMayDifferBetweenTheTwoLinks) {
  const Bytes first = testing::BuildTestDll(kCode, "ELDATA", {});
  EXPECT_EQ(CompareCode(PeFile(first), PeFile(testing::BuildTestDll(kCode, "ELDATA", Bytes(5000, 1)))), "");

  Bytes changed_code = kCode;
  changed_code[1] = 0x89;
  EXPECT_EQ(CompareCode(PeFile(first), PeFile(testing::BuildTestDll(changed_code, "ELDATA", {}))),
            "section .text has other bytes");

  Bytes other_base = first;
  testing::Put32(other_base, 0x58 + 28, 0x20000000);
  EXPECT_EQ(CompareCode(PeFile(first), PeFile(other_base)), "the preferred base differs");

  Bytes renamed = first;
  renamed[0x58 + 0xE0 + 1] = 'c';
  EXPECT_EQ(CompareCode(PeFile(first), PeFile(renamed)), "section .text is missing");
}

TEST(CodeOf, ReadsCodeByItsOffsetFromTheFirstSection) {
  const PeFile module(testing::BuildTestDll(kCode, "ELDATA", {}));
  const CodeBytesReader code = CodeOf(module);
  std::uint8_t bytes[2];
  ASSERT_TRUE(code(3, bytes));
  EXPECT_EQ(bytes[0], 0x5D);
  EXPECT_FALSE(code(4, bytes)) << "past the section's data";
  EXPECT_FALSE(code(0xFFFFF000u, bytes)) << "an offset that would wrap the RVA";
}

}  // namespace
}  // namespace vellum::exceptlog

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

  // 64-bit links: the whole 8-byte base counts.
  const Bytes wide = testing::BuildTestDll(kCode, "ELDATA", {}, testing::kTestImageBase64);
  EXPECT_EQ(CompareCode(PeFile(wide),
                        PeFile(testing::BuildTestDll(kCode, "ELDATA", Bytes(5000, 1), testing::kTestImageBase64))),
            "");
  EXPECT_EQ(CompareCode(PeFile(wide), PeFile(testing::BuildTestDll(kCode, "ELDATA", {}, 0x280000000))),
            "the preferred base differs");
  EXPECT_EQ(CompareCode(PeFile(first), PeFile(wide)), "the format differs");
}

TEST(CodeBoundsOf, TheTextSectionAtThePreferredBase) {
  const CodeBounds wide = CodeBoundsOf(PeFile(testing::BuildTestDll(kCode, "ELDATA", {}, testing::kTestImageBase64)));
  EXPECT_EQ(wide.ImageBase, 0x180000000u);
  EXPECT_EQ(wide.Low, 0x180001000u);
  EXPECT_EQ(wide.High, 0x180001000u + kCode.size());

  // Code inside the headers has no offset in the stored form, which counts
  // from the base + 0x1000.
  Bytes low_text = testing::BuildTestDll(kCode, "ELDATA", {});
  testing::Put32(low_text, 0x58 + 0xE0 + 12, 0x800);
  EXPECT_THROW(CodeBoundsOf(PeFile(low_text)), EPeFormatError);
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

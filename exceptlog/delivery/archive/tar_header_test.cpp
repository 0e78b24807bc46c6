#include "exceptlog/delivery/archive/tar_header.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

std::string Field(const TarBlock& block, std::size_t offset, std::size_t width) {
  return std::string(reinterpret_cast<const char*>(block.data()) + offset, width);
}

std::string Number(std::size_t width, std::uint64_t value) {
  std::string field(width, 'x');
  WriteTarNumber(reinterpret_cast<std::uint8_t*>(field.data()), width, value);
  return field;
}

TEST(TarHeaderTest, NumbersAreBlankPaddedOctal) {
  EXPECT_EQ(Number(8, 0), std::string("     0 \0", 8));
  EXPECT_EQ(Number(12, 0), "          0 ");  // ten blanks, "0" and a blank
  EXPECT_EQ(Number(12, 513), "       1001 ");
  EXPECT_EQ(Number(8, 0777777), std::string("777777 \0", 8));
  EXPECT_EQ(Number(12, 1614834367), "14020065277 ");
  // Beyond eleven octal digits (after the year 2242) the field saturates
  // rather than dropping the leading digits.
  EXPECT_EQ(Number(12, std::uint64_t{1} << 40), "77777777777 ");
}

TEST(TarHeaderTest, BlockHoldsTheFieldsAtTheirOffsets) {
  const TarBlock block = TarHeaderBlock({"report.txt", 513, 1614834367});
  EXPECT_EQ(Field(block, 0, 11), std::string("report.txt\0", 11));
  EXPECT_EQ(Field(block, 100, 8), std::string("     0 \0", 8));
  EXPECT_EQ(Field(block, 108, 8), std::string("     0 \0", 8));
  EXPECT_EQ(Field(block, 116, 8), std::string("     0 \0", 8));
  EXPECT_EQ(Field(block, 124, 12), "       1001 ");
  EXPECT_EQ(Field(block, 136, 12), "14020065277 ");
  EXPECT_EQ(block[156], '0');
  EXPECT_EQ(Field(block, 257, 8), "ustar   ");
  for (std::size_t i = 265; i < kTarBlockSize; ++i) ASSERT_EQ(block[i], 0) << i;
  for (std::size_t i = 157; i < 257; ++i) ASSERT_EQ(block[i], 0) << i;

  // The checksum counts its own field as eight blanks.
  TarBlock blanked = block;
  for (std::size_t i = 148; i < 156; ++i) blanked[i] = ' ';
  unsigned sum = 0;
  for (const std::uint8_t byte : blanked) sum += byte;
  EXPECT_EQ(Field(block, 148, 8), Number(8, sum));
}

TEST(TarHeaderTest, NamesFillOrAreCutAtOneHundredBytes) {
  const std::string hundred(100, 'n');
  const TarBlock full = TarHeaderBlock({hundred, 0, 0});
  EXPECT_EQ(Field(full, 0, 100), hundred);  // no terminating zero: the mode field follows
  EXPECT_EQ(full[100], ' ');

  const TarBlock cut = TarHeaderBlock({hundred + "tail", 0, 0});
  EXPECT_EQ(cut, full);
}

TEST(TarHeaderTest, TimesBefore1970AreWrittenAsZero) {
  const TarBlock block = TarHeaderBlock({"old", 0, -86400});
  EXPECT_EQ(Field(block, 136, 12), "          0 ");
}

}  // namespace
}  // namespace vellum::exceptlog

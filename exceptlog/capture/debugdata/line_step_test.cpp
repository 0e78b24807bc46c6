#include "exceptlog/capture/debugdata/line_step.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

LineStep Decode(std::vector<std::uint8_t> bytes, std::uint16_t version, std::size_t* used = nullptr) {
  DebugDataCursor in(bytes);
  const LineStep step = ReadLineStep(in, version);
  if (used != nullptr) *used = in.Position();
  return step;
}

TEST(LineStep, DecodesEveryFlagLayout) {
  // One byte, not named: line step from bits 6..7, address step from bits 1..5.
  EXPECT_EQ(Decode({0x36}, 504), (LineStep{1, 28, false}));
  EXPECT_EQ(Decode({0xFE}, 504), (LineStep{4, 32, false}));
  // One byte, named: bits 5..7 and 2..4.
  EXPECT_EQ(Decode({0x2D}, 504), (LineStep{2, 4, true}));
  // Two bytes, little-endian, bit 2 the named bit.
  EXPECT_EQ(Decode({0x73, 0x12}, 504), (LineStep{3, 40, false}));
  EXPECT_EQ(Decode({0x77, 0x12}, 504), (LineStep{3, 40, true}));
  // Four bytes: line step in the low 16 bits of d >> 4, address step above.
  EXPECT_EQ(Decode({0x9F, 0x00, 0x50, 0x00}, 504), (LineStep{10, 6, true}));
  // An all-ones address field moves only the line.
  EXPECT_EQ(Decode({0x2B, 0x00, 0xF0, 0xFF}, 504), (LineStep{3, 0, false}));
}

TEST(LineStep, EscapeCarriesTwoWordsOnlyAfterVersion422) {
  const std::vector<std::uint8_t> bytes = {0xEB, 0xFF, 0xEF, 0xFF, 0x33, 0x12, 0x66, 0x45};
  std::size_t used = 0;
  EXPECT_EQ(Decode(bytes, 423, &used), (LineStep{0x1234, 0x4567, false}));
  EXPECT_EQ(used, 8u);
  EXPECT_EQ(Decode(bytes, 422, &used), (LineStep{0xFFFF, 0xFFF, false}));
  EXPECT_EQ(used, 4u);
}

TEST(LineStep, WriterRoundTripsWithTheShortestForm) {
  const std::uint32_t lines[] = {1, 2, 4, 5, 8, 9, 32, 33, 0xFFFE, 0xFFFF, 0x10000};
  const std::uint32_t addresses[] = {0, 1, 8, 9, 32, 33, 128, 129, 0xFFE, 0xFFF, 0x1000, 0x10000};
  for (const std::uint16_t version : {std::uint16_t{422}, std::uint16_t{504}}) {
    for (const std::uint32_t line : lines) {
      for (const std::uint32_t address : addresses) {
        for (const bool named : {false, true}) {
          const LineStep step{line, address, named};
          SCOPED_TRACE(::testing::Message() << version << " " << line << " " << address << " " << named);
          if (!CanWriteLineStep(step, version)) {
            // Before the escape, address steps end at the four-byte form's 0xFFF.
            EXPECT_EQ(version, 422);
            EXPECT_GT(address, 0xFFFu);
            EXPECT_THROW(
                {
                  std::vector<std::uint8_t> out;
                  WriteLineStep(out, step, version);
                },
                EDebugDataError);
            continue;
          }
          std::vector<std::uint8_t> out;
          WriteLineStep(out, step, version);
          std::size_t used = 0;
          EXPECT_EQ(Decode(out, version, &used), step);
          EXPECT_EQ(used, out.size());
          const bool short_form = address >= 1 && (named ? line <= 8 && address <= 8 : line <= 4 && address <= 32);
          if (short_form) {
            EXPECT_EQ(out.size(), 1u);
          } else if (address >= 1 && line <= 32 && address <= 128) {
            EXPECT_EQ(out.size(), 2u);
          }
        }
      }
    }
  }
}

TEST(LineStep, RefusesStepsTheFormatCannotHold) {
  EXPECT_FALSE(CanWriteLineStep({0, 1, false}, 504));
  EXPECT_FALSE(CanWriteLineStep({0x10001, 1, false}, 504));
  EXPECT_FALSE(CanWriteLineStep({1, 0x10001, false}, 504));
}

TEST(LineStep, TruncatedEntriesRaise) {
  EXPECT_THROW(Decode({0x73}, 504), EDebugDataError);
  EXPECT_THROW(Decode({0x9F, 0x00, 0x05}, 504), EDebugDataError);
  EXPECT_THROW(Decode({0xEB, 0xFF, 0xEF, 0xFF, 0x33, 0x12, 0x66}, 504), EDebugDataError);
}

}  // namespace
}  // namespace vellum::exceptlog

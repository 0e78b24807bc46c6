#include "band/doctor/module_bits.h"

#include <gtest/gtest.h>

#include "exceptlog/common/binary/testing/pe_file_test_support.h"

namespace vellum::band {
namespace {

using exceptlog::testing::BuildTestDll;

TEST(ModuleBits, TheMachineFieldDecides) {
  EXPECT_EQ(ModuleBits(BuildTestDll({0xC3}, "X", {1})), Bits::k32);
  EXPECT_EQ(ModuleBits(BuildTestDll({0xC3}, "X", {1}, 0x180000000)), Bits::k64);
  // A PE32+ header for a machine no Explorer of ours runs on: no bitness,
  // rather than a guess from the header's form.
  std::vector<std::uint8_t> arm64 = BuildTestDll({0xC3}, "X", {1}, 0x180000000);
  exceptlog::testing::Put16(arm64, 0x44, 0xAA64);
  EXPECT_EQ(ModuleBits(arm64), std::nullopt);
}

TEST(ModuleBits, NoBitnessForWhatIsNoModule) {
  std::vector<std::uint8_t> dll = BuildTestDll({0xC3}, "X", {1});
  EXPECT_EQ(ModuleBits({}), std::nullopt);
  EXPECT_EQ(ModuleBits(std::span(dll).first(0x50)), std::nullopt) << "cut inside the headers";
  std::vector<std::uint8_t> text(dll.size(), 'x');
  EXPECT_EQ(ModuleBits(text), std::nullopt);
  exceptlog::testing::Put32(dll, 0x3C, 0x7FFFFFF0);
  EXPECT_EQ(ModuleBits(dll), std::nullopt) << "the new header far beyond the file";
}

}  // namespace
}  // namespace vellum::band

#include "exceptlog/capture/callstack/stack_scan.h"

#include <gtest/gtest.h>

#include <vector>

#include "exceptlog/common/binary/testing/fake_memory_test_support.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint32_t kCode = 0x00401000;
constexpr std::uint32_t kStack = 0x00100000;

// Code with call sites: "call eax" ending at kCode + 0x12 and kCode + 0x22,
// and a relative call to kCode + 0x80 ending at kCode + 0x35.
class StackScan : public ::testing::Test {
 protected:
  void SetUp() override {
    memory_.Map(kCode, 0x1000);
    memory_.Write(kCode + 0x10, {0xFF, 0xD0});
    memory_.Write(kCode + 0x20, {0xFF, 0xD0});
    memory_.Write(kCode + 0x30, {0xE8, 0x4B, 0x00, 0x00, 0x00});
    memory_.Write(kCode + 0x80, {0x55, 0x8B, 0xEC, 0x5D, 0xC3});
  }
  std::vector<std::uint64_t> Scan(StackScanRange range) {
    std::vector<std::uint64_t> found;
    ScanStack(memory_, range, [&](std::uint64_t address) { found.push_back(address); });
    return found;
  }
  testing::FakeMemory memory_;
};

TEST_F(StackScan, ListsExceptionAddressThenCallsFromThePositionUp) {
  memory_.Map(kStack, 0x100);
  memory_.Write32(kStack + 0x04, kCode + 0x22);
  memory_.Write32(kStack + 0x08, 0x12345678);  // data, not mapped
  memory_.Write32(kStack + 0x0C, kCode + 0x35);
  memory_.Write32(kStack + 0x10, kCode + 0x40);  // mapped, but no call before it
  memory_.Write32(kStack + 0x14, 3);
  memory_.Write32(kStack + 0x20, kCode + 0x12);
  const std::vector<std::uint64_t> found = Scan({0xDEAD0000, kStack, kStack + 0x100});
  EXPECT_EQ(found, (std::vector<std::uint64_t>{0xDEAD0000, kCode + 0x20, kCode + 0x80, kCode + 0x30, kCode + 0x10}));
  // Without an exception address, and from a higher position.
  EXPECT_EQ(Scan({0, kStack + 0x0C, kStack + 0x100}),
            (std::vector<std::uint64_t>{kCode + 0x80, kCode + 0x30, kCode + 0x10}));
}

TEST_F(StackScan, DeepStackIsScannedOnlyInItsLowest100KB) {
  constexpr std::uint32_t kMegabyte = 1 << 20;
  memory_.Map(kStack, kMegabyte);
  const std::uint32_t position = kStack + 0x40;
  memory_.Write32(position, kCode + 0x12);
  memory_.Write32(position + kMaxScannedStackBytes - 4, kCode + 0x22);  // last word scanned
  memory_.Write32(position + kMaxScannedStackBytes, kCode + 0x12);      // first word left out
  memory_.Write32(kStack + kMegabyte - 4, kCode + 0x12);
  EXPECT_EQ(Scan({0, position, kStack + kMegabyte}), (std::vector<std::uint64_t>{kCode + 0x10, kCode + 0x20}));
  EXPECT_EQ(ScannedStackEnd({0, position, kStack + kMegabyte}), position + kMaxScannedStackBytes);
  // A stack within the bound is scanned to its top.
  EXPECT_EQ(ScannedStackEnd({0, position, position + 4096}), position + 4096);
  EXPECT_EQ(ScannedStackEnd({0, position, position - 4}), position) << "a top below the position scans nothing";
}

TEST_F(StackScan, UnreadableStackWordsAreSkippedAndTheRestIsScanned) {
  // Two pieces of stack with an unmapped gap; the readability window that
  // spans the gap falls back to single words.
  memory_.Map(kStack, 0x100);
  memory_.Map(kStack + 0x200, 0x400);
  memory_.Write32(kStack + 0xFC, kCode + 0x12);
  memory_.Write32(kStack + 0x200, kCode + 0x22);
  memory_.Write32(kStack + 0x5FC, kCode + 0x35);
  EXPECT_EQ(Scan({0, kStack, kStack + 0x600}),
            (std::vector<std::uint64_t>{kCode + 0x10, kCode + 0x20, kCode + 0x80, kCode + 0x30}));
}

TEST_F(StackScan, StackEndingInAPartialWordAndStacksAtTheTopOfMemory) {
  memory_.Map(kStack, 0x10);
  memory_.Write32(kStack + 0x08, kCode + 0x12);
  memory_.Write32(kStack + 0x0C, kCode + 0x22);
  EXPECT_EQ(Scan({0, kStack + 0x08, kStack + 0x0F}), (std::vector<std::uint64_t>{kCode + 0x10}));
  memory_.Map(0xFFFFFF00, 0x100);
  EXPECT_TRUE(Scan({0, 0xFFFFFF00, 0xFFFFFFFF}).empty());
}

}  // namespace
}  // namespace vellum::exceptlog

namespace vellum::exceptlog {
namespace {

// A 64-bit process: code above 4 GB, 8-byte stack words, and calls with a
// REX prefix or through a cell relative to the next instruction.
TEST(StackScan64, EightByteWordsNameCallsAbove4GB) {
  constexpr std::uint64_t kCode64 = 0x16B401000;
  constexpr std::uint64_t kStack64 = 0x22F000;
  testing::FakeMemory memory;
  memory.Map(kCode64, 0x1000);
  memory.Write(kCode64 + 0x10, {0x41, 0xFF, 0xD3});                    // call r11
  memory.Write(kCode64 + 0x20, {0xFF, 0x15, 0xDA, 0x0F, 0x00, 0x00});  // call [rip+0xFDA] = [kCode64 + 0x1000 - 0x20]
  memory.Write(kCode64 + 0x30, {0xE8, 0x4B, 0x00, 0x00, 0x00});        // call kCode64 + 0x80
  memory.Write(kCode64 + 0x80, {0x48, 0x83, 0xEC, 0x28, 0xC3});
  memory.Map(kStack64, 0x100);
  memory.Write64(kStack64 + 0x08, kCode64 + 0x13);
  memory.Write64(kStack64 + 0x10, kCode64 + 0x26);  // the cell lies past the mapped code: no call
  memory.Write64(kStack64 + 0x18, kCode64 + 0x35);
  memory.Write64(kStack64 + 0x20, (kCode64 + 0x13) & 0xFFFFFFFF);               // the low half alone names nothing
  memory.Write32(kStack64 + 0x2C, static_cast<std::uint32_t>(kCode64 + 0x13));  // misaligned: not a word
  std::vector<std::uint64_t> found;
  const auto record = [&](std::uint64_t address) { found.push_back(address); };
  ScanStack(memory, {0, kStack64, kStack64 + 0x100, ProcessBits::k64}, record);
  EXPECT_EQ(found, (std::vector<std::uint64_t>{kCode64 + 0x10, kCode64 + 0x80, kCode64 + 0x30}));

  memory.Map(kCode64 + 0x1000, 0x100);  // now the cell exists
  found.clear();
  ScanStack(memory, {0, kStack64 + 0x10, kStack64 + 0x18, ProcessBits::k64}, record);
  EXPECT_EQ(found, (std::vector<std::uint64_t>{kCode64 + 0x20}));
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/capture/hooking/trampoline_placement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/trampoline.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint64_t kGranularity = 0x10000;
constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();

// "mov eax, [rip + disp]; add eax, ecx; ret" and padding, reading `data`
// when placed at `procedure`.
std::vector<std::uint8_t> RipLoadPrologue(std::uint64_t procedure, std::uint64_t data) {
  const auto displacement = static_cast<std::uint32_t>(data - (procedure + 6));
  std::vector<std::uint8_t> bytes = {0x8B, 0x05, 0, 0, 0, 0, 0x01, 0xC8, 0xC3};
  for (int i = 0; i < 4; ++i) bytes[2 + i] = static_cast<std::uint8_t>(displacement >> (8 * i));
  bytes.resize(kPrologueWindow, 0xCC);
  return bytes;
}

// A trampoline with a relay, anywhere in the window, works: its moved operand
// reaches the data, and the procedure's jump reaches every byte of it.
TEST(TrampolinePlacement, EveryBaseInTheWindowReachesProcedureAndData) {
  const std::uint64_t procedure = 0x00007FF6'12340000;
  for (const std::int64_t data_offset : {std::int64_t{0x100}, std::int64_t{0x7FFF0000}, -std::int64_t{0x7FFF0000}}) {
    SCOPED_TRACE(data_offset);
    const std::uint64_t data = procedure + static_cast<std::uint64_t>(data_offset);
    const auto prologue = RipLoadPrologue(procedure, data);
    const TrampolinePlan plan = PlanTrampoline(prologue, CodeMode::k64);
    const std::vector<std::uint64_t> targets = RipRelativeTargets(prologue, plan, procedure);
    ASSERT_EQ(targets, std::vector<std::uint64_t>{data});
    const std::uint64_t size = plan.size() + kAbsoluteJumpSize;
    std::vector<std::uint64_t> anchors = targets;
    anchors.push_back(procedure);
    const AddressWindow window = ReachWindow(anchors, size);
    ASSERT_FALSE(window.empty());
    EXPECT_GT(window.highest - window.lowest, std::uint64_t{0x70000000}) << "most of the 2 GB stay usable";
    for (const std::uint64_t base : {window.lowest, window.highest}) {
      EXPECT_NO_THROW(BuildTrampoline(prologue, plan, procedure, base));
      EXPECT_TRUE(EncodeNearJump64(procedure, base));
      EXPECT_TRUE(EncodeNearJump64(procedure, base + size - 1));
    }
    // A block a little more than 2 GB away in either direction reaches neither.
    EXPECT_THROW(BuildTrampoline(prologue, plan, procedure, data + kDisplacementReach + 0x1000), EHookError);
    EXPECT_GT(data + kDisplacementReach, window.highest);
  }
}

TEST(TrampolinePlacement, WindowsStayInsideTheAddressSpace) {
  const std::uint64_t anchors_4gb_apart[] = {0x1'0000'0000, 0x2'0000'0000};
  EXPECT_TRUE(ReachWindow(anchors_4gb_apart, 64).empty()) << "no block reaches both";
  const std::uint64_t low[] = {0x1000};
  EXPECT_EQ(ReachWindow(low, 64).lowest, 0u);
  const std::uint64_t high[] = {kTop - 0x1000};
  EXPECT_EQ(ReachWindow(high, 64).highest, kTop - 64);
  const std::uint64_t any[] = {0x1000};
  EXPECT_TRUE(ReachWindow(any, kDisplacementReach).empty());
}

TEST(TrampolinePlacement, FreeRegionsGiveTheAlignedBaseNearestTheProcedure) {
  const AddressWindow all{0, kTop};
  const std::uint64_t near_address = 0x1'4000'1234;
  // Below the procedure: as high as the block fits.
  EXPECT_EQ(PlaceInFreeRegion(0x1'0000'0000, 0x1'2000'8000, 0x100, kGranularity, all, near_address), 0x1'2000'0000u);
  // Above: the first aligned address.
  EXPECT_EQ(PlaceInFreeRegion(0x1'6000'0001, 0x1'7000'0000, 0x100, kGranularity, all, near_address), 0x1'6001'0000u);
  // Around: just below the procedure.
  EXPECT_EQ(PlaceInFreeRegion(0x1'0000'0000, 0x2'0000'0000, 0x100, kGranularity, all, near_address), 0x1'4000'0000u);
  // The window cuts the region.
  const AddressWindow window{0x1'3000'0000, 0x1'3FFF'0000};
  EXPECT_EQ(PlaceInFreeRegion(0x1'0000'0000, 0x2'0000'0000, 0x100, kGranularity, window, near_address), 0x1'3FFF'0000u);
  EXPECT_EQ(PlaceInFreeRegion(0x1'0000'0000, 0x1'2FFF'0000, 0x100, kGranularity, window, near_address), std::nullopt);

  // No aligned base leaves room for the block.
  EXPECT_EQ(PlaceInFreeRegion(0x1'0000'1000, 0x1'0001'0080, 0x100, kGranularity, all, near_address), std::nullopt);
  EXPECT_EQ(PlaceInFreeRegion(0x1'0000'0000, 0x1'0000'0080, 0x100, kGranularity, all, near_address), std::nullopt);
  EXPECT_EQ(PlaceInFreeRegion(kTop - 0xFFFE, kTop, 0x100, kGranularity, all, near_address), std::nullopt);
  EXPECT_EQ(PlaceInFreeRegion(0, 0x10000, 0x100, kGranularity, AddressWindow{1, 0}, 0), std::nullopt);
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/capture/callstack/win/process_memory_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace vellum::exceptlog {
namespace {

// Reserved pages, every other one committed: as many regions as pages, each
// readable or not.
class StripedPages {
 public:
  explicit StripedPages(std::size_t pages) : pages_(pages) {
    base_ = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, pages * kPage, MEM_RESERVE, PAGE_NOACCESS));
    for (std::size_t i = 0; i < pages; i += 2) VirtualAlloc(base_ + i * kPage, kPage, MEM_COMMIT, PAGE_READWRITE);
  }
  ~StripedPages() { VirtualFree(base_, 0, MEM_RELEASE); }
  StripedPages(const StripedPages&) = delete;
  StripedPages& operator=(const StripedPages&) = delete;

  std::uint64_t Page(std::size_t i) const { return reinterpret_cast<std::uintptr_t>(base_ + i * kPage); }
  static bool Committed(std::size_t i) { return i % 2 == 0; }
  std::size_t Count() const { return pages_; }

  static constexpr std::size_t kPage = 4096;

 private:
  std::size_t pages_;
  std::uint8_t* base_ = nullptr;
};

TEST(ProcessMemoryReader, AnswersAsTheMemoryManagerAcrossMoreRegionsThanItKeeps) {
  const StripedPages pages(400);
  std::vector<std::size_t> order(pages.Count());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  const ProcessMemoryReader memory;
  for (int round = 0; round < 2; ++round) {
    for (const std::size_t i : order) {
      ASSERT_EQ(memory.IsReadable(pages.Page(i) + 100, 8), StripedPages::Committed(i)) << "page " << i;
      // The last byte of a page, and a read that runs into the next page.
      ASSERT_EQ(memory.IsReadable(pages.Page(i) + StripedPages::kPage - 1, 1), StripedPages::Committed(i));
      if (i + 1 < pages.Count()) {
        ASSERT_FALSE(memory.IsReadable(pages.Page(i) + StripedPages::kPage - 4, 8));
      }
    }
  }
  std::uint32_t value = 0;
  EXPECT_TRUE(memory.Read(pages.Page(0), &value, sizeof value));
  EXPECT_FALSE(memory.Read(pages.Page(1), &value, sizeof value));
}

TEST(ProcessMemoryReader, AsksOncePerRegionAndTakesKnownRangesWithoutAsking) {
  const StripedPages pages(8);
  const ProcessMemoryReader memory;
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < pages.Count(); ++i) memory.IsReadable(pages.Page(i) + 8, 4);
  }
  EXPECT_EQ(memory.Queries(), 8) << "each region asked about once";

  // A range told readable needs no question; one inside a region already
  // known readable leaves that region's answer in place.
  const ProcessMemoryReader told;
  told.KnowReadable(pages.Page(2), pages.Page(3));
  EXPECT_TRUE(told.IsReadable(pages.Page(2), 64));
  EXPECT_EQ(told.Queries(), 0);
  told.KnowReadable(pages.Page(2) + 64, pages.Page(2) + 128);
  EXPECT_TRUE(told.IsReadable(pages.Page(2) + 1024, 8));
  EXPECT_EQ(told.Queries(), 0);
  // Neighbours are asked, and the told range stays.
  EXPECT_FALSE(told.IsReadable(pages.Page(3), 8));
  EXPECT_TRUE(told.IsReadable(pages.Page(4), 8));
  EXPECT_TRUE(told.IsReadable(pages.Page(2) + 8, 8));
  EXPECT_EQ(told.Queries(), 2);
}

}  // namespace
}  // namespace vellum::exceptlog

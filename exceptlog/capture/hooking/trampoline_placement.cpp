#include "exceptlog/capture/hooking/trampoline_placement.h"

#include <algorithm>
#include <limits>

namespace vellum::exceptlog {
namespace {

// Room beyond the block's own size: the procedure's jump is counted from its
// end, 5 bytes after the anchor, and an instruction's displacement from the
// instruction's end. 16 covers both with bytes to spare.
constexpr std::uint64_t kSlack = 16;

constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();

std::uint64_t AlignDown(std::uint64_t value, std::uint64_t granularity) {
  return value & ~(granularity - 1);
}

std::optional<std::uint64_t> AlignUp(std::uint64_t value, std::uint64_t granularity) {
  const std::uint64_t down = AlignDown(value, granularity);
  if (down == value) return value;
  if (down > kTop - granularity) return std::nullopt;
  return down + granularity;
}

}  // namespace

AddressWindow ReachWindow(std::span<const std::uint64_t> anchors, std::uint64_t size) {
  AddressWindow window{0, kTop};
  if (size >= kDisplacementReach - kSlack) return {1, 0};
  // With |base - anchor| <= margin, the farthest byte of the block is still
  // kSlack short of the reach in either direction.
  const std::uint64_t margin = kDisplacementReach - kSlack - size;
  for (const std::uint64_t anchor : anchors) {
    window.lowest = std::max(window.lowest, anchor >= margin ? anchor - margin : 0);
    window.highest = std::min(window.highest, anchor <= kTop - margin ? anchor + margin : kTop);
  }
  // The block itself must fit below the top of the address space.
  window.highest = std::min(window.highest, kTop - size);
  return window;
}

std::optional<std::uint64_t> PlaceInFreeRegion(std::uint64_t begin, std::uint64_t end, std::uint64_t size,
                                               std::uint64_t granularity, const AddressWindow& window,
                                               std::uint64_t close_to) {
  if (window.empty() || end < begin || end - begin < size) return std::nullopt;
  const auto lowest = AlignUp(std::max(begin, window.lowest), granularity);
  const std::uint64_t highest = AlignDown(std::min(end - size, window.highest), granularity);
  if (!lowest || *lowest > highest) return std::nullopt;
  return std::clamp(AlignDown(close_to, granularity), *lowest, highest);
}

}  // namespace vellum::exceptlog

// Where a 64-bit trampoline may live. Its copied instructions keep their
// 32-bit displacements, and the procedure's 5-byte jump must reach it (or the
// relay to the hook beside it), so the whole block has to lie within 2 GB of
// the procedure and of every operand the copied instructions address relative
// to the instruction pointer. Pure arithmetic on addresses; the search of the
// process's free memory uses it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vellum::exceptlog {

// How far a 32-bit displacement reaches either way.
inline constexpr std::uint64_t kDisplacementReach = std::uint64_t{1} << 31;

// The first and last base address a block may start at; empty when
// lowest > highest.
struct AddressWindow {
  std::uint64_t lowest = 0;
  std::uint64_t highest = 0;
  bool empty() const { return lowest > highest; }
};

// The bases at which `size` bytes lie wholly within reach of each of
// `anchors`: every byte of the block reaches each anchor with a 32-bit
// displacement, and a jump at an anchor reaches every byte of the block.
// Empty when the anchors lie too far apart for one block, or `size` is
// absurd.
AddressWindow ReachWindow(std::span<const std::uint64_t> anchors, std::uint64_t size);

// The base for `size` bytes in the free region [begin, end), aligned to
// `granularity` (a power of two) and inside `window`: the aligned address at
// or just below `close_to` when the region holds it, else the region's base
// closest to `close_to`; none when the region holds no such base.
std::optional<std::uint64_t> PlaceInFreeRegion(std::uint64_t begin, std::uint64_t end, std::uint64_t size,
                                               std::uint64_t granularity, const AddressWindow& window,
                                               std::uint64_t close_to);

}  // namespace vellum::exceptlog

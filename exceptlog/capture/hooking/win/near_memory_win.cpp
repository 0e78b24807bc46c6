#include "exceptlog/capture/hooking/win/near_memory_win.h"

#include <windows.h>

#include <algorithm>
#include <optional>

namespace vellum::exceptlog {
namespace {

// VirtualQuery describes the pages from the queried one upwards that share
// its state; a reserved or committed run also names where its allocation
// starts.
struct Region {
  std::uintptr_t begin = 0;
  std::uintptr_t end = 0;
  std::uintptr_t allocation_base = 0;
  bool free = false;
};

std::optional<Region> RegionAt(std::uintptr_t address) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return std::nullopt;
  const auto begin = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
  return Region{begin, begin + info.RegionSize, reinterpret_cast<std::uintptr_t>(info.AllocationBase),
                info.State == MEM_FREE};
}

// Granularity and the bounds of the memory a process may allocate, which do
// not change while it runs.
struct AddressSpace {
  std::uintptr_t granularity = 0x10000;
  std::uintptr_t lowest = 0x10000;
  std::uintptr_t highest = 0;
};

const AddressSpace& ProcessAddressSpace() {
  static const AddressSpace space = [] {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    return AddressSpace{system.dwAllocationGranularity,
                        reinterpret_cast<std::uintptr_t>(system.lpMinimumApplicationAddress),
                        reinterpret_cast<std::uintptr_t>(system.lpMaximumApplicationAddress)};
  }();
  return space;
}

// Another thread may take a free region between the query and the
// allocation; the walk then goes on past it.
UniqueVirtualMemory AllocateInRegion(const Region& region, const AddressWindow& window, std::uintptr_t close_to,
                                     std::size_t size) {
  if (!region.free) return UniqueVirtualMemory();
  const auto base =
      PlaceInFreeRegion(region.begin, region.end, size, ProcessAddressSpace().granularity, window, close_to);
  if (!base) return UniqueVirtualMemory();
  // width: the base lies inside the region, an address range of this process.
  return UniqueVirtualMemory(VirtualAlloc(reinterpret_cast<void*>(static_cast<std::uintptr_t>(*base)), size,
                                          MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

}  // namespace

UniqueVirtualMemory AllocateWithin(const AddressWindow& wanted, std::uintptr_t close_to, std::size_t size) {
  const AddressSpace& space = ProcessAddressSpace();
  AddressWindow window = wanted;
  window.lowest = std::max<std::uint64_t>(window.lowest, space.lowest);
  if (space.highest < size) return UniqueVirtualMemory();
  window.highest = std::min<std::uint64_t>(window.highest, space.highest + 1 - size);
  if (window.empty()) return UniqueVirtualMemory();
  close_to = static_cast<std::uintptr_t>(std::clamp<std::uint64_t>(close_to, window.lowest, window.highest));
  const std::uintptr_t granularity = space.granularity;

  // Two walks away from `close_to`; the one that has gone less far takes the
  // next step, so the nearest free region is tried first. Upwards a query
  // tells where the next region starts. Downwards it cannot (it describes the
  // pages above the queried one), so that walk queries allocation-aligned
  // addresses and skips an allocation as a whole.
  const auto start = RegionAt(close_to);
  if (!start) return UniqueVirtualMemory();
  if (UniqueVirtualMemory memory = AllocateInRegion(*start, window, close_to, size)) return memory;
  std::uintptr_t above = start->end;                     // the next region up starts here
  std::uintptr_t below = close_to & ~(granularity - 1);  // nothing free was found from here up
  if (!start->free && start->allocation_base != 0) below = std::min(below, start->allocation_base);
  bool above_done = above == 0 || above > window.highest;
  bool below_done = below < granularity || below - granularity < window.lowest;
  while (!above_done || !below_done) {
    const bool go_up = !above_done && (below_done || above - close_to <= close_to - below);
    const std::uintptr_t query = go_up ? above : below - granularity;
    const auto region = RegionAt(query);
    if (!region) {
      (go_up ? above_done : below_done) = true;
      continue;
    }
    if (UniqueVirtualMemory memory = AllocateInRegion(*region, window, close_to, size)) return memory;
    if (go_up) {
      above = region->end;
      above_done = above == 0 || above > window.highest;
    } else {
      below = !region->free && region->allocation_base != 0 ? std::min(query, region->allocation_base) : query;
      below_done = below < granularity || below - granularity < window.lowest;
    }
  }
  return UniqueVirtualMemory();
}

}  // namespace vellum::exceptlog

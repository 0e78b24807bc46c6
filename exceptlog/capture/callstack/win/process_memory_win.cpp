#include "exceptlog/capture/callstack/win/process_memory_win.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace vellum::exceptlog {

namespace {

// The lowest 64 KB are never mapped: small integers on a stack are
// answered without asking.
constexpr std::uint64_t kFirstMappableAddress = 0x10000;
// Above this the process has no memory: 4 GB in a 32-bit process, the user
// part of the address space in a 64-bit one.
constexpr std::uint64_t kAddressSpaceEnd = sizeof(void*) == 8 ? 0x800000000000 : 0x100000000;

bool ReadableProtection(const MEMORY_BASIC_INFORMATION& info) {
  if (info.State != MEM_COMMIT) return false;
  const DWORD protect = info.Protect & 0xFF;
  return (info.Protect & PAGE_GUARD) == 0 && protect != PAGE_NOACCESS && protect != 0;
}

}  // namespace

const ProcessMemoryReader::Region* ProcessMemoryReader::CachedRegionOf(std::uint64_t address) const {
  // The last region whose start is at or below the address is the only one
  // that can hold it: the regions do not overlap.
  const Region* const begin = cache_.data();
  const Region* const end = begin + filled_;
  const Region* const after =
      std::upper_bound(begin, end, address, [](std::uint64_t a, const Region& r) { return a < r.start; });
  if (after == begin) return nullptr;
  const Region* const candidate = after - 1;
  return address < candidate->end ? candidate : nullptr;
}

bool ProcessMemoryReader::RegionOf(std::uint64_t address, Region& region) const {
  if (const Region* cached = CachedRegionOf(address)) {
    region = *cached;
    return true;
  }
  MEMORY_BASIC_INFORMATION info{};
  ++queries_;
  if (VirtualQuery(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), &info, sizeof info) == 0) {
    return false;
  }
  const std::uint64_t start = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
  const std::uint64_t end = start + info.RegionSize;
  if (end <= address) return false;
  region = Region{start, end, ReadableProtection(info)};
  Remember(region);
  return true;
}

void ProcessMemoryReader::Remember(const Region& region) const {
  Region* const begin = cache_.data();
  Region* const end = begin + filled_;
  // The newest answer holds: the regions it overlaps (an answer from before
  // the memory changed, or a wider one) leave. They are side by side.
  Region* const first =
      std::upper_bound(begin, end, region.start, [](std::uint64_t a, const Region& r) { return a < r.end; });
  Region* last = first;
  while (last != end && last->start < region.end) ++last;
  if (first == last && filled_ == cache_.size()) {
    // Full: start over rather than search for the least used.
    filled_ = 0;
    cache_[filled_++] = region;
    return;
  }
  // Exactly one slot where the overlapped ones were.
  if (first == last) {
    std::move_backward(first, end, end + 1);
    ++filled_;
  } else {
    std::move(last, end, first + 1);
    filled_ -= static_cast<std::size_t>(last - first) - 1;
  }
  *first = region;
}

void ProcessMemoryReader::KnowReadable(std::uint64_t start, std::uint64_t end) const {
  if (end <= start) return;
  // Called for every frame a scan names: a range the cache already holds as
  // readable is not remembered again, which would only push out the wider
  // region that holds it.
  const Region* known = CachedRegionOf(start);
  if (known != nullptr && known->readable && end <= known->end) return;
  Remember(Region{start, end, true});
}

bool ProcessMemoryReader::IsReadable(std::uint64_t address, std::uint32_t size) const {
  if (size == 0) return true;
  if (address < kFirstMappableAddress || address >= kAddressSpaceEnd || kAddressSpaceEnd - address < size) {
    return false;
  }
  const std::uint64_t end = address + size;
  for (std::uint64_t cursor = address; cursor < end;) {
    Region region{};
    if (!RegionOf(cursor, region) || !region.readable) return false;
    cursor = region.end;
  }
  return true;
}

bool ProcessMemoryReader::Read(std::uint64_t address, void* buffer, std::uint32_t size) const {
  if (!IsReadable(address, size)) return false;
  std::memcpy(buffer, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), size);
  return true;
}

}  // namespace vellum::exceptlog

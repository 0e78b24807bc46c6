#include "exceptlog/capture/callstack/win/process_memory_win.h"

#include <windows.h>

#include <cstring>

namespace vellum::exceptlog {

namespace {

// The lowest 64 KB are never mapped: small integers on a stack are
// answered without asking.
constexpr std::uint32_t kFirstMappableAddress = 0x10000;

bool ReadableProtection(const MEMORY_BASIC_INFORMATION& info) {
  if (info.State != MEM_COMMIT) return false;
  const DWORD protect = info.Protect & 0xFF;
  return (info.Protect & PAGE_GUARD) == 0 && protect != PAGE_NOACCESS && protect != 0;
}

}  // namespace

bool ProcessMemoryReader::RegionOf(std::uint32_t address, Region& region) const {
  for (const Region& cached : cache_) {
    if (cached.end != 0 && address >= cached.start && address < cached.end) {
      region = cached;
      return true;
    }
  }
  MEMORY_BASIC_INFORMATION info{};
  ++queries_;
  if (VirtualQuery(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), &info, sizeof info) == 0) {
    return false;
  }
  const auto start = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info.BaseAddress));
  const std::uint64_t end = std::uint64_t{start} + info.RegionSize;
  if (end <= address) return false;
  region = Region{start, end > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(end), ReadableProtection(info)};
  cache_[next_slot_] = region;
  next_slot_ = (next_slot_ + 1) % cache_.size();
  return true;
}

bool ProcessMemoryReader::IsReadable(std::uint32_t address, std::uint32_t size) const {
  if (size == 0) return true;
  if (address < kFirstMappableAddress || !RangeFits(address, size)) return false;
  const std::uint64_t end = std::uint64_t{address} + size;
  for (std::uint64_t cursor = address; cursor < end;) {
    Region region;
    if (!RegionOf(static_cast<std::uint32_t>(cursor), region) || !region.readable) return false;
    if (region.end == UINT32_MAX) return end <= UINT32_MAX;
    cursor = region.end;
  }
  return true;
}

bool ProcessMemoryReader::Read(std::uint32_t address, void* buffer, std::uint32_t size) const {
  if (!IsReadable(address, size)) return false;
  std::memcpy(buffer, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), size);
  return true;
}

}  // namespace vellum::exceptlog

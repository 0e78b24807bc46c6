#include "exceptlog/capture/callstack/win/process_memory_win.h"

#include <windows.h>

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

bool ProcessMemoryReader::RegionOf(std::uint64_t address, Region& region) const {
  // Newest first: a scan asks about the region it asked about last.
  for (std::size_t i = 0; i < filled_; ++i) {
    const Region& cached = cache_[(next_slot_ + cache_.size() - 1 - i) % cache_.size()];
    if (address >= cached.start && address < cached.end) {
      region = cached;
      return true;
    }
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
  cache_[next_slot_] = region;
  next_slot_ = (next_slot_ + 1) % cache_.size();
  if (filled_ < cache_.size()) ++filled_;
}

void ProcessMemoryReader::KnowReadable(std::uint64_t start, std::uint64_t end) const {
  if (end <= start) return;
  for (std::size_t i = 0; i < filled_; ++i) {
    if (cache_[i].start == start && cache_[i].end == end && cache_[i].readable) return;
  }
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

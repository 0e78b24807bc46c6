// An address space made of a few buffers, for testing code that reads
// memory through a MemoryReader without a real process behind it.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <stdexcept>
#include <vector>

#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog::testing {

class FakeMemory final : public MemoryReader {
 public:
  // Maps `size` zero bytes at `base` (regions must not overlap) and answers
  // their storage.
  std::vector<std::uint8_t>& Map(std::uint64_t base, std::uint32_t size) {
    auto& bytes = regions_[base];
    bytes.assign(size, 0);
    return bytes;
  }
  void Write(std::uint64_t address, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) *Byte(address + i) = bytes[i];
  }
  void Write32(std::uint64_t address, std::uint32_t value) {
    Write(address, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                    static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
  }
  void Write64(std::uint64_t address, std::uint64_t value) {
    Write32(address, static_cast<std::uint32_t>(value));
    Write32(address + 4, static_cast<std::uint32_t>(value >> 32));
  }

  bool IsReadable(std::uint64_t address, std::uint32_t size) const override {
    ++queries_;
    if (size == 0) return true;
    if (!RangeFits(address, size)) return false;
    const auto region = RegionOf(address);
    if (region == regions_.end()) return false;
    return address - region->first + size <= region->second.size();
  }
  bool Read(std::uint64_t address, void* buffer, std::uint32_t size) const override {
    if (!IsReadable(address, size)) return false;
    if (size == 0) return true;
    const auto region = RegionOf(address);
    std::memcpy(buffer, region->second.data() + (address - region->first), size);
    return true;
  }

  int Queries() const { return queries_; }

 private:
  std::map<std::uint64_t, std::vector<std::uint8_t>>::const_iterator RegionOf(std::uint64_t address) const {
    auto after = regions_.upper_bound(address);
    if (after == regions_.begin()) return regions_.end();
    auto region = std::prev(after);
    if (address - region->first >= region->second.size()) return regions_.end();
    return region;
  }
  std::uint8_t* Byte(std::uint64_t address) {
    auto region = RegionOf(address);
    if (region == regions_.end()) throw std::out_of_range("address not mapped in the fake memory");
    return const_cast<std::uint8_t*>(region->second.data()) + (address - region->first);
  }

  std::map<std::uint64_t, std::vector<std::uint8_t>> regions_;
  mutable int queries_ = 0;
};

}  // namespace vellum::exceptlog::testing

// This process's memory as a MemoryReader. Readability comes from the
// memory manager (VirtualQuery: committed, not a guard page, not
// no-access), so a check never faults; a read happens only after its check.
//
// A scan asks about the same few regions over and over (the stack, the code
// sections of a handful of modules), so the answers are kept for the
// reader's life: make one per scan. Memory freed by another thread during
// that time may still be answered readable.
#pragma once

#include <array>
#include <cstdint>

#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

class ProcessMemoryReader final : public MemoryReader {
 public:
  // Written out so that the cache's slots stay unset (see Region).
  ProcessMemoryReader() {}
  bool IsReadable(std::uint64_t address, std::uint32_t size) const override;
  bool Read(std::uint64_t address, void* buffer, std::uint32_t size) const override;

  // A range the caller knows to be readable (a listed module's code
  // section): answered without asking, for the reader's life.
  void KnowReadable(std::uint64_t start, std::uint64_t end) const;

  // How many times the memory manager was asked (for tests and benchmarks).
  int Queries() const { return queries_; }

 private:
  // No initialisers: the cache's slots are read only once filled, and a
  // reader is made for every stack (and every single address) a report
  // names, where clearing 3 KB showed in the cost of naming one address.
  struct Region {
    std::uint64_t start;
    std::uint64_t end;
    bool readable;
  };
  // The region holding `address`, from the cache or the memory manager;
  // false when the memory manager knows nothing of it.
  bool RegionOf(std::uint64_t address, Region& region) const;
  const Region* CachedRegionOf(std::uint64_t address) const;
  void Remember(const Region& region) const;

  // Fixed size, so that asking never allocates: a scan may run while another
  // thread is stopped inside the heap. The filled slots are sorted by start
  // and do not overlap: a scan asks about every word of a stack, and a
  // binary search answers in a few steps where trying each slot took many.
  mutable std::array<Region, 128> cache_;
  mutable std::size_t filled_ = 0;
  mutable int queries_ = 0;
};

}  // namespace vellum::exceptlog

// Reading memory that may not be there: stack words found by a scan point
// anywhere, and a module's headers may be hostile. Every read is asked for
// first and answered without faulting. Addresses are the 32 bits of the
// process the subsystem lives in; natively, tests map them onto buffers.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

namespace vellum::exceptlog {

class MemoryReader {
 public:
  virtual ~MemoryReader() = default;
  // Whether every byte of [address, address + size) can be read; a range that
  // wraps past 4 GB cannot.
  virtual bool IsReadable(std::uint32_t address, std::uint32_t size) const = 0;
  // Copies the range; false (and nothing copied) when any byte is unreadable.
  virtual bool Read(std::uint32_t address, void* buffer, std::uint32_t size) const = 0;

  template <typename T>
  std::optional<T> ReadValue(std::uint32_t address) const {
    T value{};
    if (!Read(address, &value, sizeof(T))) return std::nullopt;
    return value;
  }
};

// True when [address, address + size) does not wrap past the top of the
// 32-bit address space.
inline bool RangeFits(std::uint32_t address, std::uint32_t size) {
  return size == 0 || address <= UINT32_MAX - (size - 1);
}

}  // namespace vellum::exceptlog

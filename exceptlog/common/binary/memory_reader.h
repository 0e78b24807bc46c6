// Reading memory that may not be there: stack words found by a scan point
// anywhere, and a module's headers may be hostile. Every read is asked for
// first and answered without faulting. Addresses are 64-bit, wide enough for
// either process the subsystem lives in (a 32-bit process's never reach past
// 4 GB); natively, tests map them onto buffers.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

namespace vellum::exceptlog {

class MemoryReader {
 public:
  virtual ~MemoryReader() = default;
  // Whether every byte of [address, address + size) can be read; a range that
  // wraps past the top of the address space cannot.
  virtual bool IsReadable(std::uint64_t address, std::uint32_t size) const = 0;
  // Copies the range; false (and nothing copied) when any byte is unreadable.
  virtual bool Read(std::uint64_t address, void* buffer, std::uint32_t size) const = 0;

  template <typename T>
  std::optional<T> ReadValue(std::uint64_t address) const {
    T value{};
    if (!Read(address, &value, sizeof(T))) return std::nullopt;
    return value;
  }
};

// True when [address, address + size) does not wrap past the top of the
// address space.
inline bool RangeFits(std::uint64_t address, std::uint32_t size) {
  return size == 0 || address <= UINT64_MAX - (size - 1);
}

// The width of the process whose memory is read: it decides the size of a
// stack word, a pointer in a table and the encodings of calls.
enum class ProcessBits : std::uint8_t { k32, k64 };

inline constexpr std::uint32_t PointerSize(ProcessBits bits) {
  return bits == ProcessBits::k64 ? 8 : 4;
}

}  // namespace vellum::exceptlog

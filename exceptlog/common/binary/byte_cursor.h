// A bounds-checked reader that walks bytes taken from a module file or from
// another process: little-endian values, LEB128 numbers and NUL-terminated
// strings. A read that would run past the end raises `Error` and leaves the
// position where it was; nothing is ever allocated from a length before the
// length has been checked. Each format names its own error class, so that
// its readers go on catching exactly what they know (EDebugDataError for the
// stored block, EDwarfError for DWARF, EPeFormatError for PE files).
// Positions and counts are 64-bit: DWARF offsets and LEB128 lengths are, and
// a 32-bit build must not wrap them before they are checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {

template <typename Error>
class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::uint8_t> bytes, std::uint64_t position = 0) : bytes_(bytes) {
    Seek(position);
  }

  std::uint64_t Position() const { return position_; }
  std::uint64_t Remaining() const { return bytes_.size() - position_; }
  bool AtEnd() const { return position_ == bytes_.size(); }
  bool Has(std::uint64_t count) const { return count <= Remaining(); }
  std::span<const std::uint8_t> Rest() const { return bytes_.subspan(static_cast<std::size_t>(position_)); }

  void Seek(std::uint64_t position) {
    if (position > bytes_.size()) throw Error("offset outside the data");
    position_ = position;
  }
  void Skip(std::uint64_t count) { Take(count); }
  std::span<const std::uint8_t> Take(std::uint64_t count) {
    if (!Has(count)) throw Error("data ends inside a field");
    const auto taken = bytes_.subspan(static_cast<std::size_t>(position_), static_cast<std::size_t>(count));
    position_ += count;
    return taken;
  }

  std::uint8_t U8() { return Take(1)[0]; }
  std::uint16_t U16() { return LoadU16(Take(2).data()); }
  std::uint32_t U32() { return LoadU32(Take(4).data()); }
  std::uint64_t U64() { return LoadU64(Take(8).data()); }
  double F64() { return LoadF64(Take(8).data()); }
  // A value of `size` bytes (1 to 8), as DWARF's address-sized fields.
  std::uint64_t Fixed(unsigned size) {
    if (size > 8) throw Error("field wider than 64 bits");
    return LoadUnsigned(Take(size).data(), size);
  }

  // LEB128: bits beyond the 64th are dropped, as a hostile number may have
  // any number of continuation bytes; each still has to be there.
  std::uint64_t Uleb() {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      const std::uint8_t byte = U8();
      if (shift < 64) value |= std::uint64_t{byte & 0x7Fu} << shift;
      if ((byte & 0x80) == 0) return value;
    }
  }
  std::int64_t Sleb() {
    std::uint64_t value = 0;
    unsigned shift = 0;
    std::uint8_t byte;
    do {
      byte = U8();
      if (shift < 64) value |= std::uint64_t{byte & 0x7Fu} << shift;
      shift += 7;
    } while (byte & 0x80);
    if (shift < 64 && (byte & 0x40)) value |= ~std::uint64_t{0} << shift;
    return static_cast<std::int64_t>(value);
  }

  // The text up to the next NUL, which is consumed too.
  std::string_view CString() {
    const auto rest = Rest();
    for (std::size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == 0) {
        position_ += i + 1;
        return {reinterpret_cast<const char*>(rest.data()), i};
      }
    }
    throw Error("string without its end");
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
};

}  // namespace vellum::exceptlog

// Bounds-checked reading of DWARF's encodings: fixed-size little-endian
// values, LEB128 numbers and NUL-terminated strings.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "tools/eldata/dwarf_reader.h"

namespace vellum::eldata {

class DwarfCursor {
 public:
  explicit DwarfCursor(std::span<const std::uint8_t> bytes, std::uint64_t position = 0)
      : bytes_(bytes), position_(position) {
    if (position > bytes.size()) throw EDwarfError("DWARF offset outside its section");
  }

  std::uint64_t Position() const { return position_; }
  bool AtEnd() const { return position_ >= bytes_.size(); }
  std::uint64_t Remaining() const { return bytes_.size() - position_; }
  void Seek(std::uint64_t position) {
    if (position > bytes_.size()) throw EDwarfError("DWARF offset outside its section");
    position_ = position;
  }
  void Skip(std::uint64_t count) {
    if (count > Remaining()) throw EDwarfError("DWARF data ends inside a value");
    position_ += count;
  }
  std::span<const std::uint8_t> Take(std::uint64_t count) {
    const std::uint64_t at = position_;
    Skip(count);
    return bytes_.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(count));
  }
  std::uint64_t Fixed(unsigned size) {
    const auto b = Take(size);
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size; ++i) value |= std::uint64_t{b[i]} << (8 * i);
    return value;
  }
  std::uint8_t U8() { return static_cast<std::uint8_t>(Fixed(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Fixed(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Fixed(4)); }
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
  std::string_view CString() {
    const std::uint64_t start = position_;
    while (true) {
      if (AtEnd()) throw EDwarfError("DWARF string without its end");
      if (bytes_[static_cast<std::size_t>(position_++)] == 0) break;
    }
    return {reinterpret_cast<const char*>(bytes_.data() + start), static_cast<std::size_t>(position_ - start - 1)};
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
};

// The string at `offset` of a string section.
inline std::string_view StringAt(std::span<const std::uint8_t> section, std::uint64_t offset) {
  DwarfCursor in(section, offset);
  return in.CString();
}

}  // namespace vellum::eldata

// The header block of one tar entry as the report archive writes it: a
// version-7 style header with the "ustar" mark, numeric fields in octal with
// blank padding, and no owner or permission information.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum::exceptlog {

inline constexpr std::size_t kTarBlockSize = 512;
using TarBlock = std::array<std::uint8_t, kTarBlockSize>;

struct TTarRec {
  std::string Name;       // cut to the 100 bytes of the name field
  std::int32_t Size = 0;  // bytes of content
  std::int64_t Time = 0;  // seconds since 1970-01-01 00:00 UTC; earlier times are written as 0
};

// Right-aligned octal digits with leading blanks, then a blank and, for the
// 8-byte fields, a zero byte. A value wider than the digit positions is
// written as the largest value that fits (only a time after the year 2242
// can be).
void WriteTarNumber(std::uint8_t* field, std::size_t width, std::uint64_t value);

TarBlock TarHeaderBlock(const TTarRec& entry);

}  // namespace vellum::exceptlog

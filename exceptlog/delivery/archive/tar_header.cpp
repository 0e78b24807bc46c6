#include "exceptlog/delivery/archive/tar_header.h"

#include <algorithm>
#include <cstring>

namespace vellum::exceptlog {
namespace {

struct Field {
  std::size_t offset;
  std::size_t width;
};
constexpr Field kName{0, 100};
constexpr Field kMode{100, 8};
constexpr Field kOwner{108, 8};
constexpr Field kGroup{116, 8};
constexpr Field kSize{124, 12};
constexpr Field kTime{136, 12};
constexpr Field kChecksum{148, 8};
constexpr std::size_t kTypeFlag = 156;
constexpr std::size_t kMagic = 257;
constexpr char kMagicText[] = "ustar   ";  // three blanks, no terminating zero

void WriteNumber(TarBlock& block, Field field, std::uint64_t value) {
  WriteTarNumber(block.data() + field.offset, field.width, value);
}

}  // namespace

void WriteTarNumber(std::uint8_t* field, std::size_t width, std::uint64_t value) {
  // 8-byte fields end in a blank and a zero byte, 12-byte fields in a blank.
  const std::size_t digits = width == 8 ? 6 : width - 1;
  const std::uint64_t largest = (std::uint64_t{1} << (3 * digits)) - 1;
  value = std::min(value, largest);
  std::memset(field, ' ', digits + 1);
  if (width == 8) field[7] = 0;
  std::size_t position = digits;
  do {
    field[--position] = static_cast<std::uint8_t>('0' + (value & 7));
    value >>= 3;
  } while (value != 0);
}

TarBlock TarHeaderBlock(const TTarRec& entry) {
  TarBlock block{};
  std::memcpy(block.data() + kName.offset, entry.Name.data(), std::min(entry.Name.size(), kName.width));
  WriteNumber(block, kMode, 0);
  WriteNumber(block, kOwner, 0);
  WriteNumber(block, kGroup, 0);
  WriteNumber(block, kSize, static_cast<std::uint64_t>(std::max<std::int32_t>(entry.Size, 0)));
  WriteNumber(block, kTime, static_cast<std::uint64_t>(std::max<std::int64_t>(entry.Time, 0)));
  block[kTypeFlag] = '0';
  std::memcpy(block.data() + kMagic, kMagicText, sizeof kMagicText - 1);

  // The checksum is taken with its own field as blanks.
  std::memset(block.data() + kChecksum.offset, ' ', kChecksum.width);
  std::uint32_t sum = 0;
  for (const std::uint8_t byte : block) sum += byte;
  WriteNumber(block, kChecksum, sum);
  return block;
}

}  // namespace vellum::exceptlog

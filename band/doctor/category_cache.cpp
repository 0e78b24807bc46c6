#include "band/doctor/category_cache.h"

#include <algorithm>
#include <cstddef>

#include "exceptlog/common/binary/little_endian.h"

namespace vellum::band {

namespace {

using exceptlog::LoadU32;

constexpr std::size_t kClassCountOffset = 24;
constexpr std::size_t kSmallestHeader = kClassCountOffset + 4;
constexpr std::size_t kClassIdSize = 16;

std::optional<std::uint8_t> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

}  // namespace

std::optional<ClassId> ParseClassId(std::string_view text) {
  // The text's hex digit pairs in reading order, and where each byte goes:
  // the first three fields are numbers, stored least significant byte first.
  static constexpr std::size_t kByteOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  const std::string_view digits = text.substr(1, 36);
  ClassId id{};
  std::size_t pair = 0;
  for (std::size_t i = 0; i < digits.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (digits[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const auto high = HexDigit(digits[i]);
    const auto low = HexDigit(digits[i + 1]);
    if (!high || !low) return std::nullopt;
    id[kByteOrder[pair++]] = static_cast<std::uint8_t>(*high << 4 | *low);
    i += 2;
  }
  return id;
}

CacheListing FindInCategoryCache(std::span<const std::uint8_t> implementing, const ClassId& class_id) {
  if (implementing.size() < kSmallestHeader) return CacheListing::kUnreadable;
  const std::uint32_t header_size = LoadU32(implementing.data());
  const std::uint32_t count = LoadU32(implementing.data() + kClassCountOffset);
  if (header_size < kSmallestHeader || header_size > implementing.size()) return CacheListing::kUnreadable;
  // Divided, not multiplied: a hostile count must not wrap the product.
  if (count > (implementing.size() - header_size) / kClassIdSize) return CacheListing::kUnreadable;
  const auto classes = implementing.subspan(header_size, std::size_t{count} * kClassIdSize);
  for (std::size_t at = 0; at < classes.size(); at += kClassIdSize) {
    if (std::equal(class_id.begin(), class_id.end(), classes.begin() + static_cast<std::ptrdiff_t>(at))) {
      return CacheListing::kListed;
    }
  }
  return CacheListing::kNotListed;
}

}  // namespace vellum::band

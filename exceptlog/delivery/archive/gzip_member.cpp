#include "exceptlog/delivery/archive/gzip_member.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint8_t kId1 = 0x1F;
constexpr std::uint8_t kId2 = 0x8B;
constexpr std::uint8_t kDeflate = 8;
constexpr std::uint8_t kFlagName = 8;

}  // namespace

std::uint32_t Crc32(const void* data, std::size_t size) {
  auto next = static_cast<const Bytef*>(data);
  uLong crc = crc32(0, Z_NULL, 0);
  while (size != 0) {
    const auto piece = static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
    crc = crc32(crc, next, piece);
    next += piece;
    size -= piece;
  }
  return static_cast<std::uint32_t>(crc);
}

Bytes GzipMember(const Bytes& data, const std::string& original_name) {
  const Bytes deflated = DeflateRaw(data.data(), data.size());
  const std::size_t name_length = std::min(original_name.size(), std::strlen(original_name.c_str()));

  // MTIME, XFL and OS stay zero: the archive carries its own times, and
  // readers ignore the other two.
  const std::uint8_t header[] = {kId1, kId2, kDeflate, kFlagName, 0, 0, 0, 0, 0, 0};
  Bytes out(std::begin(header), std::end(header));
  out.reserve(sizeof header + name_length + 1 + deflated.size() + 8);
  out.insert(out.end(), original_name.begin(), original_name.begin() + static_cast<std::ptrdiff_t>(name_length));
  out.push_back(0);
  out.insert(out.end(), deflated.begin(), deflated.end());
  exceptlog::AppendU32(out, Crc32(data.data(), data.size()));
  // ISIZE is the length modulo 2^32 by definition.
  exceptlog::AppendU32(out, static_cast<std::uint32_t>(data.size()));
  return out;
}

}  // namespace vellum::exceptlog

// Little-endian values in byte buffers. Every format the subsystem reads or
// writes (PE headers, DWARF, the stored block, gzip trailers, x86 operands)
// stores its numbers this way, whatever the order of the host; the loads
// assemble them byte by byte, so an unaligned or foreign buffer is no
// concern. The caller has checked that the bytes are there.
#pragma once

#include <bit>
#include <cstdint>
#include <span>

namespace vellum::exceptlog {

inline std::uint16_t LoadU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t LoadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// `size` bytes, at most eight.
inline std::uint64_t LoadUnsigned(const std::uint8_t* bytes, unsigned size) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < size; ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
  return value;
}

inline std::uint64_t LoadU64(const std::uint8_t* bytes) {
  return LoadUnsigned(bytes, 8);
}

// An IEEE double, as the stored block keeps its compile date.
inline double LoadF64(const std::uint8_t* bytes) {
  return std::bit_cast<double>(LoadU64(bytes));
}

inline void StoreU16(std::uint8_t* out, std::uint16_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void StoreU32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline void StoreU64(std::uint8_t* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The writing side of growing buffers (std::vector<std::uint8_t> and the like).
template <typename Bytes>
void AppendU16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
template <typename Bytes>
void AppendU32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}
template <typename Bytes>
void AppendF64(Bytes& out, double value) {
  std::uint8_t raw[8];
  StoreU64(raw, std::bit_cast<std::uint64_t>(value));
  out.insert(out.end(), raw, raw + sizeof raw);
}
template <typename Bytes>
void AppendBytes(Bytes& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace vellum::exceptlog

// A bounds-checked little-endian reader over bytes taken from a module file.
// Every read that would run past the end raises EDebugDataError; nothing is
// ever allocated from a length before the length has been checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EDebugDataError, Exception);

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Position() const { return position_; }
  std::size_t Remaining() const { return bytes_.size() - position_; }
  bool AtEnd() const { return position_ == bytes_.size(); }
  std::span<const std::uint8_t> Rest() const { return bytes_.subspan(position_); }

  std::span<const std::uint8_t> Take(std::size_t count) {
    if (count > Remaining()) throw EDebugDataError("data ends inside a field");
    const auto taken = bytes_.subspan(position_, count);
    position_ += count;
    return taken;
  }
  void Skip(std::size_t count) { Take(count); }

  std::uint8_t U8() { return Take(1)[0]; }
  std::uint16_t U16() {
    const auto b = Take(2);
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
  }
  std::uint32_t U32() {
    const auto b = Take(4);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  }
  double F64() {
    const auto b = Take(8);
    double value;
    std::memcpy(&value, b.data(), sizeof value);
    return value;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

inline std::uint32_t ReadU32At(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The writing side, for the build tool and the tests.
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
  std::memcpy(raw, &value, sizeof raw);
  out.insert(out.end(), raw, raw + 8);
}
template <typename Bytes>
void AppendBytes(Bytes& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace vellum::exceptlog

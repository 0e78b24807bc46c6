// The primitives of the stored options form: little-endian integers, one-byte
// Booleans and length-prefixed strings whose bytes are XORed with a one-byte
// key. The reader trusts nothing it reads: a length that runs past the end of
// the stream is a read error, never an allocation.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/stream.h"

namespace vellum::exceptlog {

// Shared with the readers of older debug data, which scrambled names the same way.
inline constexpr std::uint8_t kOptionsScramblingKey = 0xA7;

std::string ScrambleOptionText(std::string_view text);

// A string whose first CR LF is its last two characters is stored without it;
// anything else is stored as it is.
std::string_view WithoutSingleTrailingLineBreak(std::string_view text);

class OptionsReader {
 public:
  explicit OptionsReader(Stream& stream) : stream_(stream) {}

  std::uint8_t Byte() { return stream_.ReadValue<std::uint8_t>(); }
  bool Boolean() { return Byte() != 0; }
  std::uint16_t Word();
  std::int32_t Integer();
  std::uint32_t Cardinal();
  std::string String();
  void Bytes(std::span<std::uint8_t> bytes) { stream_.ReadBuffer(bytes.data(), bytes.size()); }
  void Skip(std::size_t count);

  // Raises the read error unless `count` items of at least `item_size` bytes
  // each can still follow; keeps a damaged count from driving a long loop.
  void RequireRoomFor(std::int64_t count, std::int64_t item_size);

 private:
  std::int64_t Remaining();
  Stream& stream_;
};

class OptionsWriter {
 public:
  explicit OptionsWriter(Stream& stream) : stream_(stream) {}

  void Byte(std::uint8_t value) { stream_.WriteValue(value); }
  void Boolean(bool value) { Byte(value ? 1 : 0); }
  void Word(std::uint16_t value);
  void Integer(std::int32_t value) { Cardinal(static_cast<std::uint32_t>(value)); }
  void Cardinal(std::uint32_t value);
  void String(std::string_view text);
  void Bytes(std::span<const std::uint8_t> bytes) { stream_.WriteBuffer(bytes.data(), bytes.size()); }

 private:
  Stream& stream_;
};

}  // namespace vellum::exceptlog

#include "exceptlog/capture/options/options_codec.h"

namespace vellum::exceptlog {

namespace {

[[noreturn]] void RaiseReadError() {
  throw EReadError("Stream read error");
}

}  // namespace

std::string ScrambleOptionText(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kOptionsScramblingKey);
  return result;
}

std::string_view WithoutSingleTrailingLineBreak(std::string_view text) {
  const std::size_t first_break = text.find("\r\n");
  if (first_break != std::string_view::npos && first_break + 2 == text.size()) text.remove_suffix(2);
  return text;
}

std::uint16_t OptionsReader::Word() {
  std::uint8_t bytes[2];
  stream_.ReadBuffer(bytes, sizeof bytes);
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t OptionsReader::Cardinal() {
  std::uint8_t bytes[4];
  stream_.ReadBuffer(bytes, sizeof bytes);
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::int32_t OptionsReader::Integer() {
  return static_cast<std::int32_t>(Cardinal());
}

std::string OptionsReader::String() {
  const std::int32_t length = Integer();
  RequireRoomFor(length, 1);
  std::string text(static_cast<std::size_t>(length), '\0');
  stream_.ReadBuffer(text.data(), text.size());
  return ScrambleOptionText(text);
}

void OptionsReader::Skip(std::size_t count) {
  RequireRoomFor(static_cast<std::int64_t>(count), 1);
  stream_.Seek(static_cast<std::int64_t>(count), SeekOrigin::kCurrent);
}

void OptionsReader::RequireRoomFor(std::int64_t count, std::int64_t item_size) {
  if (count < 0 || count > Remaining() / item_size) RaiseReadError();
}

std::int64_t OptionsReader::Remaining() {
  const std::int64_t position = stream_.Position();
  const std::int64_t size = stream_.Size();
  return size > position ? size - position : 0;
}

void OptionsWriter::Word(std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
  stream_.WriteBuffer(bytes, sizeof bytes);
}

void OptionsWriter::Cardinal(std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  stream_.WriteBuffer(bytes, sizeof bytes);
}

void OptionsWriter::String(std::string_view text) {
  const std::string scrambled = ScrambleOptionText(WithoutSingleTrailingLineBreak(text));
  Integer(static_cast<std::int32_t>(scrambled.size()));
  stream_.WriteBuffer(scrambled.data(), scrambled.size());
}

}  // namespace vellum::exceptlog

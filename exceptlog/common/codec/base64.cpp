#include "exceptlog/common/codec/base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

#include "runtime/exception.h"

namespace vellum::exceptlog {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12 bits: a group of 3 bytes is two lookups
// instead of four, a third less time for a report's attachments.
constexpr std::array<char, 8192> kPairs = [] {
  std::array<char, 8192> pairs{};
  for (std::size_t index = 0; index < 4096; ++index) {
    pairs[2 * index] = kAlphabet[index >> 6];
    pairs[2 * index + 1] = kAlphabet[index & 63];
  }
  return pairs;
}();

// Encodes `size` bytes into `out`, which has room for their encoded size;
// answers the end of what it wrote.
char* EncodeInto(const std::uint8_t* bytes, std::size_t size, char* out) {
  std::size_t index = 0;
  for (; index + 3 <= size; index += 3) {
    const std::uint32_t group = (bytes[index] << 16) | (bytes[index + 1] << 8) | bytes[index + 2];
    std::memcpy(out, &kPairs[(group >> 12) * 2], 2);
    std::memcpy(out + 2, &kPairs[(group & 4095) * 2], 2);
    out += 4;
  }
  const std::size_t left = size - index;
  if (left != 0) {
    const std::uint32_t group = (bytes[index] << 16) | (left == 2 ? bytes[index + 1] << 8 : 0);
    *out++ = kAlphabet[(group >> 18) & 63];
    *out++ = kAlphabet[(group >> 12) & 63];
    *out++ = left == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    *out++ = '=';
  }
  return out;
}

}  // namespace

std::size_t Base64EncodedSize(std::size_t size) {
  const std::size_t groups = size / 3 + (size % 3 != 0 ? 1 : 0);
  if (groups > std::numeric_limits<std::size_t>::max() / 4) throw EOutOfMemory("Out of memory");
  return groups * 4;
}

std::string Base64FromBytes(const void* data, std::size_t size) {
  // Sized once and written through a pointer: appending a character at a
  // time costs more than the encoding.
  std::string text(Base64EncodedSize(size), '\0');
  EncodeInto(static_cast<const std::uint8_t*>(data), size, text.data());
  return text;
}

std::size_t Base64LinesSize(std::size_t size, std::size_t line_length) {
  if (line_length < 4 || line_length % 4 != 0) throw EInvalidOperation("Base64 lines must hold whole groups");
  const std::size_t encoded = Base64EncodedSize(size);
  return encoded + 2 * (encoded / line_length);
}

void AppendBase64Lines(std::string& text, const void* data, std::size_t size, std::size_t line_length) {
  const std::size_t start = text.size();
  text.resize(start + Base64LinesSize(size, line_length));
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::size_t line_bytes = line_length / 4 * 3;
  const std::size_t whole_lines = size / line_bytes;
  char* out = text.data() + start;
  for (std::size_t line = 0; line < whole_lines; ++line) {
    out = EncodeInto(bytes + line * line_bytes, line_bytes, out);
    *out++ = '\r';
    *out++ = '\n';
  }
  // The rest is shorter than a line's bytes, but padded it may fill one.
  const std::size_t done = whole_lines * line_bytes;
  char* const rest = out;
  out = EncodeInto(bytes + done, size - done, out);
  if (static_cast<std::size_t>(out - rest) == line_length) {
    *out++ = '\r';
    *out++ = '\n';
  }
}

std::string Base64LinesFromBytes(const void* data, std::size_t size, std::size_t line_length) {
  std::string text;
  AppendBase64Lines(text, data, size, line_length);
  return text;
}

std::string Base64FromText(const std::string& text) {
  return Base64FromBytes(text.data(), text.size());
}

}  // namespace vellum::exceptlog

#include "exceptlog/common/codec/base64.h"

#include <cstdint>
#include <limits>

#include "runtime/exception.h"

namespace vellum::exceptlog {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::size_t Base64EncodedSize(std::size_t size) {
  const std::size_t groups = size / 3 + (size % 3 != 0 ? 1 : 0);
  if (groups > std::numeric_limits<std::size_t>::max() / 4) throw EOutOfMemory("Out of memory");
  return groups * 4;
}

std::string Base64FromBytes(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::string text;
  text.reserve(Base64EncodedSize(size));
  std::size_t index = 0;
  for (; index + 3 <= size; index += 3) {
    const std::uint32_t group = (bytes[index] << 16) | (bytes[index + 1] << 8) | bytes[index + 2];
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += kAlphabet[(group >> 6) & 63];
    text += kAlphabet[group & 63];
  }
  const std::size_t left = size - index;
  if (left != 0) {
    const std::uint32_t group = (bytes[index] << 16) | (left == 2 ? bytes[index + 1] << 8 : 0);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += left == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

std::string Base64FromText(const std::string& text) {
  return Base64FromBytes(text.data(), text.size());
}

}  // namespace vellum::exceptlog

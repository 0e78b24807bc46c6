// MD5 message digest (RFC 1321). Here it only derives the cipher key from a
// password; it is not used where collision resistance would matter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum::exceptlog {

using Md5Digest = std::array<std::uint8_t, 16>;

Md5Digest MD5Digest(const void* data, std::size_t size);
inline Md5Digest MD5Digest(const std::string& text) {
  return MD5Digest(text.data(), text.size());
}

}  // namespace vellum::exceptlog

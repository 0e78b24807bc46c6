// One gzip member (RFC 1952) around a buffer: deflate at level 9, the
// original file name stored, no time stamp and no extra flags.
#pragma once

#include <string>

#include "exceptlog/common/zlib/zlib_buffer.h"

namespace vellum::exceptlog {

// `original_name` is stored as the member's FNAME; it is written up to its
// first zero byte, since the field is zero-terminated.
Bytes GzipMember(const Bytes& data, const std::string& original_name);

// CRC-32 of IEEE 802.3 as gzip uses it.
std::uint32_t Crc32(const void* data, std::size_t size);

}  // namespace vellum::exceptlog

// The five bytes every TLS record starts with (content type, version,
// length), read to tell a server that does not speak TLS at all from one
// whose record has not fully arrived: the system's TLS may wait for the
// length such bytes seem to announce, while a clear-text greeting can be
// named at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vellum::exceptlog {

// False when the bytes cannot begin a TLS record; true for too few bytes to
// tell.
bool StartsLikeTlsRecord(std::span<const std::uint8_t> bytes);

// The first line of what a server sent instead, printable characters only
// and at most `limit` of them, for the error message.
std::string PrintableStart(std::span<const std::uint8_t> bytes, std::size_t limit = 80);

}  // namespace vellum::exceptlog

// An 8-bit palette PNG encoder: signature, IHDR, a 256-entry PLTE, IDAT
// chunks of at most 262143 bytes each, IEND. Rows are filtered with filter 0
// and compressed at level 9. Portable: the capture that feeds it is Win32.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EPngError, Exception);

struct PaletteEntry {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
};

struct PalettePicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::array<PaletteEntry, 256> palette{};
  // Row `y` from the top: at least `width` palette indexes.
  std::function<const std::uint8_t*(std::uint32_t y)> row;
};

inline constexpr std::size_t kMaxIdatChunk = 0x3FFFF;

// The whole PNG file in memory. Raises EPngError for an empty picture or a
// zlib failure.
std::vector<std::uint8_t> EncodePalettePng(const PalettePicture& picture);

// PNG's CRC-32 of a type and its data (own table, built once).
std::uint32_t PngCrc(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc = 0xFFFFFFFFu);

}  // namespace vellum::exceptlog

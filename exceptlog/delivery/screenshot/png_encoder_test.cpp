#include "exceptlog/delivery/screenshot/png_encoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace vellum::exceptlog {
namespace {

std::uint32_t Big32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) | (std::uint32_t{bytes[at + 2]} << 8) |
         bytes[at + 3];
}

struct Chunk {
  std::string type;
  std::vector<std::uint8_t> data;
};

// Splits a PNG into its chunks, checking every CRC on the way.
std::vector<Chunk> Chunks(const std::vector<std::uint8_t>& png) {
  std::vector<Chunk> chunks;
  EXPECT_EQ(std::string(png.begin(), png.begin() + 8), std::string("\x89PNG\r\n\x1A\n", 8));
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = Big32(png, at);
    Chunk chunk{std::string(png.begin() + at + 4, png.begin() + at + 8),
                std::vector<std::uint8_t>(png.begin() + at + 8, png.begin() + at + 8 + length)};
    const std::uint32_t crc = Big32(png, at + 8 + length);
    EXPECT_EQ(crc, ::crc32(0, png.data() + at + 4, 4 + length)) << chunk.type;
    chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size());
  return chunks;
}

std::vector<std::uint8_t> Inflate(const std::vector<Chunk>& chunks) {
  std::vector<std::uint8_t> compressed;
  for (const Chunk& chunk : chunks) {
    if (chunk.type == "IDAT") compressed.insert(compressed.end(), chunk.data.begin(), chunk.data.end());
  }
  std::vector<std::uint8_t> raw(64 << 20);
  uLongf size = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &size, compressed.data(), compressed.size()), Z_OK);
  raw.resize(size);
  return raw;
}

TEST(PngEncoder, WritesAPaletteImageWhoseRowsDecodeBack) {
  // 1001 pixels wide: the source rows are padded to 1004, the PNG rows are not.
  const std::uint32_t width = 1001, height = 3, stride = 1004;
  std::vector<std::uint8_t> pixels(stride * height, 0xEE);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) pixels[y * stride + x] = static_cast<std::uint8_t>(x + y);
  }
  PalettePicture picture;
  picture.width = width;
  picture.height = height;
  for (int i = 0; i < 256; ++i)
    picture.palette[i] = {static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(255 - i)};
  picture.row = [&](std::uint32_t y) { return pixels.data() + y * stride; };

  const auto chunks = Chunks(EncodePalettePng(picture));
  ASSERT_GE(chunks.size(), 4u);
  EXPECT_EQ(chunks.front().type, "IHDR");
  const std::vector<std::uint8_t> header = chunks.front().data;
  ASSERT_EQ(header.size(), 13u);
  EXPECT_EQ(Big32(header, 0), width);
  EXPECT_EQ(Big32(header, 4), height);
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin() + 8, header.end()), (std::vector<std::uint8_t>{8, 3, 0, 0, 0}));
  EXPECT_EQ(chunks[1].type, "PLTE");
  ASSERT_EQ(chunks[1].data.size(), 768u);
  EXPECT_EQ(chunks[1].data[3 * 10 + 0], 10);
  EXPECT_EQ(chunks[1].data[3 * 10 + 2], 245);
  EXPECT_EQ(chunks.back().type, "IEND");
  EXPECT_TRUE(chunks.back().data.empty());

  const std::vector<std::uint8_t> raw = Inflate(chunks);
  ASSERT_EQ(raw.size(), (width + 1) * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    EXPECT_EQ(raw[y * (width + 1)], 0) << "filter byte of row " << y;
    EXPECT_EQ(raw[y * (width + 1) + 1 + 1000], static_cast<std::uint8_t>(1000 + y));
  }
}

TEST(PngEncoder, SplitsLargeDataIntoBoundedChunksWithoutAnEmptyOne) {
  // Incompressible rows force several IDAT chunks.
  const std::uint32_t width = 2000, height = 400;
  std::vector<std::uint8_t> pixels(width * height);
  std::uint32_t seed = 12345;
  for (auto& pixel : pixels) {
    seed = seed * 1103515245u + 12345u;
    pixel = static_cast<std::uint8_t>(seed >> 16);
  }
  PalettePicture picture;
  picture.width = width;
  picture.height = height;
  picture.row = [&](std::uint32_t y) { return pixels.data() + y * width; };
  const auto chunks = Chunks(EncodePalettePng(picture));
  int idat = 0;
  for (const Chunk& chunk : chunks) {
    if (chunk.type != "IDAT") continue;
    ++idat;
    EXPECT_LE(chunk.data.size(), kMaxIdatChunk);
    EXPECT_FALSE(chunk.data.empty());
  }
  EXPECT_GE(idat, 3);
  EXPECT_EQ(Inflate(chunks).size(), (width + 1) * height);
}

TEST(PngEncoder, DataOfExactlyWholeChunksEndsWithoutAnEmptyChunk) {
  // Random rows are stored, not compressed, so the compressed size follows
  // the width byte for byte (and jumps by a block header now and then): a
  // few corrections find a picture whose data fills whole chunks exactly.
  std::vector<std::uint8_t> pixels(2 * kMaxIdatChunk);
  std::uint32_t seed = 777;
  for (auto& pixel : pixels) {
    seed = seed * 1103515245u + 12345u;
    pixel = static_cast<std::uint8_t>(seed >> 16);
  }
  const auto idat_sizes = [&](std::uint32_t width) {
    PalettePicture picture;
    picture.width = width;
    picture.height = 1;
    picture.row = [&](std::uint32_t y) { return pixels.data() + y * width; };
    std::vector<std::size_t> sizes;
    for (const Chunk& chunk : Chunks(EncodePalettePng(picture))) {
      if (chunk.type == "IDAT") sizes.push_back(chunk.data.size());
    }
    return sizes;
  };
  std::uint32_t width = kMaxIdatChunk - 100;
  std::vector<std::size_t> sizes;
  for (int attempt = 0; attempt < 12; ++attempt) {
    sizes = idat_sizes(width);
    std::size_t total = 0;
    for (const std::size_t size : sizes) total += size;
    if (total == kMaxIdatChunk) break;
    width = static_cast<std::uint32_t>(static_cast<long long>(width) + static_cast<long long>(kMaxIdatChunk) -
                                       static_cast<long long>(total));
  }
  ASSERT_EQ(sizes, std::vector<std::size_t>{kMaxIdatChunk}) << "width " << width;
}

TEST(PngEncoder, RefusesAnEmptyPicture) {
  PalettePicture picture;
  picture.row = [](std::uint32_t) -> const std::uint8_t* { return nullptr; };
  EXPECT_THROW(EncodePalettePng(picture), EPngError);
  EXPECT_EQ(PngCrc(reinterpret_cast<const std::uint8_t*>("IEND"), 4) ^ 0xFFFFFFFFu, 0xAE426082u);
}

}  // namespace
}  // namespace vellum::exceptlog

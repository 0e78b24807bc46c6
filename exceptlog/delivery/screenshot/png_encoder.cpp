#include "exceptlog/delivery/screenshot/png_encoder.h"

#include <zlib.h>

#include <cstring>

namespace vellum::exceptlog {

namespace {

const std::array<std::uint32_t, 256>& CrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> built{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      built[n] = c;
    }
    return built;
  }();
  return table;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 24));
  out.push_back(static_cast<std::uint8_t>(value >> 16));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void PutChunk(std::vector<std::uint8_t>& out, const char type[4], const std::uint8_t* data, std::size_t length) {
  PutBig32(out, static_cast<std::uint32_t>(length));
  const std::size_t type_at = out.size();
  out.insert(out.end(), type, type + 4);
  if (length != 0) out.insert(out.end(), data, data + length);
  PutBig32(out, PngCrc(out.data() + type_at, 4 + length) ^ 0xFFFFFFFFu);
}

// A deflate stream that always frees its state.
class Deflater {
 public:
  Deflater() {
    if (deflateInit(&stream_, 9) != Z_OK) throw EPngError("Cannot start the PNG compressor");
  }
  ~Deflater() { deflateEnd(&stream_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  z_stream& get() { return stream_; }

 private:
  z_stream stream_{};
};

}  // namespace

std::uint32_t PngCrc(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc) {
  const auto& table = CrcTable();
  for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::vector<std::uint8_t> EncodePalettePng(const PalettePicture& picture) {
  if (picture.width == 0 || picture.height == 0 || !picture.row) throw EPngError("Empty picture");
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

  std::vector<std::uint8_t> header;
  PutBig32(header, picture.width);
  PutBig32(header, picture.height);
  header.insert(header.end(), {8, 3, 0, 0, 0});  // depth 8, palette, deflate, filter 0, no interlace
  PutChunk(out, "IHDR", header.data(), header.size());

  std::vector<std::uint8_t> palette;
  for (const PaletteEntry& entry : picture.palette) palette.insert(palette.end(), {entry.red, entry.green, entry.blue});
  PutChunk(out, "PLTE", palette.data(), palette.size());

  Deflater deflater;
  z_stream& stream = deflater.get();
  std::vector<std::uint8_t> buffer(kMaxIdatChunk);
  stream.next_out = buffer.data();
  stream.avail_out = static_cast<uInt>(buffer.size());
  auto flush_full_buffer = [&] {
    if (stream.avail_out == 0) {
      PutChunk(out, "IDAT", buffer.data(), buffer.size());
      stream.next_out = buffer.data();
      stream.avail_out = static_cast<uInt>(buffer.size());
    }
  };
  auto feed = [&](const std::uint8_t* bytes, std::size_t length) {
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(length);
    while (stream.avail_in != 0) {
      if (deflate(&stream, Z_NO_FLUSH) != Z_OK) throw EPngError("PNG compression failed");
      flush_full_buffer();
    }
  };
  const std::uint8_t no_filter = 0;
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    feed(&no_filter, 1);
    feed(picture.row(y), picture.width);
  }
  for (;;) {
    const int result = deflate(&stream, Z_FINISH);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) throw EPngError("PNG compression failed");
    if (result == Z_STREAM_END) break;
    // Returned before the end: the buffer is full (or nearly); write what it holds.
    const std::size_t filled = buffer.size() - stream.avail_out;
    if (filled != 0) PutChunk(out, "IDAT", buffer.data(), filled);
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
  }
  const std::size_t rest = buffer.size() - stream.avail_out;
  // A stream that ended exactly at a full buffer was written above; no empty IDAT.
  if (rest != 0) PutChunk(out, "IDAT", buffer.data(), rest);
  PutChunk(out, "IEND", nullptr, 0);
  return out;
}

}  // namespace vellum::exceptlog

// Test-side readers for what the archive writer produces, written apart from
// the writer so that a fault shared by both cannot hide: a gzip member parsed
// byte by byte and inflated with zlib's own gzip decoder, and tar blocks
// parsed by their field offsets. Plus a scratch folder per test and
// pseudo-random content (pattern_bytes_test_support.h).
#pragma once

#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "exceptlog/common/zlib/testing/pattern_bytes_test_support.h"

namespace vellum::exceptlog::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class ScratchFolder {
 public:
  ScratchFolder() {
    static int counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("vellum_archive_" + std::to_string(stamp) + "_" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct GzipFile {
  std::uint8_t method = 0, flags = 0, extra_flags = 0, os = 0;
  std::uint32_t mtime = 0;
  std::string name;
  Bytes data;  // the inflated content
};

inline std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Header fields by hand; content through zlib's gzip mode, which checks the
// CRC-32 and the length on its own and fails on anything after the member.
inline GzipFile ReadGzip(const Bytes& file) {
  if (file.size() < 18 || file[0] != 0x1F || file[1] != 0x8B) throw std::runtime_error("not a gzip file");
  GzipFile result;
  result.method = file[2];
  result.flags = file[3];
  result.mtime = LittleEndian32(&file[4]);
  result.extra_flags = file[8];
  result.os = file[9];
  for (std::size_t i = 10; i < file.size() && file[i] != 0; ++i) result.name += static_cast<char>(file[i]);

  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
  z.next_in = const_cast<Bytef*>(file.data());
  z.avail_in = static_cast<uInt>(file.size());
  Bytes chunk(1 << 16);
  int code = Z_OK;
  while (code == Z_OK) {
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    code = inflate(&z, Z_NO_FLUSH);
    result.data.insert(result.data.end(), chunk.begin(), chunk.end() - z.avail_out);
  }
  const bool whole = code == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  if (!whole) throw std::runtime_error("gzip member is damaged or followed by other bytes");
  return result;
}

struct TarEntry {
  std::string name;
  std::uint64_t size = 0;
  std::uint64_t time = 0;
  Bytes content;
  Bytes padding;  // the bytes after the content up to the block boundary
};

inline std::uint64_t ParseOctal(const std::uint8_t* field, std::size_t width) {
  std::size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  std::uint64_t value = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) value = value * 8 + (field[i] - '0');
  return value;
}

// Entries up to the first zero block; `end_blocks` counts the zero blocks
// from there to the end of the image.
inline std::vector<TarEntry> ReadTar(const Bytes& image, std::size_t* end_blocks = nullptr) {
  std::vector<TarEntry> entries;
  std::size_t offset = 0;
  auto zero_block = [&](std::size_t at) {
    for (std::size_t i = 0; i < 512; ++i)
      if (image[at + i] != 0) return false;
    return true;
  };
  while (offset + 512 <= image.size() && !zero_block(offset)) {
    const std::uint8_t* header = image.data() + offset;
    TarEntry entry;
    for (std::size_t i = 0; i < 100 && header[i] != 0; ++i) entry.name += static_cast<char>(header[i]);
    entry.size = ParseOctal(header + 124, 12);
    entry.time = ParseOctal(header + 136, 12);
    const std::size_t padded = (entry.size + 511) / 512 * 512;
    if (offset + 512 + padded > image.size()) throw std::runtime_error("tar entry runs past the image");
    const auto content = image.begin() + static_cast<std::ptrdiff_t>(offset + 512);
    entry.content.assign(content, content + static_cast<std::ptrdiff_t>(entry.size));
    entry.padding.assign(content + static_cast<std::ptrdiff_t>(entry.size),
                         content + static_cast<std::ptrdiff_t>(padded));
    entries.push_back(std::move(entry));
    offset += 512 + padded;
  }
  std::size_t zeros = 0;
  for (; offset + 512 <= image.size() && zero_block(offset); offset += 512) ++zeros;
  if (offset != image.size()) throw std::runtime_error("bytes after the end of the tar image");
  if (end_blocks) *end_blocks = zeros;
  return entries;
}

}  // namespace vellum::exceptlog::testing

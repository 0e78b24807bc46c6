#include "exceptlog/common/binary/byte_source.h"

#include <algorithm>
#include <cstring>

#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {

std::size_t ByteSource::ReadPrefix(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (Read(offset, out)) return out.size();
  std::size_t count = 0;
  while (count < out.size() && Read(offset + count, out.subspan(count, 1))) ++count;
  return count;
}

std::optional<std::uint16_t> ByteSource::U16(std::uint64_t offset) const {
  std::uint8_t raw[2];
  if (!Read(offset, raw)) return std::nullopt;
  return LoadU16(raw);
}

std::optional<std::uint32_t> ByteSource::U32(std::uint64_t offset) const {
  std::uint8_t raw[4];
  if (!Read(offset, raw)) return std::nullopt;
  return LoadU32(raw);
}

std::string ByteSource::CString(std::uint64_t offset, std::size_t max_length) const {
  std::string text(max_length, '\0');
  const std::size_t read = ReadPrefix(offset, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
  text.resize(std::find(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(read), '\0') - text.begin());
  return text;
}

bool BufferByteSource::Read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
  return true;
}

std::size_t BufferByteSource::ReadPrefix(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset >= bytes_.size()) return 0;
  const std::size_t count = std::min<std::uint64_t>(out.size(), bytes_.size() - offset);
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, out.begin());
  return count;
}

bool MemoryByteSource::Read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > UINT64_MAX - base_ || out.size() > UINT32_MAX) return false;
  const std::uint64_t address = base_ + offset;
  const auto size = static_cast<std::uint32_t>(out.size());
  return RangeFits(address, size) && memory_.Read(address, out.data(), size);
}

bool ByteSourceWindow::Read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > length_ || out.size() > length_ - offset) return false;
  return source_.Read(start_ + offset, out);
}

std::size_t ByteSourceWindow::ReadPrefix(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset >= length_) return 0;
  return source_.ReadPrefix(start_ + offset, out.first(std::min<std::uint64_t>(out.size(), length_ - offset)));
}

}  // namespace vellum::exceptlog

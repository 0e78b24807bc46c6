#include "runtime/stream.h"

#include <algorithm>
#include <cstring>

namespace vellum {

std::int64_t Stream::Size() {
  const std::int64_t position = Seek(0, SeekOrigin::kCurrent);
  const std::int64_t size = Seek(0, SeekOrigin::kEnd);
  Seek(position, SeekOrigin::kBeginning);
  return size;
}

void Stream::ReadBuffer(void* buffer, std::size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void Stream::WriteBuffer(const void* buffer, std::size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t Stream::CopyFrom(Stream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::int64_t>(count, 64 * 1024)));
  std::int64_t left = count;
  while (left > 0) {
    const auto step = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(chunk.size())));
    source.ReadBuffer(chunk.data(), step);
    WriteBuffer(chunk.data(), step);
    left -= static_cast<std::int64_t>(step);
  }
  return count;
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
  if (position_ >= bytes_.size()) return 0;
  const std::size_t available = std::min(count, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, available);
  position_ += available;
  return available;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  if (position_ + count > bytes_.size()) bytes_.resize(position_ + count);
  std::memcpy(bytes_.data() + position_, buffer, count);
  position_ += count;
  return count;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == SeekOrigin::kCurrent) base = static_cast<std::int64_t>(position_);
  if (origin == SeekOrigin::kEnd) base = static_cast<std::int64_t>(bytes_.size());
  const std::int64_t target = base + offset;
  // Seeking past the end is allowed (a later write fills the gap with zeros);
  // seeking before the start is not.
  if (target < 0) throw EStreamError("Invalid stream operation");
  position_ = static_cast<std::size_t>(target);
  return target;
}

void MemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream operation");
  bytes_.resize(static_cast<std::size_t>(size));
  position_ = std::min(position_, bytes_.size());
}

void MemoryStream::Clear() {
  bytes_.clear();
  position_ = 0;
}

void MemoryStream::LoadFromStream(Stream& source) {
  source.SetPosition(0);
  const std::int64_t size = source.Size();
  bytes_.assign(static_cast<std::size_t>(size), 0);
  source.ReadBuffer(bytes_.data(), bytes_.size());
  position_ = 0;
}

void MemoryStream::SaveToStream(Stream& target) const {
  target.WriteBuffer(bytes_.data(), bytes_.size());
}

void MemoryStream::LoadFromFile(const std::string& file_name) {
  FileStream file(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void MemoryStream::SaveToFile(const std::string& file_name) const {
  FileStream file(file_name, fmCreate);
  SaveToStream(file);
}

std::optional<std::string> ReadWholeFile(const std::string& file_name) {
  try {
    FileStream file(file_name, fmOpenRead | fmShareDenyNone);
    std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
    file.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
  } catch (const EStreamError&) {
    return std::nullopt;
  }
}

}  // namespace vellum

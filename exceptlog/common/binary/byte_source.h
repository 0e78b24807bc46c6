// Bytes addressed by offset that may or may not be there: a file's bytes in
// a buffer, or an image in a process's memory read through a MemoryReader.
// The PE reader asks for what it needs through this one interface, so the
// same code reads a module on disk and a module the loader has mapped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Copies [offset, offset + out.size()); false when any byte of it is
  // missing (out is then unspecified).
  virtual bool Read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;

  // Copies as much of the range as is there from its start on, and answers
  // how many bytes that is. The default asks byte by byte once the whole
  // range fails: a string may end just before unreadable memory.
  virtual std::size_t ReadPrefix(std::uint64_t offset, std::span<std::uint8_t> out) const;

  std::optional<std::uint16_t> U16(std::uint64_t offset) const;
  std::optional<std::uint32_t> U32(std::uint64_t offset) const;
  // The text from `offset` up to its NUL, at most `max_length` characters;
  // a text cut by the end of the bytes is what was there.
  std::string CString(std::uint64_t offset, std::size_t max_length) const;
};

// A buffer the caller keeps alive: a file read whole.
class BufferByteSource final : public ByteSource {
 public:
  explicit BufferByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) const override;
  std::size_t ReadPrefix(std::uint64_t offset, std::span<std::uint8_t> out) const override;

  std::span<const std::uint8_t> Bytes() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};

// Memory from `base` on: offset N is the address base + N. Ranges that
// would wrap past the top of the address space are missing.
class MemoryByteSource final : public ByteSource {
 public:
  MemoryByteSource(const MemoryReader& memory, std::uint64_t base) : memory_(memory), base_(base) {}

  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

  std::uint64_t Base() const { return base_; }

 private:
  const MemoryReader& memory_;
  std::uint64_t base_ = 0;
};

// The part [start, start + length) of another source, addressed from 0.
class ByteSourceWindow final : public ByteSource {
 public:
  // A window that would reach past 2^64 ends there.
  ByteSourceWindow(const ByteSource& source, std::uint64_t start, std::uint64_t length)
      : source_(source), start_(start), length_(std::min(length, UINT64_MAX - start)) {}

  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) const override;
  std::size_t ReadPrefix(std::uint64_t offset, std::span<std::uint8_t> out) const override;

  std::uint64_t Length() const { return length_; }

 private:
  const ByteSource& source_;
  std::uint64_t start_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace vellum::exceptlog

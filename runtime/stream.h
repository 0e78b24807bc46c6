// Byte streams: the abstract Stream with the checked ReadBuffer/WriteBuffer
// that raise the stream errors, a growable MemoryStream, and FileStream whose
// open modes and share modes follow the Win32 file model on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/exception.h"

namespace vellum {

enum class SeekOrigin { kBeginning, kCurrent, kEnd };

class Stream {
 public:
  virtual ~Stream() = default;

  // Reads or writes up to `count` bytes; returns how many were moved.
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  virtual void SetSize(std::int64_t size) = 0;

  std::int64_t Position() { return Seek(0, SeekOrigin::kCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::kBeginning); }
  virtual std::int64_t Size();

  // Exactly `count` bytes or EReadError "Stream read error".
  void ReadBuffer(void* buffer, std::size_t count);
  // Exactly `count` bytes or EWriteError "Stream write error".
  void WriteBuffer(const void* buffer, std::size_t count);
  // Copies `count` bytes from `source` (0: all of it from its start).
  std::int64_t CopyFrom(Stream& source, std::int64_t count);

  template <typename T>
  T ReadValue() {
    T value{};
    ReadBuffer(&value, sizeof value);
    return value;
  }
  template <typename T>
  void WriteValue(const T& value) {
    WriteBuffer(&value, sizeof value);
  }
  void WriteString(const std::string& text) { WriteBuffer(text.data(), text.size()); }
};

class MemoryStream : public Stream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  explicit MemoryStream(const std::string& bytes) : bytes_(bytes.begin(), bytes.end()) {}

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }

  const std::uint8_t* Memory() const { return bytes_.data(); }
  std::uint8_t* Memory() { return bytes_.data(); }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::string ToString() const { return std::string(bytes_.begin(), bytes_.end()); }
  void Clear();

  void LoadFromStream(Stream& source);
  void SaveToStream(Stream& target) const;
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name) const;

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// Open mode in the low nibble, share mode in the next; fmCreate alone makes
// or truncates the file and opens it for reading and writing.
enum FileMode : std::uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

class FileStream : public Stream {
 public:
  // Raises EFOpenError "Cannot open file "<name>". <reason>" or, for fmCreate,
  // EFCreateError "Cannot create file "<name>". <reason>".
  FileStream(const std::string& file_name, std::uint32_t mode);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  const std::string& FileName() const { return file_name_; }

 private:
  struct Handle;
  std::string file_name_;
  std::unique_ptr<Handle> handle_;
};

bool FileExists(const std::string& file_name);
// The whole file, read without denying others access; none when it cannot
// be opened or read (gone since it was listed, a folder, no name).
std::optional<std::string> ReadWholeFile(const std::string& file_name);
bool RemoveFile(const std::string& file_name);

}  // namespace vellum

#include "exceptlog/delivery/archive/tgz_writer.h"

#include <exception>
#include <limits>

#include "exceptlog/delivery/archive/file_time.h"
#include "exceptlog/delivery/archive/gzip_member.h"

namespace vellum::exceptlog {
namespace {

// Folder separators of both conventions and the drive colon: archive and
// entry names may come from either kind of path.
std::string FileNamePart(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string WithExtension(const std::string& file_name, const std::string& extension) {
  const std::size_t dot = file_name.rfind('.');
  return (dot == std::string::npos ? file_name : file_name.substr(0, dot)) + extension;
}

// Stream::ReadBuffer asks once; a stream may hand out less per call.
void ReadExactly(Stream& stream, std::uint8_t* buffer, std::size_t count) {
  while (count != 0) {
    const std::size_t got = stream.Read(buffer, count);
    if (got == 0) throw EReadError("Stream read error");
    buffer += got;
    count -= got;
  }
}

}  // namespace

TTGZWriter::TTGZWriter(std::string file_name)
    : file_name_(std::move(file_name)), uncaught_at_creation_(std::uncaught_exceptions()) {}

TTGZWriter::~TTGZWriter() noexcept(false) {
  if (finished_) return;
  if (std::uncaught_exceptions() > uncaught_at_creation_) {
    try {
      Finish();
    } catch (...) {  // the exception already in flight is the one to report
    }
    return;
  }
  Finish();
}

void TTGZWriter::AddFile(const std::string& file_name, const std::string& archive_name) {
  const std::string entry_name = FileNamePart(archive_name.empty() ? file_name : archive_name);
  FileStream file(file_name, fmOpenRead | fmShareDenyNone);
  // A file without a time (it vanished meanwhile) is stamped 1970-01-01.
  AddEntry(file, entry_name, FileLastWriteTime(file_name).value_or(0));
}

void TTGZWriter::AddStream(Stream& stream, const std::string& archive_name,
                           std::chrono::system_clock::time_point time) {
  const auto since_1970 = std::chrono::floor<std::chrono::seconds>(time.time_since_epoch());
  AddEntry(stream, archive_name, since_1970.count());
}

void TTGZWriter::AddEntry(Stream& stream, const std::string& name, std::int64_t unix_time) {
  if (finished_) throw EInvalidOperation("The archive \"" + file_name_ + "\" is already written");
  const std::int64_t remaining = std::max<std::int64_t>(stream.Size() - stream.Position(), 0);
  if (remaining > std::numeric_limits<std::int32_t>::max()) {
    throw EStreamError("\"" + name + "\" is too large for the archive");
  }
  const auto size = static_cast<std::size_t>(remaining);
  const std::size_t start = tar_.size();
  try {
    const TarBlock header = TarHeaderBlock({name, static_cast<std::int32_t>(size), unix_time});
    const std::size_t padded = (size + kTarBlockSize - 1) / kTarBlockSize * kTarBlockSize;
    // Zero-filled, so the last block's remainder is already padding.
    tar_.resize(start + kTarBlockSize + padded);
    std::copy(header.begin(), header.end(), tar_.begin() + static_cast<std::ptrdiff_t>(start));
    ReadExactly(stream, tar_.data() + start + kTarBlockSize, size);
  } catch (...) {
    tar_.resize(start);
    throw;
  }
}

void TTGZWriter::Finish() {
  if (finished_) return;
  finished_ = true;
  // One end block, not the two the tar standard asks for: that is the report
  // archive's format as its readers know it. GNU tar reads it, with a warning
  // about a lone zero block.
  tar_.resize(tar_.size() + kTarBlockSize, 0);
  const Bytes archive = GzipMember(tar_, WithExtension(FileNamePart(file_name_), ".tar"));
  Bytes().swap(tar_);

  auto file = std::make_unique<FileStream>(file_name_, fmCreate);
  try {
    file->WriteBuffer(archive.data(), archive.size());
  } catch (...) {
    file.reset();
    RemoveFile(file_name_);
    throw;
  }
}

}  // namespace vellum::exceptlog

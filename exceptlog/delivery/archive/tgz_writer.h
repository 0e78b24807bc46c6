// Packs the files of a report (log copy, screenshot, page copies) into one
// gzip-compressed tar archive. The tar image is built in memory and
// compressed in one pass when the archive is finished; archives are bounded
// by available memory, which suits reports of a few megabytes.
#pragma once

#include <chrono>
#include <string>

#include "exceptlog/common/zlib/zlib_buffer.h"
#include "exceptlog/delivery/archive/tar_header.h"
#include "runtime/stream.h"

namespace vellum::exceptlog {

class TTGZWriter {
 public:
  // `file_name` is the archive written when the writer finishes; the gzip
  // header names its content after it, with the extension ".tar".
  explicit TTGZWriter(std::string file_name);
  // Finishes the archive unless Finish already ran. A failure passes on as it
  // would from Finish, except while another exception is unwinding the stack:
  // then the archive is still written when possible and a failure to write it
  // is dropped, so that the first error is the one the caller sees.
  ~TTGZWriter() noexcept(false);
  TTGZWriter(const TTGZWriter&) = delete;
  TTGZWriter& operator=(const TTGZWriter&) = delete;

  // Adds the file under the file-name part of `archive_name`, or of
  // `file_name` when `archive_name` is empty, stamped with the file's
  // last-write time. Raises EFOpenError when the file cannot be opened.
  void AddFile(const std::string& file_name, const std::string& archive_name = {});
  // Adds the bytes from the stream's position to its end under
  // `archive_name` as given (folders included). An entry that fails half-way
  // (a short read, more than 2 GiB) leaves the archive as it was before.
  void AddStream(Stream& stream, const std::string& archive_name, std::chrono::system_clock::time_point time);

  // Ends the tar image, compresses it and writes the archive file, replacing
  // any existing one; frees the image. Raises EZLibError, EFCreateError or
  // EWriteError; a file left half-written is removed. Runs once: later calls,
  // and the destructor, do nothing, and adding entries raises
  // EInvalidOperation.
  void Finish();

  const std::string& FileName() const { return file_name_; }
  // The tar image so far, without its end block.
  const Bytes& Tar() const { return tar_; }

 private:
  void AddEntry(Stream& stream, const std::string& name, std::int64_t unix_time);

  std::string file_name_;
  Bytes tar_;
  bool finished_ = false;
  int uncaught_at_creation_ = 0;
};

}  // namespace vellum::exceptlog

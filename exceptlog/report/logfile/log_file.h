// TLogFile: the ".elf" log of the last reports. It keeps the file open and
// shared while it lives, holds the entries in memory, and writes them back
// only on SaveLogFile, through a complete new file beside the log that then
// takes the log's place: a crash, a full disk or a killed process during a
// save leaves the previous log as it was.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/stream.h"

namespace vellum::exceptlog {

class TLogFile {
 public:
  // A log without a file: entries come only from AddReport (the XML copy of
  // a text to send); SaveLogFile has nowhere to write.
  TLogFile() = default;
  // Opens and loads the file when it exists (shared with other readers and
  // writers); a missing file is an empty log that SaveLogFile creates.
  TLogFile(std::string file_name, bool read_only);
  virtual ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  void LoadFromStream(Stream& stream);
  // Appends the report, dropping the oldest entries first so that at most
  // `max_count` (at least 1) remain.
  void AddReport(const std::string& text, int max_count);
  void SaveLogFile();

  int ReportCount() const { return static_cast<int>(entries_.size()); }
  // Every entry followed by CR LF: the file's bytes.
  std::string LogText() const;
  const std::string& Entry(int index) const;
  const std::string& FileName() const { return file_name_; }

  // True when an entry holds every key (a general field number such as
  // "2.5") with exactly the value given, compared in its stored form.
  bool IsDuplicate(const std::vector<std::string>& keys, const std::vector<std::string>& values) const;
  // Empty when the index is out of range or the key is absent.
  std::string GetField(const std::string& key, int index) const;
  std::string ReportVersion(int index) const;

  std::string GeneralPart(int index) const;
  std::string CallStackTable(int index) const;
  std::string ModulesTable(int index) const;
  std::string CpuPart(int index) const;
  std::string ReproducePart(int index) const;

  std::string GeneralXml(int index) const;
  std::string CallStackXml(int index) const;
  std::string ModulesXml(int index) const;
  std::string CpuXml(int index) const;
  std::string ReproduceXml(int index) const;
  std::string ReportXml(int index) const;
  std::string DocumentXml() const;
  void SaveXml(const std::string& file_name) const;

  // Where a save writes the new log before it replaces the old one.
  std::string ReplacementName() const { return file_name_ + ".new"; }

 protected:
  // The stream the new log is written to; a test makes it fail midway.
  virtual std::unique_ptr<Stream> CreateReplacement(const std::string& path);

 private:
  std::string EntryOrEmpty(int index) const;
  void OpenShared();
  void WriteInPlace(const std::string& text);

  std::string file_name_;
  bool read_only_ = false;
  std::unique_ptr<FileStream> stream_;
  std::vector<std::string> entries_;
};

}  // namespace vellum::exceptlog

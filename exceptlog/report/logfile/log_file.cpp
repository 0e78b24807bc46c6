#include "exceptlog/report/logfile/log_file.h"

#include "exceptlog/report/logfile/file_replace.h"
#include "exceptlog/report/logfile/log_entry.h"
#include "exceptlog/report/logfile/log_text.h"
#include "exceptlog/report/logfile/log_xml.h"

namespace vellum::exceptlog {

TLogFile::TLogFile(std::string file_name, bool read_only) : file_name_(std::move(file_name)), read_only_(read_only) {
  if (!FileExists(file_name_)) return;
  OpenShared();
  LoadFromStream(*stream_);
}

TLogFile::~TLogFile() = default;

void TLogFile::OpenShared() {
  stream_ = std::make_unique<FileStream>(file_name_, (read_only_ ? fmOpenRead : fmOpenReadWrite) | fmShareDenyNone);
}

void TLogFile::LoadFromStream(Stream& stream) {
  entries_ = SplitEntries(ReadLogBytes(stream));
}

void TLogFile::AddReport(const std::string& text, int max_count) {
  const std::size_t keep = max_count > 1 ? static_cast<std::size_t>(max_count - 1) : 0;
  if (entries_.size() > keep) entries_.erase(entries_.begin(), entries_.end() - static_cast<std::ptrdiff_t>(keep));
  entries_.push_back(CanonicalEntry(text));
}

std::unique_ptr<Stream> TLogFile::CreateReplacement(const std::string& path) {
  return std::make_unique<FileStream>(path, fmCreate);
}

void TLogFile::SaveLogFile() {
  if (file_name_.empty()) throw EFCreateError("Cannot create file \"\". The log has no file.");
  if (read_only_) throw EFCreateError("Cannot create file \"" + file_name_ + "\". The log was opened read-only.");
  const std::string text = LogText();
  const std::string replacement = ReplacementName();
  try {
    std::unique_ptr<Stream> out = CreateReplacement(replacement);
    out->WriteBuffer(text.data(), text.size());
    if (out->Size() != static_cast<std::int64_t>(text.size())) throw EWriteError("Stream write error");
  } catch (...) {
    RemoveFile(replacement);
    throw;
  }
  // Our own handle would keep Windows from replacing the file.
  stream_.reset();
  if (ReplaceFileWith(replacement, file_name_)) {
    OpenShared();
    return;
  }
  // Another process holds the log without sharing its deletion: write in
  // place as that process expects. The complete new log stays beside it
  // until the write is done, so even this path never loses it.
  WriteInPlace(text);
  RemoveFile(replacement);
}

void TLogFile::WriteInPlace(const std::string& text) {
  if (FileExists(file_name_)) {
    OpenShared();
  } else {
    stream_ = std::make_unique<FileStream>(file_name_, fmCreate);
  }
  stream_->SetPosition(0);
  stream_->WriteBuffer(text.data(), text.size());
  stream_->SetSize(static_cast<std::int64_t>(text.size()));
}

std::string TLogFile::LogText() const {
  return JoinEntries(entries_);
}

const std::string& TLogFile::Entry(int index) const {
  if (index < 0 || index >= ReportCount()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return entries_[static_cast<std::size_t>(index)];
}

std::string TLogFile::EntryOrEmpty(int index) const {
  return index >= 0 && index < ReportCount() ? entries_[static_cast<std::size_t>(index)] : std::string();
}

bool TLogFile::IsDuplicate(const std::vector<std::string>& keys, const std::vector<std::string>& values) const {
  for (const std::string& entry : entries_) {
    if (EntryMatches(entry, keys, values)) return true;
  }
  return false;
}

std::string TLogFile::GetField(const std::string& key, int index) const {
  return EntryField(EntryOrEmpty(index), key);
}

std::string TLogFile::ReportVersion(int index) const {
  return EntryVersion(EntryOrEmpty(index));
}

std::string TLogFile::GeneralPart(int index) const {
  return EntryGeneralPart(EntryOrEmpty(index));
}

std::string TLogFile::CallStackTable(int index) const {
  return EntryCallStackTable(EntryOrEmpty(index));
}

std::string TLogFile::ModulesTable(int index) const {
  return EntryModulesTable(EntryOrEmpty(index));
}

std::string TLogFile::CpuPart(int index) const {
  return EntryCpuPart(EntryOrEmpty(index));
}

std::string TLogFile::ReproducePart(int index) const {
  return EntryReproducePart(EntryOrEmpty(index));
}

std::string TLogFile::GeneralXml(int index) const {
  return EntryGeneralXml(EntryOrEmpty(index));
}

std::string TLogFile::CallStackXml(int index) const {
  return EntryCallStackXml(EntryOrEmpty(index));
}

std::string TLogFile::ModulesXml(int index) const {
  return EntryModulesXml(EntryOrEmpty(index));
}

std::string TLogFile::CpuXml(int index) const {
  return EntryCpuXml(EntryOrEmpty(index));
}

std::string TLogFile::ReproduceXml(int index) const {
  return EntryReproduceXml(EntryOrEmpty(index));
}

std::string TLogFile::ReportXml(int index) const {
  return EntryReportXml(EntryOrEmpty(index));
}

std::string TLogFile::DocumentXml() const {
  return EntriesDocumentXml(entries_);
}

void TLogFile::SaveXml(const std::string& file_name) const {
  const std::string text = DocumentXml();
  FileStream out(file_name, fmCreate);
  out.WriteBuffer(text.data(), text.size());
}

}  // namespace vellum::exceptlog

#include "exceptlog/report/logfile/log_text.h"

#include "runtime/stream.h"

namespace vellum::exceptlog {

namespace {

constexpr std::string_view kBreak = "\r\n";

std::size_t SkipBreaks(std::string_view text, std::size_t position) {
  while (text.substr(position, 2) == kBreak) position += 2;
  return position;
}

std::string_view TrimBreaks(std::string_view text) {
  text.remove_prefix(SkipBreaks(text, 0));
  while (text.size() >= 2 && text.substr(text.size() - 2) == kBreak) text.remove_suffix(2);
  return text;
}

}  // namespace

std::string NormaliseLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += kBreak;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += kBreak;
    } else {
      out += c;
    }
  }
  return out;
}

std::string CanonicalEntry(std::string_view report) {
  const std::string normalised = NormaliseLineBreaks(report);
  const std::string_view body = TrimBreaks(normalised);
  std::string entry;
  entry.reserve(body.size() + kEntryEnd.size());
  std::size_t position = 0;
  while (position < body.size()) {
    const std::size_t run = body.find(kEntrySeparator, position);
    if (run == std::string_view::npos) {
      entry.append(body.substr(position));
      break;
    }
    entry.append(body.substr(position, run - position));
    entry.append(kEntryEnd);
    position = SkipBreaks(body, run);
  }
  entry.append(kEntryEnd);
  return entry;
}

std::vector<std::string> SplitEntries(std::string_view raw) {
  std::vector<std::string> entries;
  if (raw.size() < 6) return entries;
  const std::string text = NormaliseLineBreaks(raw);
  std::size_t start = SkipBreaks(text, 0);
  while (start < text.size()) {
    const std::size_t run = text.find(kEntrySeparator, start);
    const std::size_t end = run == std::string::npos ? text.size() : run;
    std::string_view body = TrimBreaks(std::string_view(text).substr(start, end - start));
    if (!body.empty()) {
      std::string entry(body);
      entry.append(kEntryEnd);
      entries.push_back(std::move(entry));
    }
    if (run == std::string::npos) break;
    start = SkipBreaks(text, run);
  }
  return entries;
}

std::string JoinEntries(const std::vector<std::string>& entries) {
  std::size_t size = 0;
  for (const std::string& entry : entries) size += entry.size() + kBreak.size();
  std::string text;
  text.reserve(size);
  for (const std::string& entry : entries) {
    text += entry;
    text += kBreak;
  }
  return text;
}

std::string ReadLogBytes(Stream& stream, std::size_t limit) {
  const std::int64_t position = stream.Position();
  const std::int64_t size = stream.Size();
  if (size <= position) return std::string();
  std::int64_t remaining = size - position;
  const bool cut = static_cast<std::uint64_t>(remaining) > limit;
  if (cut) {
    stream.SetPosition(size - static_cast<std::int64_t>(limit));
    remaining = static_cast<std::int64_t>(limit);
  }
  std::string bytes(static_cast<std::size_t>(remaining), '\0');
  bytes.resize(stream.Read(bytes.data(), bytes.size()));
  if (!cut) return bytes;
  // The first entry was reached in its middle; the text starts after the
  // first separator (line breaks are not yet normalised here, so a log
  // written with other breaks loses at most what it would have lost anyway).
  const std::size_t run = bytes.find(kEntrySeparator);
  return run == std::string::npos ? std::string() : bytes.substr(run);
}

}  // namespace vellum::exceptlog

#include "exceptlog/report/logfile/log_entry.h"

#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

constexpr auto npos = std::string_view::npos;
constexpr std::string_view kTableStart = "-\r\n|";
constexpr std::string_view kTitleEnd = ":\r\n-";
constexpr std::string_view kTableEnd = "-\r\n\r\n";
constexpr std::string_view kBlankLine = "\r\n\r\n";

bool IsBlank(std::string_view line) {
  return Trim(line).empty();
}

// The field line of `key`: from just after the CR LF that precedes it (the
// two spaces of the line) to the entry's end.
std::string_view FieldLine(std::string_view entry, std::string_view key) {
  const std::string marker = "\r\n  " + std::string(key) + " ";
  const std::size_t found = entry.find(marker);
  return found == npos ? std::string_view() : entry.substr(found + 2);
}

// A stored value goes on while the next line is a continuation line: not
// blank and without ": " (the stored form turns every ": " into ":_").
bool IsContinuation(std::string_view line) {
  return !IsBlank(line) && line.find(": ") == npos;
}

// The raw stored value: from `start` to the end of its last continuation
// line, indentation and all.
std::string_view RawStoredValue(std::string_view text) {
  std::size_t end = text.find("\r\n");
  if (end == npos) return text;
  for (;;) {
    const std::size_t next_start = end + 2;
    std::size_t next_end = text.find("\r\n", next_start);
    const std::string_view next = text.substr(next_start, next_end == npos ? npos : next_end - next_start);
    if (!IsContinuation(next)) return text.substr(0, end);
    if (next_end == npos) return text;
    end = next_end;
  }
}

std::size_t FindFrom(std::string_view text, std::string_view marker, std::size_t from) {
  return from > text.size() ? npos : text.find(marker, from);
}

std::size_t LineStart(std::string_view text, std::size_t position) {
  const std::size_t before = position == 0 ? npos : text.rfind('\n', position - 1);
  return before == npos ? 0 : before + 1;
}

std::string CutThroughTableEnd(std::string_view entry, std::size_t start) {
  const std::size_t end = FindFrom(entry, kTableEnd, start);
  if (end == npos) return std::string();
  return std::string(entry.substr(start, end + 1 - start));
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

std::string EntryVersion(std::string_view entry) {
  const std::size_t end = entry.find_first_of("\r\n");
  const std::string_view first = entry.substr(0, end);
  return first.size() > 10 ? std::string(first.substr(10)) : std::string();
}

std::string EntryField(std::string_view entry, std::string_view key) {
  const std::string_view line = FieldLine(entry, key);
  if (line.empty()) return std::string();
  const std::size_t colon = line.find(": ");
  if (colon == npos) return std::string();
  const std::vector<std::string> lines = SplitLines(RawStoredValue(line.substr(colon + 2)));
  std::string value;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) value += "\r\n";
    value += Trim(lines[i]);
  }
  return value;
}

std::string StoredFieldForm(std::string_view value, std::size_t colon) {
  if (value.find("\r\n") == npos) return std::string(value);
  const std::vector<std::string> lines = SplitLines(StringReplace(value, ": ", ":_", rfReplaceAll));
  const std::string indent(colon + 1, ' ');
  std::string form;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) form += "\r\n" + indent;
    form += IsBlank(lines[i]) ? std::string(".") : lines[i];
  }
  return form;
}

std::string FieldText(std::string_view stored) {
  if (stored.find("\r\n") == npos) return std::string(stored);
  const std::vector<std::string> lines = SplitLines(StringReplace(stored, ":_", ": ", rfReplaceAll));
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    if (lines[i] != ".") text += lines[i];
  }
  return text;
}

bool EntryMatches(std::string_view entry, const std::vector<std::string>& keys,
                  const std::vector<std::string>& values) {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::string_view line = FieldLine(entry, keys[i]);
    if (line.empty()) return false;
    const std::size_t colon = line.find(": ");
    if (colon == npos) return false;
    const std::string_view value = i < values.size() ? std::string_view(values[i]) : std::string_view();
    if (RawStoredValue(line.substr(colon + 2)) != StoredFieldForm(value, colon)) return false;
  }
  return true;
}

std::string EntryGeneralPart(std::string_view entry) {
  const std::size_t table = entry.find(kTableStart);
  if (table == npos) return std::string();
  // Back over the dash line to the end of the title line, then to the line
  // break before the title.
  const std::size_t title_end = entry.rfind('\n', table);
  if (title_end == npos || title_end == 0) return std::string();
  std::size_t end = entry.rfind('\n', title_end - 1);
  if (end == npos) return std::string();
  while (end > 0 && (entry[end - 1] == '\r' || entry[end - 1] == '\n' || entry[end - 1] == ' ')) --end;
  return std::string(entry.substr(0, end));
}

std::string EntryCallStackTable(std::string_view entry) {
  const std::size_t table = entry.find(kTableStart);
  if (table == npos) return std::string();
  return CutThroughTableEnd(entry, LineStart(entry, table));
}

std::string EntryModulesTable(std::string_view entry) {
  const std::size_t table = entry.find(kTableStart);
  if (table == npos) return std::string();
  const std::size_t title = FindFrom(entry, kTitleEnd, table);
  if (title == npos) return std::string();
  const std::size_t dash_line = title + 3;
  const std::size_t dash_end = entry.find("\r\n", dash_line);
  if (dash_end == npos || entry.substr(dash_end + 2, 1) != "|") return std::string();
  return CutThroughTableEnd(entry, dash_line);
}

std::string EntryCpuPart(std::string_view entry) {
  const std::size_t table = entry.find(kTableStart);
  if (table == npos) return std::string();
  std::size_t position = table;
  for (int boundary = 0; boundary < 2; ++boundary) {
    const std::size_t blank = FindFrom(entry, kBlankLine, position);
    if (blank == npos) return std::string();
    position = blank + 4;
  }
  const std::size_t start = LineStart(entry, position);
  std::size_t end = position;
  for (int boundary = 0; boundary < 2; ++boundary) {
    const std::size_t blank = FindFrom(entry, kBlankLine, boundary == 0 ? end : end + 1);
    if (blank == npos) return std::string();
    end = blank;
  }
  const std::string_view part = entry.substr(start, end - start);
  // A 32-bit process's registers begin with EAX, a 64-bit process's with RAX.
  return part.find("EAX") == npos && part.find("RAX") == npos ? std::string() : std::string(part);
}

std::string EntryReproducePart(std::string_view entry) {
  std::size_t position = npos;
  for (int i = 0; i < 3; ++i) {
    position = FindFrom(entry, kTableStart, position == npos ? 0 : position + 1);
    if (position == npos) return std::string();
  }
  for (int i = 0; i < 3; ++i) {
    position = FindFrom(entry, kTitleEnd, position + 1);
    if (position == npos) return std::string();
  }
  // Past the title's dash line: to the first position after "-\r\n".
  const std::size_t dash_end = FindFrom(entry, "-\r\n", position + 3);
  if (dash_end == npos) return std::string();
  const std::size_t start = dash_end + 3;
  const std::size_t end = FindFrom(entry, kBlankLine, start);
  if (end == npos) return std::string();
  return std::string(entry.substr(start, end - start));
}

}  // namespace vellum::exceptlog

#include "exceptlog/report/builder/log_item.h"

#include <algorithm>
#include <vector>

#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find(kLineEnd, start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + kLineEnd.size();
  }
  return lines;
}

// A section title ("Exception:") or its dash line ("-"). A field with an
// empty value ends in ": " too, but it is never searched for: the search
// starts at a title.
bool StartsBlock(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return line.size() <= 1;
  return colon + 1 == line.size() || colon + 2 == line.size();
}

// 1-based like the readers count it; 0 when absent.
std::size_t SeparatorPosition(const std::string& line) {
  const std::size_t at = line.find(": ");
  return at == std::string::npos ? 0 : at + 1;
}

}  // namespace

void TLogItem::Clear() {
  section_ = first_section_;
  field_ = 0;
  text_.clear();
}

void TLogItem::AddSection(std::string_view title) {
  ++section_;
  field_ = 0;
  if (!text_.empty()) text_ += "\r\n\r\n";
  text_ += title;
  text_ += ":\r\n-";
}

void TLogItem::AddField(std::string_view label, std::string_view value, bool show) {
  ++field_;
  if (!show) return;
  text_ += "\r\n  ";
  text_ += std::to_string(section_);
  text_ += '.';
  text_ += std::to_string(field_);
  text_ += ' ';
  text_ += label;
  text_ += ": ";
  // A lone CR or LF would split the value into lines that are not in the
  // stored form, so every line break counts.
  const std::string normalised = AdjustLineBreaks(value);
  if (normalised.find(kLineEnd) == std::string::npos) {
    text_ += normalised;
  } else {
    text_ += StoredFieldValue(normalised);
  }
}

std::string StoredFieldValue(std::string_view value) {
  const std::string escaped = StringReplace(AdjustLineBreaks(value), ": ", ":_", rfReplaceAll);
  std::vector<std::string> lines = SplitLines(escaped);
  std::string stored;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = Trim(lines[i]).empty() ? std::string(".") : lines[i];
    if (i > 0) stored += "\r\n ";
    stored += line;
  }
  return stored;
}

std::string TLogItem::GetText() const {
  std::vector<std::string> lines = SplitLines(text_);
  lines.emplace_back();
  std::size_t position = 0;
  while (position < lines.size()) {
    std::size_t start = position;
    while (start < lines.size() && !StartsBlock(lines[start])) ++start;
    if (start >= lines.size()) break;
    std::size_t end = start;
    while (end < lines.size() && !lines[end].empty()) ++end;

    if (end - start <= 2) {
      // A title and its dash line with no visible field: gone, with the
      // blank line that separated it from the next section.
      const std::size_t erase_end = std::min(end + 1, lines.size());
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(start),
                  lines.begin() + static_cast<std::ptrdiff_t>(erase_end));
      position = start;
      continue;
    }

    std::size_t width = 0;
    std::size_t separator = 0;
    for (std::size_t i = position; i < end; ++i) {
      width = std::max(width, lines[i].size());
      separator = std::max(separator, SeparatorPosition(lines[i]));
    }
    for (std::size_t i = start + 2; i < end; ++i) {
      std::string& line = lines[i];
      const std::size_t at = SeparatorPosition(line);
      if (at == 0) {
        line.insert(0, separator, ' ');
      } else {
        line.insert(at - 1, separator - at, ' ');
      }
      width = std::max(width, line.size());
    }
    lines[start + 1] = std::string(width, '-');
    position = end + 1;
  }
  if (!lines.empty()) lines.pop_back();
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += kLineEnd;
  }
  return text;
}

}  // namespace vellum::exceptlog

#include "runtime/strings/string_utils.h"

#include <algorithm>

namespace vellum {

namespace {

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::size_t FindText(std::string_view text, std::string_view part, std::size_t from, bool ignore_case) {
  if (!ignore_case) return text.find(part, from);
  if (part.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = from; i + part.size() <= text.size(); ++i) {
    if (SameText(text.substr(i, part.size()), part)) return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string UpperCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), AsciiUpper);
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), AsciiLower);
  return result;
}

int CompareStr(std::string_view left, std::string_view right) {
  const std::size_t common = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto a = static_cast<unsigned char>(left[i]);
    const auto b = static_cast<unsigned char>(right[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return left.size() == right.size() ? 0 : (left.size() < right.size() ? -1 : 1);
}

int CompareText(std::string_view left, std::string_view right) {
  const std::size_t common = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto a = static_cast<unsigned char>(AsciiUpper(left[i]));
    const auto b = static_cast<unsigned char>(AsciiUpper(right[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  return left.size() == right.size() ? 0 : (left.size() < right.size() ? -1 : 1);
}

bool SameText(std::string_view left, std::string_view right) {
  return left.size() == right.size() && CompareText(left, right) == 0;
}

bool StartsText(std::string_view prefix, std::string_view text) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool EndsText(std::string_view suffix, std::string_view text) {
  return text.size() >= suffix.size() && SameText(text.substr(text.size() - suffix.size()), suffix);
}

bool ContainsText(std::string_view text, std::string_view part) {
  return FindText(text, part, 0, true) != std::string_view::npos;
}

std::string TrimLeft(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return std::string(text.substr(start));
}

std::string TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string Trim(std::string_view text) {
  return TrimLeft(TrimRight(text));
}

std::string StringReplace(std::string_view text, std::string_view pattern, std::string_view replacement,
                          ReplaceFlags flags) {
  if (pattern.empty()) return std::string(text);
  const bool ignore_case = (flags & rfIgnoreCase) != 0;
  std::string result;
  std::size_t from = 0;
  for (;;) {
    const std::size_t hit = FindText(text, pattern, from, ignore_case);
    if (hit == std::string_view::npos) break;
    result.append(text.substr(from, hit - from));
    result.append(replacement);
    from = hit + pattern.size();
    if ((flags & rfReplaceAll) == 0) break;
  }
  result.append(text.substr(from));
  return result;
}

std::string AdjustLineBreaks(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      result += "\r\n";
      // The other half of a two-character break belongs to this one.
      const char other = c == '\r' ? '\n' : '\r';
      if (i + 1 < text.size() && text[i + 1] == other) ++i;
    } else {
      result += c;
    }
  }
  return result;
}

std::string AnsiQuotedStr(std::string_view text, char quote) {
  std::string result(1, quote);
  for (const char c : text) {
    result += c;
    if (c == quote) result += quote;
  }
  result += quote;
  return result;
}

std::string QuotedStr(std::string_view text) {
  return AnsiQuotedStr(text, '\'');
}

std::string ExtractQuotedStr(std::string_view text, std::size_t& position, char quote) {
  std::string result;
  if (position >= text.size() || text[position] != quote) return result;
  std::size_t i = position + 1;
  while (i < text.size()) {
    if (text[i] == quote) {
      if (i + 1 < text.size() && text[i + 1] == quote) {
        result += quote;
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    result += text[i++];
  }
  position = i;
  return result;
}

}  // namespace vellum

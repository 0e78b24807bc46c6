// Text helpers for 8-bit strings. Case rules are ASCII only: the report text
// and the registry names the system compares are ASCII, and a locale-driven
// comparison would make sorting and lookups differ between machines.
#pragma once

#include <string>
#include <string_view>

namespace vellum {

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// <0, 0, >0 like strcmp; CompareStr compares bytes as unsigned.
int CompareStr(std::string_view left, std::string_view right);
int CompareText(std::string_view left, std::string_view right);
bool SameText(std::string_view left, std::string_view right);
bool StartsText(std::string_view prefix, std::string_view text);
bool EndsText(std::string_view suffix, std::string_view text);
bool ContainsText(std::string_view text, std::string_view part);

// Remove blanks and control characters (everything up to ' ').
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

enum ReplaceFlags : unsigned { rfNone = 0, rfReplaceAll = 1, rfIgnoreCase = 2 };
constexpr ReplaceFlags operator|(ReplaceFlags a, ReplaceFlags b) {
  return static_cast<ReplaceFlags>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
// An empty `pattern` replaces nothing.
std::string StringReplace(std::string_view text, std::string_view pattern, std::string_view replacement,
                          ReplaceFlags flags);

// Every line break (CR LF, LF CR, lone CR, lone LF) becomes CR LF.
std::string AdjustLineBreaks(std::string_view text);

// 'text' with inner single quotes doubled.
std::string QuotedStr(std::string_view text);
// The same with any quote character.
std::string AnsiQuotedStr(std::string_view text, char quote);
// Reads a quoted token starting at text[position] (which must be `quote`),
// undoubling inner quotes; `position` ends after the closing quote, or at the
// end of the text when the token is not closed.
std::string ExtractQuotedStr(std::string_view text, std::size_t& position, char quote);

}  // namespace vellum

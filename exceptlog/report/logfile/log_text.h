// The log file's text form: entries separated by runs of CR LF pairs, nothing
// else. Every entry is kept in one canonical form, its text without leading
// or trailing line breaks followed by three CR LF pairs, and the file is each
// entry followed by one more CR LF. That form is a fixed point: loading what
// was saved gives back the same entries, however many rounds of loading and
// saving happen, and readers that look for a run of four pairs after every
// entry find one after the last entry too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {
class Stream;
}

namespace vellum::exceptlog {

// What separates two entries in the file: the last line's break, two blank
// lines, and the pair that follows every entry.
inline constexpr std::string_view kEntrySeparator = "\r\n\r\n\r\n\r\n";
inline constexpr std::string_view kEntryEnd = "\r\n\r\n\r\n";

// A log is read from its end: the newest entries are the ones that matter,
// and a file of any size must load in bounded memory.
inline constexpr std::size_t kMaxLogBytes = 64u << 20;

// Lone CR and lone LF become CR LF.
std::string NormaliseLineBreaks(std::string_view text);

// The stored form of one report: line breaks normalised, leading and
// trailing breaks dropped, a run of three or more blank lines inside cut to
// two (a longer run would split the entry when it is read back), then
// three CR LF pairs.
std::string CanonicalEntry(std::string_view report);

// The entries of a log text. A text under 6 bytes holds none; text after the
// last separator is the last entry (its separator is supplied).
std::vector<std::string> SplitEntries(std::string_view text);

// The file's bytes for these entries.
std::string JoinEntries(const std::vector<std::string>& entries);

// Reads from the stream's position to its end, at most the last `limit`
// bytes; when the start had to be skipped, the text begins after the first
// separator of what was read so that no entry is taken in part.
std::string ReadLogBytes(Stream& stream, std::size_t limit = kMaxLogBytes);

}  // namespace vellum::exceptlog

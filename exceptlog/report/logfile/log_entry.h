// Reading one stored report by the layout the report builder writes:
// numbered general fields ("  2.5 Message: ..."), section titles followed by
// a dash line, and tables framed by dash lines. Nothing else is relied on;
// a reader whose marker is missing answers an empty text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellum::exceptlog {

// The report format version: the first line from its eleventh character on
// ("DeveruVuz 5.0.4" gives "5.0.4").
std::string EntryVersion(std::string_view entry);

// The value of a numbered general field in its stored form (continuation
// lines trimmed, joined by CR LF); empty when the key is absent.
std::string EntryField(std::string_view entry, std::string_view key);

// The form in which the general section stores `value` on a line whose
// ": " stands at `colon` (multi-line values: ": " as ":_", blank lines as ".",
// continuation lines indented under the value).
std::string StoredFieldForm(std::string_view value, std::size_t colon);

// A stored value back to its text: in a multi-line value ":_" was ": " and
// a "." line was blank. One-line values are stored unchanged.
std::string FieldText(std::string_view stored);

// True when the entry holds every key with exactly that value: the whole
// stored value, not only its beginning, so that a one-line message does not
// match a longer multi-line one that begins with the same line.
bool EntryMatches(std::string_view entry, const std::vector<std::string>& keys, const std::vector<std::string>& values);

// The sections of an entry.
std::string EntryGeneralPart(std::string_view entry);
std::string EntryCallStackTable(std::string_view entry);
std::string EntryModulesTable(std::string_view entry);
std::string EntryCpuPart(std::string_view entry);
// Only reports older than 5.0.0 carry the user's steps to reproduce.
std::string EntryReproducePart(std::string_view entry);

// Lines split at CR LF, LF or CR; a final break adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace vellum::exceptlog

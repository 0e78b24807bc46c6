// The numbered "key: value" sections of a report's general part. Fields are
// numbered whether shown or not, so a field keeps its key ("2.3") whatever
// the options hide: the log's duplicate test and version check look fields
// up by key.
#pragma once

#include <string>
#include <string_view>

namespace vellum::exceptlog {

class TLogItem {
 public:
  explicit TLogItem(int first_section) : first_section_(first_section), section_(first_section) {}

  void Clear();
  void AddSection(std::string_view title);
  void AddField(std::string_view label, std::string_view value, bool show);
  // The sections laid out: dash lines as wide as their section, ": "
  // aligned, continuation lines under the value, empty sections dropped.
  std::string GetText() const;

  int Section() const { return section_; }
  int Field() const { return field_; }

 private:
  int first_section_;
  int section_;
  int field_ = 0;
  std::string text_;
};

// A multi-line value as a field stores it: no line of it may look like a
// field line or a blank line, because readers split the report on both.
std::string StoredFieldValue(std::string_view value);

}  // namespace vellum::exceptlog

// The 96 texts every caption and message of the exception subsystem is taken
// from. Each options object holds its own copy; the table below gives each
// text's group and name (shown when texts are customized) and its default.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

inline constexpr int kCustomizedTextCount = 96;
using TCustomizedTexts = std::array<std::string, kCustomizedTextCount>;

struct CustomizedTextInfo {
  std::string_view group;
  std::string_view name;
  std::string_view default_text;
};

// The root "Texts" followed by the ten groups, in the order they are shown.
extern const std::array<std::string_view, 11> kCustomizedTextGroups;

extern const std::array<CustomizedTextInfo, kCustomizedTextCount> kCustomizedTextTable;

TCustomizedTexts DefaultCustomizedTexts();

}  // namespace vellum::exceptlog

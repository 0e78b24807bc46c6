// Every stored module option by its name, for the tools: the build tool
// reads option values from a text file, and exlog prints a module's options
// by name (and as JSON).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exceptlog/capture/options/module_options.h"

namespace vellum::eldata {

enum class OptionKind {
  kString,
  kBoolean,
  kNumber,      // shown and read as a decimal number
  kFlags,       // a flag set or the report fields, as one integer
  kStringList,  // the filter lists and the 96 texts
};

struct OptionField {
  std::string_view Name;
  OptionKind Kind;
};

const std::vector<OptionField>& OptionFields();

// The value as text: numbers in decimal, Booleans "true"/"false". Not for lists.
std::string OptionText(const exceptlog::TRuzadaModuleOptions& options, std::string_view name);
std::vector<std::string> OptionList(const exceptlog::TRuzadaModuleOptions& options, std::string_view name);

// Raises EConvertError for an unknown name or a value that does not fit.
void SetOptionText(exceptlog::TRuzadaModuleOptions& options, std::string_view name, std::string_view value);
void SetOptionList(exceptlog::TRuzadaModuleOptions& options, std::string_view name, std::vector<std::string> values);

// The options file of the build tool: "Name = value" lines; "#" starts a
// comment line; list options take one "Name += value" line per item (and
// "Texts[i] = value" sets one text); "\r", "\n", "\t" and "\\" in values
// stand for themselves. Raises EConvertError "<file>:<line>: <reason>".
void ApplyOptionsFile(exceptlog::TRuzadaModuleOptions& options, std::string_view text, const std::string& file_name);

// JSON text of every option (one object keyed by name).
std::string OptionsJson(const exceptlog::TRuzadaModuleOptions& options, int indent);

}  // namespace vellum::eldata

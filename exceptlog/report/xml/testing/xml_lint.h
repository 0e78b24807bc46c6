// Checks a document with xmllint where the tool is at hand (the native
// build); tests skip the check elsewhere.
#pragma once

#include <optional>
#include <string>

namespace vellum::exceptlog::testing {

// Empty when xmllint cannot be run here; otherwise whether it accepted the
// document, with its complaint in `message`.
std::optional<bool> XmlLintAccepts(const std::string& document, std::string* message = nullptr);

}  // namespace vellum::exceptlog::testing

// The stand-in's command line, and the handle text of the host link's
// registry values. Kept free of Win32 so both are tested natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/exception.h"

namespace vellum::band::testing {

VELLUM_EXCEPTION_CLASS(EStandinUsage, Exception);

struct StandinOptions {
  std::string log_path;  // empty: standard output
  std::string class_name = "TfrmVellumHidden";
  std::uint32_t timeout_ms = 60000;
  std::string stop_event;  // empty: none
  bool answer_registry = false;
  bool dock = false;
};

// Parses the arguments after the program name; raises EStandinUsage with a
// message naming the offending argument.
StandinOptions ParseCommandLine(const std::vector<std::string>& arguments);

extern const char kUsageText[];

// The band writes window handles as signed decimal text (a 32-bit handle read
// as a signed integer). Returns the handle's 32 bits, or nothing when the text
// is not exactly an optional '-' and 1 to 10 digits within the int32 range.
std::optional<std::uint32_t> ParseHandleText(std::string_view text);

// The same form, for the log: the handle's 32 bits as a signed integer.
std::string FormatHandleText(std::uint32_t handle);

// Window handles are 32-bit significant on every Windows, which is what lets
// a 32-bit Vellum and a 64-bit band exchange them: the low 32 bits are the
// handle, and a 64-bit process widens them by sign extension, as the system
// does when a handle crosses from a 32-bit process.
constexpr std::uint32_t HandleBits(std::uintptr_t handle) {
  return static_cast<std::uint32_t>(handle);
}
constexpr std::uintptr_t HandleFromBits(std::uint32_t bits) {
  return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<std::int32_t>(bits)));
}

}  // namespace vellum::band::testing

#include "exceptlog/capture/hooking/internal_error.h"

#include <atomic>
#include <cstdio>

namespace vellum::exceptlog {

void WriteToDebuggerOutput(const std::string& line);  // per platform

namespace {

void DefaultReporter(std::string_view section, std::uint32_t address, std::string_view message) {
  WriteToDebuggerOutput(FormatInternalError(section, address, message));
}

std::atomic<InternalErrorReporter> current_reporter{&DefaultReporter};

}  // namespace

std::string FormatInternalError(std::string_view section, std::uint32_t address, std::string_view message) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(address));
  const std::string_view text = message.empty() ? std::string_view("General internal error.") : message;
  return "[ERROR] - Section: " + std::string(section) + " - Address: " + digits + " - Message: \"" + std::string(text) +
         "\"";
}

std::string FormatCriticalError(std::string_view section, std::string_view message) {
  const std::string_view text = message.empty() ? std::string_view("General internal error.") : message;
  return "Critical error at: \"" + std::string(section) + "\"\r\nError: \"" + std::string(text) + "\".";
}

InternalErrorReporter SetInternalErrorReporter(InternalErrorReporter reporter) {
  return current_reporter.exchange(reporter != nullptr ? reporter : &DefaultReporter);
}

void ReportInternalError(std::string_view section, std::uint32_t address, std::string_view message) {
  current_reporter.load()(section, address, message);
}

}  // namespace vellum::exceptlog

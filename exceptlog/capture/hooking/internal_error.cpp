#include "exceptlog/capture/hooking/internal_error.h"

#include <atomic>
#include <cstdio>

namespace vellum::exceptlog {

void WriteToDebuggerOutput(const std::string& line);  // per platform

namespace {

void DefaultReporter(std::string_view section, std::uint64_t address, std::string_view message) {
  WriteToDebuggerOutput(FormatInternalError(section, address, message));
}

std::atomic<InternalErrorReporter> current_reporter{&DefaultReporter};

}  // namespace

std::string FormatInternalError(std::string_view section, std::uint64_t address, std::string_view message) {
  // 8 digits below 4 GB, 16 above (a 64-bit process's code lies there).
  char digits[17];
  std::snprintf(digits, sizeof digits, "%0*llX", address > UINT32_MAX ? 16 : 8,
                static_cast<unsigned long long>(address));
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

void ReportInternalError(std::string_view section, std::uint64_t address, std::string_view message) {
  current_reporter.load()(section, address, message);
}

}  // namespace vellum::exceptlog

// Internal errors of the exception subsystem: a line for the debugger output
// and the critical error that a failed start or stop raises. The reporter is
// a replaceable function so that the exception manager can install its full
// one (log file, question to the user) over this minimal one.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "runtime/exception.h"

namespace vellum::exceptlog {

// "[ERROR] - Section: <section> - Address: <8 hex digits> - Message: "<message>""
std::string FormatInternalError(std::string_view section, std::uint64_t address, std::string_view message);
// "Critical error at: "<section>"\r\nError: "<message>"."
std::string FormatCriticalError(std::string_view section, std::string_view message);

using InternalErrorReporter = void (*)(std::string_view section, std::uint64_t address, std::string_view message);

// Installs `reporter` (nullptr: the default, which writes the formatted line
// to the debugger output) and answers the one it replaces.
InternalErrorReporter SetInternalErrorReporter(InternalErrorReporter reporter);
void ReportInternalError(std::string_view section, std::uint64_t address, std::string_view message);

// Runs a start or stop step. A failure is reported under `section` and
// raised again as the critical error.
template <typename Body>
void RunCriticalSection(std::string_view section, Body&& body) {
  std::string message;
  try {
    body();
    return;
  } catch (const std::exception& failure) {
    message = failure.what();
  } catch (...) {
  }
  if (message.empty()) message = "General internal error.";
  // A start or stop failure has no faulting address of its own.
  ReportInternalError(section, 0, message);
  throw Exception(FormatCriticalError(section, message));
}

}  // namespace vellum::exceptlog

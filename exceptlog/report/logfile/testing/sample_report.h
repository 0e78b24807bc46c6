// Report texts in the layout the report builder writes, built by hand for
// the log's tests, its fuzz seeds and exlog's test: a header line, aligned
// numbered fields, the call stack and modules tables and the processor
// section.
#pragma once

#include <string>

namespace vellum::exceptlog::testing {

struct SampleReport {
  std::string version = "5.0.4";
  std::string application_version = "1.2.0.7";
  std::string address = "0040100A";
  std::string module = "crash_sample.exe";
  std::string type = "EAccessViolation";
  // A multi-line message is written in its stored form.
  std::string message = "Access violation at address 0040100A. Write of address 00000000.";
  bool show_type = true;
  bool modules = true;
  bool cpu = true;
  bool known_registers = true;
  // A second thread group: a running thread with a calling thread below it.
  bool second_thread = true;
  // A 64-bit process's report: 16-digit addresses in the tables and the CPU
  // section with its nine register rows and 8-byte stack words. `address`
  // is taken as given.
  bool wide = false;
};

std::string BuildSampleReport(const SampleReport& sample = {});

// A report of a format before 5.0.0: the user's steps to reproduce in the
// third section after the modules table.
std::string BuildOldSampleReport(const std::string& steps);

}  // namespace vellum::exceptlog::testing

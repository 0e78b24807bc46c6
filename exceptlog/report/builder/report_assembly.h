// The whole report of one exception: the numbered general part, the tables
// and the processor section, and what the rest of the pipeline takes from
// it (the text to send, the keys of the duplicate test, the heading and the
// compact dialog's message).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/report/builder/report_tables.h"
#include "exceptlog/report/builder/report_values.h"
#include "runtime/strings/date_time.h"

namespace vellum::exceptlog {

inline constexpr const char* kReportFormatLine = "DeveruVuz 5.0.4";

// Everything the general part says, as the system gave it.
struct GeneralFacts {
  int zone_offset_minutes = 0;  // local time minus UTC
  DateTime start_date;          // local
  std::string name_description;
  std::string version;
  std::vector<std::string> parameters;
  double compile_date_utc = 0;  // serial; 0 when unknown
  DateTime exception_date;      // local
  std::uint64_t exception_address = 0;
  AddressWidth address_width = AddressWidth::k32Bit;
  std::string exception_module;
  std::optional<std::string> exception_type;     // none: not an object of a class
  std::optional<std::string> exception_message;  // none: no standard message
  // Hidden for console and web-server programs, which have no windows of
  // their own.
  bool show_active_controls = true;
  std::string form_class, form_text, control_class, control_text;
  std::string computer_name, user_name;
  std::uint64_t total_memory = 0, free_memory = 0;
  std::optional<std::uint64_t> total_disk, free_disk;
  std::uint64_t up_time_milliseconds = 0;
  std::string processor;
  std::string display_mode;
  SystemVersion system;
  std::string language;
  NetworkTexts network;
};

// Fields 2.2 to 2.5, for the log's duplicate test.
struct DuplicateKeys {
  std::string address, module, type, message;
};

struct ReportTexts {
  std::string general;  // the format line and the general section (and custom information)
  std::string tables;   // call stack and modules
  std::string cpu;
  std::string full;
  std::string to_send;
  DuplicateKeys duplicate_keys;
  std::string heading;
  std::string compact_message;
};

// The general part: the format line, a blank line and the sections.
std::string GeneralPart(const TRuzadaModuleOptions& options, const GeneralFacts& facts);
// The values of 2.2 to 2.5 as the general part writes them.
DuplicateKeys GeneralDuplicateKeys(const GeneralFacts& facts);

// The sections' inputs each carry the width of the process's addresses
// (the dialog takes them apart); the report is of one process, so a width
// that differs from `address_width` is refused with EReportLayoutError.
struct ReportInput {
  AddressWidth address_width = AddressWidth::k32Bit;  // also the modules table's
  GeneralFacts general;
  CallStackInput call_stack;
  std::vector<ModuleRow> modules;
  CpuInput cpu;
};

// Progress codes 7021 and 7022 and those of the call stack go to
// input.call_stack.progress.
ReportTexts BuildReport(const TRuzadaModuleOptions& options, const ReportInput& input);

// A custom-data handler's text as its own section right after the general
// part; nothing changes for an empty text.
void AddCustomInformation(ReportTexts& report, const TRuzadaModuleOptions& options, const std::string& custom_data);
// The user's steps to reproduce the error as section 8 after the general
// part (and its custom information); nothing changes for a blank text.
void AddReproduceSteps(ReportTexts& report, const TRuzadaModuleOptions& options, const std::string& steps);

}  // namespace vellum::exceptlog

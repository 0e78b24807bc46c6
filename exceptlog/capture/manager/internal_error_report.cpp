#include "exceptlog/capture/manager/internal_error_report.h"

#include <cstdio>
#include <cstdlib>

namespace vellum::exceptlog {

namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Day of the week of a Gregorian date, 0 = Sunday (Sakamoto's method).
int DayOfWeek(int year, int month, int day) {
  static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) --year;
  return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

}  // namespace

std::string FormatInternalErrorDate(const DateTime& t, int utc_offset_minutes) {
  const int month = t.month >= 1 && t.month <= 12 ? t.month : 1;
  const int hours = std::abs(utc_offset_minutes) / 60;
  char zone[8];
  std::snprintf(zone, sizeof zone, "%c%02d00", utc_offset_minutes < 0 ? '-' : '+', hours % 100);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %s", kDays[DayOfWeek(t.year, month, t.day)], t.day,
                kMonths[month - 1], t.year, t.hour, t.minute, t.second, zone);
  return text;
}

std::string FormatDump(std::span<const std::uint8_t> bytes) {
  std::string dump;
  char item[5];
  for (std::uint8_t byte : bytes) {
    std::snprintf(item, sizeof item, "$%02X ", byte);
    dump += item;
  }
  return dump;
}

std::string FormatInternalErrorFile(const InternalErrorFacts& f) {
  // 8 digits below 4 GB, 16 above (a 64-bit process's code lies there).
  char address[17];
  std::snprintf(address, sizeof address, "%0*llX", f.address > UINT32_MAX ? 16 : 8,
                static_cast<unsigned long long>(f.address));
  return "Version: " + std::string(kSubsystemVersion) + "\r\nDate   : " + f.date + "\r\nOS     : " + f.os +
         "\r\nRAD    : " + f.compiler + "\r\nDump   : " + f.dump + "\r\nSection: " + f.section + "\r\nAddress: $" +
         address + "\r\nMessage: " + f.message;
}

std::string FormatInternalErrorQuestion(std::string_view message) {
  return "Error: '" + std::string(message) +
         "'\r\n\r\nThis is an internal DeveruVuz bug.\r\nDo you want to send the bug information to DeveruVuz author?";
}

std::string FormatManualSendingNotice(std::string_view file_name) {
  return "Please send the file \"" + std::string(file_name) + "\" to " + kSupportAddress +
         " after pressing OK.\r\nThank you.";
}

std::string InternalErrorFileName(std::string_view program_file_name) {
  const std::size_t separator = program_file_name.find_last_of("\\/");
  const std::size_t dot = program_file_name.rfind('.');
  const bool has_extension = dot != std::string_view::npos && (separator == std::string_view::npos || dot > separator);
  return std::string(program_file_name.substr(0, has_extension ? dot : program_file_name.size())) + ".log";
}

}  // namespace vellum::exceptlog

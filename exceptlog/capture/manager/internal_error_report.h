// The texts of an internal error of the subsystem: the ".log" file written
// beside the program and the question that offers to send it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/strings/date_time.h"

namespace vellum::exceptlog {

inline constexpr const char* kSubsystemVersion = "5.0.4";
inline constexpr const char* kInternalErrorCaption = "Probably internal bug";
inline constexpr const char* kInternalErrorSubject = "DeveruVuz 5.0.4 critical bug.";
// Where the user is asked to send an internal-error file. Not a mailbox of
// any real vendor: a placeholder that an integrator replaces.
inline constexpr const char* kSupportAddress = "support@deveruvuz.invalid";
inline constexpr const char* kGeneralInternalError = "General internal error.";

// "Mon, 7 Dec 2026 10:42:51 +0100": English day and month abbreviations, the
// zone offset as sign, two hour digits and "00".
std::string FormatInternalErrorDate(const DateTime& local_time, int utc_offset_minutes);

// "$4D $5A $90 ..." for each byte.
std::string FormatDump(std::span<const std::uint8_t> bytes);

struct InternalErrorFacts {
  std::string date;      // FormatInternalErrorDate
  std::string os;        // the operating-system description
  std::string compiler;  // what built the module
  std::string dump;      // FormatDump of the 32 bytes at the address ("" when unreadable)
  std::string section;
  std::uint64_t address = 0;
  std::string message;
};

// The ".log" file's text.
std::string FormatInternalErrorFile(const InternalErrorFacts& facts);

// "Error: '<message>'\r\n\r\nThis is an internal DeveruVuz bug.\r\n..."
std::string FormatInternalErrorQuestion(std::string_view message);
// What the user reads when the file could not be sent for them.
std::string FormatManualSendingNotice(std::string_view file_name);

// The program's file name with its extension replaced by ".log".
std::string InternalErrorFileName(std::string_view program_file_name);

}  // namespace vellum::exceptlog

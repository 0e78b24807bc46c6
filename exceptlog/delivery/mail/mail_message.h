// The texts of a mailed report: the MIME body with its attachment parts,
// the header block and the DATA text the SMTP client sends, the "Date:"
// value, and the escaping of the mailto: URL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/strings/date_time.h"

namespace vellum::exceptlog {

inline constexpr std::string_view kMailBoundary = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";

// The files of one report: the string list's entries come before the file
// names. With a time stamp (the time of the exception) the display names get
// "_yyyymmddhhnnss" before their extension, as in the archive and the upload.
struct MailAttachments {
  std::vector<std::string> FilesList;
  std::vector<std::string> Files;
  std::optional<DateTime> TimeStamp;
};

// A listed file read for a message: its display name, type and bytes.
struct AttachmentFile {
  std::string Name;
  std::string ContentType;
  std::string Bytes;
};

std::string AttachmentDisplayName(std::string_view file_name, const std::optional<DateTime>& time_stamp);
std::string AttachmentContentType(std::string_view file_name);
// Base64 of the whole file in lines of 80 characters, each full line ending
// in CR LF; empty for a blank name or a file that cannot be opened.
std::string EncodeFileBase64(const std::string& file_name);
std::string BuildAttachmentParts(const MailAttachments& attachments);
std::string BuildMailBody(std::string_view body_text, const MailAttachments& attachments);

struct MailHeaderFields {
  DateTime Date;
  int UtcOffsetMinutes = 0;  // local time minus UTC
  std::string From;
  std::string Subject;
  std::string To;
  std::uint32_t TickCount = 0;  // makes the Message-ID
};

// Headers, the body and the closing "." (the client adds the final CR LF).
// Header values lose their CR and LF so that a subject or address cannot
// add headers; body lines beginning with "." get a second one, which the
// server removes again, so that no body line can end the message early.
std::string BuildMailDataText(const MailHeaderFields& headers, std::string_view mail_body);
// The same text as BuildMailDataText(headers, BuildMailBody(body_text,
// attachments)), built in one buffer without a copy of the body, and a
// piece at a time, so that the pieces can be done while a server's replies
// are on their way: each Step reads one file or encodes up to 60 KB of one,
// and says whether more is to do.
class MailDataBuilder {
 public:
  MailDataBuilder(const MailHeaderFields& headers, std::string_view body_text, const MailAttachments& attachments);
  bool Step();
  // What is left, then the whole text.
  std::string Take();

 private:
  std::string headers_;
  std::string body_text_;
  std::vector<std::string> names_;
  std::optional<DateTime> time_stamp_;
  std::size_t next_name_ = 0;
  std::vector<AttachmentFile> files_;
  std::size_t next_file_ = 0;
  std::size_t offset_ = 0;
  bool started_ = false;
  bool finished_ = false;
  std::string text_;
};
std::string FormatMailDate(const DateTime& date, int utc_offset_minutes);
std::string URLEncodeText(std::string_view text);

// A list of addresses separated by "," or ";", trimmed, without empty entries.
std::vector<std::string> SplitMailAddresses(std::string_view addresses);

}  // namespace vellum::exceptlog

#include "exceptlog/delivery/mail/mail_message.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include "exceptlog/common/codec/base64.h"
#include "runtime/stream.h"
#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {
namespace {

constexpr std::size_t kBase64LineLength = 80;
constexpr std::string_view kMessageIdDomain = "vellumdeskband.invalid";

std::size_t NameStart(std::string_view file_name) {
  const std::size_t separator = file_name.find_last_of("\\/:");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

// A blank name is no file; one that vanished since the report listed it is
// left out.
std::optional<std::string> ReadListedFile(const std::string& file_name) {
  if (Trim(file_name).empty()) return std::nullopt;
  return ReadWholeFile(file_name);
}

std::string Base64Lines(const std::string& bytes) {
  return Base64LinesFromBytes(bytes.data(), bytes.size(), kBase64LineLength);
}

// Base64 is encoded in slices of whole lines: the lines of the slices
// together are the lines of the whole.
constexpr std::size_t kSliceBytes = kBase64LineLength / 4 * 3 * 1024;

std::vector<std::string> ListedNames(const MailAttachments& attachments) {
  std::vector<std::string> names = attachments.FilesList;
  names.insert(names.end(), attachments.Files.begin(), attachments.Files.end());
  return names;
}

std::optional<AttachmentFile> ReadAttachment(const std::string& file_name, const std::optional<DateTime>& time_stamp) {
  std::optional<std::string> bytes = ReadListedFile(file_name);
  if (!bytes) return std::nullopt;
  return AttachmentFile{AttachmentDisplayName(file_name, time_stamp), AttachmentContentType(file_name),
                        std::move(*bytes)};
}

std::vector<AttachmentFile> ReadAttachments(const MailAttachments& attachments) {
  std::vector<AttachmentFile> files;
  for (const std::string& file_name : ListedNames(attachments)) {
    if (std::optional<AttachmentFile> file = ReadAttachment(file_name, attachments.TimeStamp)) {
      files.push_back(std::move(*file));
    }
  }
  return files;
}

// Parts are appended to one buffer: a report's attachments run to
// megabytes, and each copy of them costs more than encoding them.
void AppendPartHead(std::string& out, const AttachmentFile& file) {
  out += "\r\n--";
  out += kMailBoundary;
  out += "\r\nContent-Type: " + file.ContentType + ";\r\n        name=\"" + file.Name +
         "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
         "        filename=\"" +
         file.Name + "\"\r\n\r\n";
}

void AppendAttachmentPart(std::string& out, const AttachmentFile& file) {
  AppendPartHead(out, file);
  AppendBase64Lines(out, file.Bytes.data(), file.Bytes.size(), kBase64LineLength);
  out += "\r\n";
}

// The body up to its first attachment part, and its end after the last.
std::string BodyHead(std::string_view body_text) {
  std::string head = "This is a multi-part message in MIME format\r\n\r\n--";
  head += kMailBoundary;
  head += "\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
  head += body_text;
  head += "\r\n";
  return head;
}

std::string BodyEnd() {
  return "--" + std::string(kMailBoundary) + "--\r\n";
}

constexpr std::size_t kPartHeadRoom = 512;

std::size_t PartsSize(const std::vector<AttachmentFile>& files) {
  std::size_t size = 0;
  for (const AttachmentFile& file : files) {
    size += kPartHeadRoom + 2 * file.Name.size() + Base64LinesSize(file.Bytes.size(), kBase64LineLength);
  }
  return size;
}

std::string HeaderValue(std::string_view value) {
  std::string cleaned;
  cleaned.reserve(value.size());
  for (const char c : value) {
    if (c != '\r' && c != '\n') cleaned += c;
  }
  return cleaned;
}

// A "." at the start of any line, the first included, is doubled. Copied a
// line run at a time: the text is mostly base64 lines that need nothing.
void AppendDotStuffed(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 16);
  std::size_t from = 0;
  if (!text.empty() && text.front() == '.') out += '.';
  for (std::size_t dot = text.find("\n.", 0); dot != std::string_view::npos; dot = text.find("\n.", dot + 1)) {
    out.append(text, from, dot + 1 - from);
    out += '.';
    from = dot + 1;
  }
  out.append(text, from, std::string_view::npos);
}

std::string ZoneText(int utc_offset_minutes) {
  // Halves go to the even hour, as the default rounding mode does.
  const int hours = static_cast<int>(std::nearbyint(utc_offset_minutes / 60.0));
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d00", hours < 0 ? '-' : '+', std::abs(hours));
  return text;
}

std::string DataHeaders(const MailHeaderFields& headers) {
  std::string text = "Date: " + FormatMailDate(headers.Date, headers.UtcOffsetMinutes) + "\r\n";
  text += "From: <" + HeaderValue(headers.From) + ">\r\n";
  text += "Subject: " + HeaderValue(headers.Subject) + "\r\n";
  text += "To: <" + HeaderValue(headers.To) + ">\r\n";
  text += "Content-Type: multipart/mixed; boundary=\"" + std::string(kMailBoundary) + "\";\r\nMIME-Version: 1.0\r\n";
  text += "Message-ID: <" + std::to_string(headers.TickCount) + "@" + std::string(kMessageIdDomain) + ">\r\n";
  text += "\r\n";
  return text;
}

}  // namespace

std::string AttachmentDisplayName(std::string_view file_name, const std::optional<DateTime>& time_stamp) {
  std::string name(file_name.substr(NameStart(file_name)));
  if (!time_stamp) return name;
  const std::size_t dot = name.rfind('.');
  const std::size_t insert_at = dot == std::string::npos ? name.size() : dot;
  name.insert(insert_at, "_" + FormatDateTime("yyyymmddhhnnss", *time_stamp));
  return name;
}

std::string AttachmentContentType(std::string_view file_name) {
  const std::string_view name = file_name.substr(NameStart(file_name));
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && UpperCase(name.substr(dot)) == ".PNG") return "image/png";
  return "application/octet-stream";
}

std::string EncodeFileBase64(const std::string& file_name) {
  const std::optional<std::string> bytes = ReadListedFile(file_name);
  return bytes ? Base64Lines(*bytes) : std::string();
}

std::string BuildAttachmentParts(const MailAttachments& attachments) {
  const std::vector<AttachmentFile> files = ReadAttachments(attachments);
  std::string parts;
  parts.reserve(PartsSize(files));
  for (const AttachmentFile& file : files) AppendAttachmentPart(parts, file);
  return parts;
}

std::string BuildMailBody(std::string_view body_text, const MailAttachments& attachments) {
  const std::vector<AttachmentFile> files = ReadAttachments(attachments);
  std::string body = BodyHead(body_text);
  body.reserve(body.size() + PartsSize(files) + kPartHeadRoom);
  for (const AttachmentFile& file : files) AppendAttachmentPart(body, file);
  body += BodyEnd();
  return body;
}

std::string BuildMailDataText(const MailHeaderFields& headers, std::string_view mail_body) {
  std::string text = DataHeaders(headers);
  AppendDotStuffed(text, mail_body);
  text += ".";
  return text;
}

MailDataBuilder::MailDataBuilder(const MailHeaderFields& headers, std::string_view body_text,
                                 const MailAttachments& attachments)
    : headers_(DataHeaders(headers)),
      body_text_(body_text),
      names_(ListedNames(attachments)),
      time_stamp_(attachments.TimeStamp) {}

bool MailDataBuilder::Step() {
  if (next_name_ < names_.size()) {
    if (std::optional<AttachmentFile> file = ReadAttachment(names_[next_name_], time_stamp_)) {
      files_.push_back(std::move(*file));
    }
    ++next_name_;
    return true;
  }
  if (!started_) {
    started_ = true;
    text_.reserve(headers_.size() + kPartHeadRoom + 2 * body_text_.size() + PartsSize(files_));
    text_ = headers_;
    AppendDotStuffed(text_, BodyHead(body_text_));
    return true;
  }
  if (next_file_ < files_.size()) {
    AttachmentFile& file = files_[next_file_];
    if (offset_ == 0) {
      // Base64 has no "." and the part headers' lines start with letters,
      // blanks or "--": only what comes from outside is stuffed.
      std::string head;
      AppendPartHead(head, file);
      AppendDotStuffed(text_, head);
    }
    const std::size_t slice = std::min(kSliceBytes, file.Bytes.size() - offset_);
    AppendBase64Lines(text_, file.Bytes.data() + offset_, slice, kBase64LineLength);
    offset_ += slice;
    if (offset_ == file.Bytes.size()) {
      text_ += "\r\n";
      std::string().swap(file.Bytes);  // encoded: no need to hold it
      ++next_file_;
      offset_ = 0;
    }
    return true;
  }
  if (!finished_) {
    finished_ = true;
    text_ += BodyEnd();
    text_ += ".";
  }
  return false;
}

std::string MailDataBuilder::Take() {
  while (Step()) {
  }
  return std::move(text_);
}

std::string FormatMailDate(const DateTime& date, int utc_offset_minutes) {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %s", kDays[(DayOfWeek(date) - 1) % 7], date.day,
                kMonths[(date.month - 1) % 12], date.year, date.hour, date.minute, date.second,
                ZoneText(utc_offset_minutes).c_str());
  return text;
}

std::string URLEncodeText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size() * 3);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte == '-' ||
        byte >= 128) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

std::vector<std::string> SplitMailAddresses(std::string_view addresses) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start <= addresses.size()) {
    std::size_t end = addresses.find_first_of(",;", start);
    if (end == std::string_view::npos) end = addresses.size();
    std::string address = Trim(addresses.substr(start, end - start));
    if (!address.empty()) result.push_back(std::move(address));
    start = end + 1;
  }
  return result;
}

}  // namespace vellum::exceptlog

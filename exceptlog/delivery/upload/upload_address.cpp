#include "exceptlog/delivery/upload/upload_address.h"

#include <cctype>

#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

bool IsNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.';
}

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Digits to a port; nothing when the number does not fit 16 bits.
bool ToPort(std::string_view digits, std::uint16_t& port) {
  std::uint32_t value = 0;
  for (const char c : digits) {
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 0xFFFF) return false;
  }
  port = static_cast<std::uint16_t>(value);
  return true;
}

// Cuts "<prefix><separator>" off `rest` when the separator occurs and the
// prefix is made of name characters only.
bool CutPrefix(std::string& rest, std::string_view separator, std::string& prefix) {
  const std::size_t at = rest.find(separator);
  if (at == std::string::npos) return false;
  for (std::size_t i = 0; i < at; ++i) {
    if (!IsNameCharacter(rest[i])) return false;
  }
  prefix = rest.substr(0, at);
  rest.erase(0, at + separator.size());
  return true;
}

}  // namespace

bool SplitUploadAddress(std::string_view address, TUploadAddress& parts) {
  parts = {};
  std::string rest = Trim(address);
  if (!rest.empty() && rest.back() != '/') rest += '/';

  // A trailing port: ":<digits>" just before the final "/".
  bool have_port = false;
  if (!rest.empty()) {
    std::size_t digits_start = rest.size() - 1;
    while (digits_start > 0 && rest[digits_start - 1] >= '0' && rest[digits_start - 1] <= '9') --digits_start;
    const std::size_t digits_count = rest.size() - 1 - digits_start;
    if (digits_count > 0 && digits_start > 0 && rest[digits_start - 1] == ':') {
      if (!ToPort(std::string_view(rest).substr(digits_start, digits_count), parts.Port)) return false;
      rest.erase(digits_start - 1, digits_count + 1);
      have_port = true;
    }
  }

  CutPrefix(rest, "://", parts.Scheme);
  // "user:password@host" names its user before a ":", but so does
  // "host:port/path"; only an "@" in front of the first "/" says which one
  // it is. Taking the host of "host:8080/path" as a user name would send the
  // report to a host called "8080".
  const std::string_view authority = std::string_view(rest).substr(0, rest.find('/'));
  if (authority.find('@') != std::string_view::npos) {
    CutPrefix(rest, ":", parts.User);
    CutPrefix(rest, "@", parts.Password);
  } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    const std::string_view digits = authority.substr(colon + 1);
    if (IsDigits(digits)) {
      std::uint16_t port = 0;
      if (!ToPort(digits, port)) {
        parts = {};
        return false;
      }
      // The port at the very end of the address is the one that counts.
      if (!have_port) parts.Port = port;
      rest.erase(colon, digits.size() + 1);
    }
  }
  CutPrefix(rest, "/", parts.Host);

  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  parts.Path = rest;
  return true;
}

}  // namespace vellum::exceptlog

#include "exceptlog/delivery/mail/smtp_reply.h"

#include <algorithm>

namespace vellum::exceptlog {
namespace {

constexpr std::size_t kMaxCodeDigits = 9;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

}  // namespace

std::size_t SmtpReplyLength(std::string_view text) {
  std::size_t line = 0;
  for (std::size_t end = text.find("\r\n"); end != std::string_view::npos; end = text.find("\r\n", line)) {
    const std::string_view current = text.substr(line, end - line);
    line = end + 2;
    if (current.size() >= 3 && std::all_of(current.begin(), current.begin() + 3, IsDigit) &&
        (current.size() == 3 || current[3] == ' ')) {
      return line;
    }
  }
  return 0;
}

std::optional<unsigned long> SmtpReplyCode(std::string_view reply) {
  std::size_t digits = 0;
  unsigned long value = 0;
  while (digits < reply.size() && IsDigit(reply[digits])) {
    if (++digits > kMaxCodeDigits) return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(reply[digits - 1] - '0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

bool SmtpReplyOffers(std::string_view ehlo_reply, std::string_view keyword) {
  std::size_t start = ehlo_reply.find('\n');
  while (start != std::string_view::npos && start + 1 < ehlo_reply.size()) {
    const std::size_t line_start = start + 1;
    start = ehlo_reply.find('\n', line_start);
    std::string_view line =
        ehlo_reply.substr(line_start, start == std::string_view::npos ? std::string_view::npos : start - line_start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // "250-KEYWORD parameters" or "250 KEYWORD"
    if (line.size() < 4 || !std::all_of(line.begin(), line.begin() + 3, IsDigit)) continue;
    if (line[3] != '-' && line[3] != ' ') continue;
    const std::string_view rest = line.substr(4);
    if (SameWord(rest.substr(0, rest.find(' ')), keyword)) return true;
  }
  return false;
}

}  // namespace vellum::exceptlog

#include "exceptlog/delivery/mail/tls_record_header.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint8_t kFirstContentType = 20;  // change_cipher_spec
constexpr std::uint8_t kLastContentType = 24;   // heartbeat
constexpr std::uint8_t kVersionMajor = 3;
constexpr std::size_t kMaxRecordLength = (1 << 14) + 2048;

}  // namespace

bool StartsLikeTlsRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return true;
  if (bytes[0] < kFirstContentType || bytes[0] > kLastContentType) return false;
  if (bytes.size() >= 2 && bytes[1] != kVersionMajor) return false;
  if (bytes.size() >= 5 && (std::size_t{bytes[3]} << 8 | bytes[4]) > kMaxRecordLength) return false;
  return true;
}

std::string PrintableStart(std::span<const std::uint8_t> bytes, std::size_t limit) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (byte == '\r' || byte == '\n' || text.size() == limit) break;
    text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?';
  }
  return text;
}

}  // namespace vellum::exceptlog

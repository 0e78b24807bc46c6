#include "exceptlog/delivery/mail/dns_message.h"

#include <optional>

namespace vellum::exceptlog {
namespace {

constexpr std::uint16_t kTypeMx = 15;
constexpr std::uint16_t kClassIn = 1;
constexpr std::size_t kHeaderSize = 12;
// A name has at most 127 labels; more jumps than that can only be a loop.
constexpr int kMaxPointerJumps = 128;
constexpr std::size_t kMaxNameLength = 255;

class ReplyReader {
 public:
  explicit ReplyReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Has(std::size_t count) const { return count <= bytes_.size() - position_; }
  std::size_t Position() const { return position_; }
  std::optional<std::uint16_t> U16() {
    if (!Has(2)) return std::nullopt;
    const auto value = static_cast<std::uint16_t>(bytes_[position_] << 8 | bytes_[position_ + 1]);
    position_ += 2;
    return value;
  }
  bool Skip(std::size_t count) {
    if (!Has(count)) return false;
    position_ += count;
    return true;
  }
  // Leaves the position just behind the name's end byte, or behind the first
  // pointer when one was followed.
  std::optional<std::string> Name() {
    std::string name;
    std::size_t at = position_;
    std::optional<std::size_t> resume;
    for (int jumps = 0;;) {
      if (at >= bytes_.size()) return std::nullopt;
      const std::uint8_t length = bytes_[at];
      if (length >= 0xC0) {
        if (at + 1 >= bytes_.size() || ++jumps > kMaxPointerJumps) return std::nullopt;
        if (!resume) resume = at + 2;
        at = static_cast<std::size_t>((length & 0x3F) << 8 | bytes_[at + 1]);
        continue;
      }
      // 0x40 to 0xBF are label types nobody uses; refuse them.
      if (length >= 0x40) return std::nullopt;
      if (length == 0) {
        position_ = resume ? *resume : at + 1;
        return name;
      }
      if (at + 1 + length > bytes_.size()) return std::nullopt;
      if (!name.empty()) name += '.';
      name.append(reinterpret_cast<const char*>(bytes_.data() + at + 1), length);
      if (name.size() > kMaxNameLength) return std::nullopt;
      at += 1 + length;
    }
  }
  // The record data ends the readable bytes: the exchange name must lie
  // before its end (a pointer may still lead back into the reply).
  void CutAt(std::size_t end) { bytes_ = bytes_.first(end); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

void AppendU16(std::string& text, std::uint16_t value) {
  text += static_cast<char>(value >> 8);
  text += static_cast<char>(value & 0xFF);
}

}  // namespace

std::string BuildMxQuery(std::string_view domain) {
  std::string query = "AA";
  AppendU16(query, 0x0100);
  AppendU16(query, 1);
  query.append(6, '\0');
  std::size_t start = 0;
  while (start <= domain.size()) {
    std::size_t end = domain.find('.', start);
    if (end == std::string_view::npos) end = domain.size();
    // A label longer than 63 bytes cannot be written; its length byte would
    // read as a pointer.
    const std::string_view label = domain.substr(start, std::min<std::size_t>(end - start, 63));
    if (!label.empty()) {
      query += static_cast<char>(label.size());
      query += label;
    }
    start = end + 1;
  }
  query += '\0';
  AppendU16(query, kTypeMx);
  AppendU16(query, kClassIn);
  return query;
}

std::string ParseMxAnswer(std::span<const std::uint8_t> reply) {
  ReplyReader reader(reply);
  if (!reader.Has(kHeaderSize) || reply[0] != 'A' || reply[1] != 'A') return {};
  reader.Skip(6);
  const std::uint16_t answer_count = *reader.U16();
  // A reply without answers may carry other records (the zone's SOA) whose
  // data must not be read as an exchanger.
  if (answer_count == 0 || !reader.Skip(4)) return {};
  if (!reader.Name() || !reader.Skip(4)) return {};
  for (std::uint16_t record = 0; record < answer_count; ++record) {
    const auto owner = reader.Name();
    const auto type = reader.U16();
    const bool header_read = owner && type && reader.Skip(6);  // class, TTL
    const auto data_length = reader.U16();
    if (!header_read || !data_length || !reader.Has(*data_length)) return {};
    const std::size_t data_end = reader.Position() + *data_length;
    if (*type == kTypeMx) {
      reader.CutAt(data_end);
      if (!reader.Skip(2)) return {};  // preference
      const auto exchange = reader.Name();
      return exchange ? *exchange : std::string();
    }
    // CNAME records may come before the MX records of the name they alias.
    reader.Skip(*data_length);
  }
  return {};
}

std::string MailDomain(std::string_view address) {
  const std::size_t at = address.find('@');
  return std::string(at == std::string_view::npos ? address : address.substr(at + 1));
}

}  // namespace vellum::exceptlog

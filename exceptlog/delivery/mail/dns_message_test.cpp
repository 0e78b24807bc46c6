#include "exceptlog/delivery/mail/dns_message.h"

#include <gtest/gtest.h>

#include <vector>

namespace vellum::exceptlog {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

void Append(Bytes& bytes, std::initializer_list<int> values) {
  for (const int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
}

// A reply to the query for example.com: header, the question copied, then
// the records the test appends.
Bytes Reply(int answers) {
  Bytes reply = Of(BuildMxQuery("example.com"));
  reply[2] = 0x81;
  reply[3] = 0x80;
  reply[7] = static_cast<std::uint8_t>(answers);
  return reply;
}

// An MX record whose name points at the question (offset 12).
void AppendMx(Bytes& reply, const Bytes& exchange, int preference = 10) {
  Append(reply, {0xC0, 12, 0, 15, 0, 1, 0, 0, 1, 0});
  const auto length = static_cast<int>(exchange.size() + 2);
  Append(reply, {length >> 8, length & 0xFF, preference >> 8, preference & 0xFF});
  reply.insert(reply.end(), exchange.begin(), exchange.end());
}

TEST(DnsMessageTest, QueryAsksForMxRecursively) {
  EXPECT_EQ(BuildMxQuery("mail..example.com."), std::string("AA\x01\x00\x00\x01\0\0\0\0\0\0"
                                                            "\x04mail\x07"
                                                            "example\x03"
                                                            "com\0\0\x0F\0\x01",
                                                            34));
}

TEST(DnsMessageTest, ExchangeNameIsReadWithCompression) {
  Bytes reply = Reply(1);
  AppendMx(reply, Bytes{2, 'm', 'x', 0xC0, 12});
  EXPECT_EQ(ParseMxAnswer(reply), "mx.example.com");

  Bytes plain = Reply(1);
  AppendMx(plain, Of(std::string("\x04mail\x04test\0", 11)), 0);
  EXPECT_EQ(ParseMxAnswer(plain), "mail.test");
}

TEST(DnsMessageTest, CnameBeforeTheMxRecordIsSkipped) {
  Bytes reply = Reply(2);
  Append(reply, {0xC0, 12, 0, 5, 0, 1, 0, 0, 0, 60, 0, 4, 1, 'c', 0xC0, 12});
  AppendMx(reply, Bytes{2, 'm', 'x', 0xC0, 12});
  EXPECT_EQ(ParseMxAnswer(reply), "mx.example.com");
}

TEST(DnsMessageTest, RepliesWithoutAnExchangeGiveNothing) {
  // No answer, but an authority record that looks like one.
  Bytes no_answer = Reply(0);
  AppendMx(no_answer, Bytes{2, 'n', 's', 0xC0, 12});
  EXPECT_EQ(ParseMxAnswer(no_answer), "");

  Bytes wrong_id = Reply(1);
  AppendMx(wrong_id, Bytes{2, 'm', 'x', 0});
  wrong_id[0] = 'B';
  EXPECT_EQ(ParseMxAnswer(wrong_id), "");

  Bytes full = Reply(1);
  AppendMx(full, Bytes{2, 'm', 'x', 0xC0, 12});
  for (std::size_t size = 0; size < full.size(); ++size) {
    EXPECT_EQ(ParseMxAnswer(std::span(full).first(size)), "") << size;
  }
}

TEST(DnsMessageTest, HostilePointersEndTheParse) {
  // The exchange name points at itself, and at a pointer pointing back.
  Bytes self = Reply(1);
  const auto at = static_cast<int>(self.size() + 14);
  AppendMx(self, Bytes{0xC0, static_cast<std::uint8_t>(at)});
  EXPECT_EQ(ParseMxAnswer(self), "");

  Bytes pair = Reply(1);
  const auto first = static_cast<int>(pair.size() + 14);
  AppendMx(pair, Bytes{0xC0, static_cast<std::uint8_t>(first + 2), 0xC0, static_cast<std::uint8_t>(first)});
  EXPECT_EQ(ParseMxAnswer(pair), "");

  // A pointer past the end, and a label running past the record's data.
  Bytes outside = Reply(1);
  AppendMx(outside, Bytes{0xFF, 0xFF});
  EXPECT_EQ(ParseMxAnswer(outside), "");
  Bytes long_label = Reply(1);
  AppendMx(long_label, Bytes{9, 'm', 'x', 0});
  long_label.insert(long_label.end(), 10, 'x');
  EXPECT_EQ(ParseMxAnswer(long_label), "");
}

TEST(DnsMessageTest, DomainIsTheTextAfterTheFirstAt) {
  EXPECT_EQ(MailDomain("dev@example.com"), "example.com");
  EXPECT_EQ(MailDomain("a@b@c"), "b@c");
  EXPECT_EQ(MailDomain("example.org"), "example.org");
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/delivery/mail/smtp_reply.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

TEST(SmtpReplyTest, ReplyEndsWithItsFinalLine) {
  EXPECT_EQ(SmtpReplyLength("250 ok\r\n"), 8u);
  EXPECT_EQ(SmtpReplyLength("250\r\n"), 5u);
  const std::string_view three_lines = "250-first\r\n250-second\r\n250 last\r\n";
  EXPECT_EQ(SmtpReplyLength(three_lines), three_lines.size());
  EXPECT_EQ(SmtpReplyLength("250-first\r\n250-second\r\n"), 0u);
  EXPECT_EQ(SmtpReplyLength("250 ok"), 0u);      // the line end is still to come
  EXPECT_EQ(SmtpReplyLength("25"), 0u);          // split inside the code
  EXPECT_EQ(SmtpReplyLength("25x ok\r\n"), 0u);  // no code
  EXPECT_EQ(SmtpReplyLength("250x\r\n"), 0u);    // neither blank nor hyphen
  EXPECT_EQ(SmtpReplyLength("\r\n\r\n"), 0u);
  EXPECT_EQ(SmtpReplyLength(""), 0u);
}

TEST(SmtpReplyTest, PipelinedRepliesAreTakenOneAtATime) {
  // Replies to MAIL, RCPT and DATA that came in one read.
  const std::string_view replies = "250 sender ok\r\n550-no such\r\n550 user\r\n354 go";
  const std::size_t first = SmtpReplyLength(replies);
  EXPECT_EQ(replies.substr(0, first), "250 sender ok\r\n");
  const std::size_t second = SmtpReplyLength(replies.substr(first));
  EXPECT_EQ(replies.substr(first, second), "550-no such\r\n550 user\r\n");
  EXPECT_EQ(SmtpReplyLength(replies.substr(first + second)), 0u);  // its line end is still to come
}

TEST(SmtpReplyTest, CodeIsTheLeadingNumber) {
  EXPECT_EQ(SmtpReplyCode("220 ready\r\n"), 220u);
  EXPECT_EQ(SmtpReplyCode("250-a\r\n354 b\r\n"), 250u);  // the first line's
  EXPECT_EQ(SmtpReplyCode("ready"), std::nullopt);
  EXPECT_EQ(SmtpReplyCode(""), std::nullopt);
  // More digits than any code, and more than a number holds: no code.
  EXPECT_EQ(SmtpReplyCode("99999999999999999999999 x"), std::nullopt);
}

TEST(SmtpReplyTest, ExtensionsAreTheFirstWordsAfterTheGreetingLine) {
  const std::string reply =
      "250-mail.example greets you\r\n250-SIZE 1000000\r\n250-starttls\r\n250 AUTH LOGIN PLAIN\r\n";
  EXPECT_TRUE(SmtpReplyOffers(reply, "STARTTLS"));
  EXPECT_TRUE(SmtpReplyOffers(reply, "auth"));
  EXPECT_TRUE(SmtpReplyOffers(reply, "SIZE"));
  EXPECT_FALSE(SmtpReplyOffers(reply, "LOGIN"));  // a parameter, not an extension
  EXPECT_FALSE(SmtpReplyOffers(reply, "START"));
  // The greeting line names the server, whatever it is called.
  EXPECT_FALSE(SmtpReplyOffers("250 STARTTLS\r\n", "STARTTLS"));
  EXPECT_FALSE(SmtpReplyOffers("250-host\r\n250-\r\n25\r\n250 x STARTTLS\r\n", "STARTTLS"));
  // Bare line feeds and a last line without its end still count.
  EXPECT_TRUE(SmtpReplyOffers("250-host\n250 STARTTLS", "STARTTLS"));
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/delivery/mail/mail_message.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "runtime/stream.h"

namespace vellum::exceptlog {
namespace {

class MailMessageTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& file : files_) std::filesystem::remove(file);
  }
  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    FileStream(path, fmCreate).WriteString(bytes);
    files_.push_back(path);
    return path;
  }
  std::vector<std::string> files_;
};

std::string Bytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
  return bytes;
}

TEST_F(MailMessageTest, Base64LinesBreakAfterEveryFullLineOnly) {
  const std::string short_file = EncodeFileBase64(File("mail_100.bin", Bytes(100)));
  ASSERT_EQ(short_file.size(), 136u + 2);
  EXPECT_EQ(short_file.find("\r\n"), 80u);
  EXPECT_EQ(short_file.find("\r\n", 82), std::string::npos);

  const std::string two_lines = EncodeFileBase64(File("mail_120.bin", Bytes(120)));
  ASSERT_EQ(two_lines.size(), 160u + 4);
  EXPECT_EQ(two_lines.substr(80, 2), "\r\n");
  EXPECT_EQ(two_lines.substr(162), "\r\n");

  EXPECT_EQ(EncodeFileBase64(""), "");
  EXPECT_EQ(EncodeFileBase64("/nonexistent/mail.bin"), "");
}

TEST_F(MailMessageTest, AttachmentPartsNameAndTypeEachFile) {
  MailAttachments attachments;
  attachments.FilesList = {File("REPORT.PNG", "png"), "  ", "/nonexistent/gone.txt"};
  attachments.Files = {File("shot.png.bak", "")};
  const std::string parts = BuildAttachmentParts(attachments);
  const std::string boundary = "\r\n--" + std::string(kMailBoundary) + "\r\n";
  EXPECT_EQ(parts, boundary +
                       "Content-Type: image/png;\r\n        name=\"REPORT.PNG\"\r\n"
                       "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
                       "        filename=\"REPORT.PNG\"\r\n\r\ncG5n\r\n" +
                       boundary +
                       "Content-Type: application/octet-stream;\r\n        name=\"shot.png.bak\"\r\n"
                       "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
                       "        filename=\"shot.png.bak\"\r\n\r\n\r\n");
}

TEST(MailMessageNamesTest, TimeStampGoesBeforeTheExtension) {
  const DateTime when{2024, 1, 31, 14, 25, 1};
  EXPECT_EQ(AttachmentDisplayName("C:\\Logs\\Screenshot.png", when), "Screenshot_20240131142501.png");
  EXPECT_EQ(AttachmentDisplayName("/tmp/a.b.tar", when), "a.b_20240131142501.tar");
  EXPECT_EQ(AttachmentDisplayName("C:\\Logs\\README", when), "README_20240131142501");
  EXPECT_EQ(AttachmentDisplayName("C:\\Logs\\Screenshot.png", std::nullopt), "Screenshot.png");
}

TEST(MailMessageBodyTest, BodyWithoutAttachmentsStillClosesTheMultipart) {
  EXPECT_EQ(BuildMailBody("Hello", {}),
            "This is a multi-part message in MIME format\r\n\r\n--=_xcjvnxkbhvfkxzhfdbvzldjhfv\r\n"
            "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\nHello\r\n"
            "--=_xcjvnxkbhvfkxzhfdbvzldjhfv--\r\n");
}

TEST(MailMessageBodyTest, DataTextHasItsHeadersInOrderAndCannotBeCutShort) {
  MailHeaderFields headers;
  headers.Date = {2024, 1, 31, 14, 25, 1};
  headers.UtcOffsetMinutes = 60;
  headers.From = "crash@example.com";
  headers.Subject = "Report\r\nBcc: victim@example.com";
  headers.To = "dev@example.com\n";
  headers.TickCount = 4242;
  EXPECT_EQ(BuildMailDataText(headers, ".first\r\nmiddle\r\n.\r\n..two\nlast\r\n"),
            "Date: Wed, 31 Jan 2024 14:25:01 +0100\r\n"
            "From: <crash@example.com>\r\n"
            "Subject: ReportBcc: victim@example.com\r\n"
            "To: <dev@example.com>\r\n"
            "Content-Type: multipart/mixed; boundary=\"=_xcjvnxkbhvfkxzhfdbvzldjhfv\";\r\nMIME-Version: 1.0\r\n"
            "Message-ID: <4242@vellumdeskband.invalid>\r\n"
            "\r\n"
            "..first\r\nmiddle\r\n..\r\n...two\nlast\r\n.");
  // Dots on consecutive lines, and a body that is nothing at all.
  const std::string headers_end = "@vellumdeskband.invalid>\r\n\r\n";
  const std::string stacked = BuildMailDataText(headers, ".\n.\n.");
  EXPECT_EQ(stacked.substr(stacked.find(headers_end) + headers_end.size()), "..\n..\n...");
  const std::string empty = BuildMailDataText(headers, "");
  EXPECT_EQ(empty.substr(empty.find(headers_end) + headers_end.size()), ".");
}

TEST_F(MailMessageTest, DataTextInOneBufferIsTheBodyStuffedAfterItsHeaders) {
  // Sizes around a line's 60 bytes and its padding, a text with dots at
  // line starts, a missing file and a time stamp: the one-buffer builder
  // must give exactly what building the body first gives.
  MailHeaderFields headers;
  headers.Date = {2024, 1, 31, 14, 25, 1};
  headers.From = "crash@example.com";
  headers.Subject = "Report";
  headers.To = "dev@example.com";
  MailAttachments attachments;
  attachments.FilesList = {File("list.log", Bytes(59)), "/nonexistent/gone.txt"};
  attachments.Files = {File("zero.bin", ""), File("one.bin", Bytes(60)), File("two.png", Bytes(61)),
                       File("big.bin", Bytes(200 * 1024 + 1))};
  attachments.TimeStamp = DateTime{2024, 1, 31, 14, 25, 1};
  for (const std::string body : {"", ".", ".first\r\n..\r\nlast", "text\r\n.\r\n"}) {
    EXPECT_EQ(MailDataBuilder(headers, body, attachments).Take(),
              BuildMailDataText(headers, BuildMailBody(body, attachments)))
        << body;
  }
  EXPECT_EQ(MailDataBuilder(headers, "x", {}).Take(), BuildMailDataText(headers, BuildMailBody("x", {})));

  // Built a piece at a time, as between a server's replies: the big file
  // takes several pieces, and the end stays the end.
  MailDataBuilder pieces(headers, ".first", attachments);
  int steps = 0;
  while (pieces.Step()) ++steps;
  EXPECT_GT(steps, 9);
  EXPECT_FALSE(pieces.Step());
  EXPECT_EQ(pieces.Take(), BuildMailDataText(headers, BuildMailBody(".first", attachments)));
}

TEST(MailMessageDateTest, ZoneIsRoundedToWholeHours) {
  const DateTime when{2026, 12, 7, 9, 5, 3};
  EXPECT_EQ(FormatMailDate(when, 0), "Mon, 7 Dec 2026 09:05:03 +0000");
  EXPECT_EQ(FormatMailDate(when, -600), "Mon, 7 Dec 2026 09:05:03 -1000");
  EXPECT_EQ(FormatMailDate(when, -300), "Mon, 7 Dec 2026 09:05:03 -0500");
  EXPECT_EQ(FormatMailDate(when, 600), "Mon, 7 Dec 2026 09:05:03 +1000");
  EXPECT_EQ(FormatMailDate(when, 330), "Mon, 7 Dec 2026 09:05:03 +0600");  // 5.5 to the even hour
  EXPECT_EQ(FormatMailDate(when, 270), "Mon, 7 Dec 2026 09:05:03 +0400");
  EXPECT_EQ(FormatMailDate(when, 345), "Mon, 7 Dec 2026 09:05:03 +0600");
}

TEST(MailMessageUrlTest, OnlyLettersDigitsHyphenAndHighBytesStay) {
  EXPECT_EQ(URLEncodeText("Crash report. a-b\r\n%&=?\xE9"), "Crash%20report%2E%20a-b%0D%0A%25%26%3D%3F\xE9");
}

TEST(MailMessageAddressTest, ListsSplitAtCommaAndSemicolon) {
  EXPECT_EQ(SplitMailAddresses(" a@x.org; , b@y.org;c@z.org ,"),
            (std::vector<std::string>{"a@x.org", "b@y.org", "c@z.org"}));
  EXPECT_TRUE(SplitMailAddresses(" ;, ").empty());
}

}  // namespace
}  // namespace vellum::exceptlog

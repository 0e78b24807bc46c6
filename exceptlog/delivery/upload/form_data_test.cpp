#include "exceptlog/delivery/upload/form_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "exceptlog/delivery/upload/wininet_errors.h"
#include "runtime/stream.h"

namespace vellum::exceptlog {
namespace {

class FormDataTest : public ::testing::Test {
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

TEST(FormBoundary, TwentySevenHyphensAndThreeHexNumbers) {
  const std::regex shape("-{27}[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::string boundary = NewFormBoundary();
    EXPECT_TRUE(std::regex_match(boundary, shape)) << boundary;
    // 65535 is never drawn.
    for (std::size_t at = 27; at < boundary.size(); at += 4) EXPECT_NE(boundary.substr(at, 4), "FFFF");
    seen.insert(boundary);
  }
  EXPECT_GT(seen.size(), 45u);
}

TEST_F(FormDataTest, FieldsThenFilesThenTheClosingLine) {
  const std::string log = File("form_log.elf", std::string("report\0\r\nbytes", 14));
  const std::string body = BuildFormData({log}, {"VellumDeskBand.elf"}, {"product", "build"}, {"Vellum", "7.1"}, "B");
  EXPECT_EQ(body,
            "--B\r\nContent-Disposition: form-data; name=product;\r\n\r\nVellum\r\n"
            "--B\r\nContent-Disposition: form-data; name=build;\r\n\r\n7.1\r\n"
            "--B\r\nContent-Disposition: form-data; name=el_upload_file_0; filename=VellumDeskBand.elf;\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" +
                std::string("report\0\r\nbytes", 14) +
                "\r\n"
                "--B--\r\n");
}

TEST_F(FormDataTest, FieldsPairUpToTheShorterListAndMissingFilesKeepIndexes) {
  const std::string second = File("form_second.txt", "two");
  const std::string body = BuildFormData({"", "/nonexistent/form_gone.txt", second}, {"", "gone.txt", "second.txt"},
                                         {"a", "b"}, {"1", "2", "3"}, "B");
  EXPECT_NE(body.find("name=a;\r\n\r\n1\r\n"), std::string::npos);
  EXPECT_NE(body.find("name=b;\r\n\r\n2\r\n"), std::string::npos);
  EXPECT_EQ(body.find("\r\n3\r\n"), std::string::npos);
  EXPECT_EQ(body.find("el_upload_file_0"), std::string::npos);
  EXPECT_EQ(body.find("el_upload_file_1"), std::string::npos);
  EXPECT_NE(body.find("name=el_upload_file_2; filename=second.txt;"), std::string::npos);
  EXPECT_EQ(BuildFormData({}, {}, {}, {}, "B"), "--B--\r\n");
}

TEST_F(FormDataTest, NamesBeyondTokensAreQuotedAndCannotAddParameters) {
  const std::string log = File("form_quoted.elf", "x");
  const std::string body =
      BuildFormData({log}, {"My Report; name=evil.elf"}, {"user \"name\"", "x; filename=y", ""}, {"a", "b", "c"}, "B");
  EXPECT_NE(body.find("name=\"user %22name%22\";\r\n"), std::string::npos);
  EXPECT_NE(body.find("name=\"x; filename=y\";\r\n"), std::string::npos);
  EXPECT_NE(body.find("name=\"\";\r\n"), std::string::npos);
  EXPECT_NE(body.find("name=el_upload_file_0; filename=\"My Report; name=evil.elf\";"), std::string::npos);

  // A line break in a name would end the part's headers early.
  const std::string broken = BuildFormData({}, {}, {"a\r\nContent-Type: text/html"}, {"v"}, "B");
  EXPECT_NE(broken.find("name=\"a%0D%0AContent-Type: text/html\";"), std::string::npos);
}

TEST(WinInetErrors, TableTexts) {
  EXPECT_EQ(WinInetErrorText(12029), "The attempt to connect to the server failed.");
  EXPECT_EQ(WinInetErrorText(12045),
            "The function is unfamiliar with the Certificate Authority that generated the server's certificate.");
  EXPECT_EQ(WinInetErrorText(12171), "The function failed due to a security check.");
  EXPECT_EQ(WinInetErrorText(12003), "");
  EXPECT_EQ(WinInetErrorText(-1), "");
  EXPECT_EQ(WinInetErrorText(201), "");
}

}  // namespace
}  // namespace vellum::exceptlog

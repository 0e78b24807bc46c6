#include "exceptlog/capture/web/error_page.h"

#include <gtest/gtest.h>

#include "exceptlog/capture/options/module_options.h"

namespace vellum::exceptlog {
namespace {

TEST(EscapeHtml, EveryMarkupCharacterOnceAndInItsPlace) {
  EXPECT_EQ(EscapeHtml("a < b & \"c\"\r\nd"), "a &lt; b &amp; &quot;c&quot;<br>\r\nd");
  // The entities written for one character are not escaped again.
  EXPECT_EQ(EscapeHtml("&lt; 'x' >"), "&amp;lt; &#039;x&#039; &gt;");
  EXPECT_EQ(EscapeHtml("a   b"), "a&nbsp;&nbsp; b");
  // Only the CR LF pair is a line break; a lone LF or CR stays as it is.
  EXPECT_EQ(EscapeHtml("1\n2\r3\r\n"), "1\n2\r3<br>\r\n");
  EXPECT_EQ(EscapeHtml(""), "");
}

TEST(PrepareTemplate, BlankTemplateFallsBackToTheDefaultWithATitleInFront) {
  for (const char* blank : {"", "   ", "\r\n\t \x01"}) {
    EXPECT_EQ(PrepareTemplate(blank, "Error."), std::string("<title>Error.</title>") + kDefaultHtmlTemplate);
  }
}

TEST(PrepareTemplate, TitleOnlyWhenTheTemplateHasNoneAndThePlaceholderInItsExactCase) {
  EXPECT_EQ(PrepareTemplate("<body><%html_Tag%> <%Html_Tag%></body>", "Error."),
            "<title>Error.</title><body><%HTML_TAG%> <%Html_Tag%></body>");
  EXPECT_EQ(PrepareTemplate("<TITLE>Mine</TITLE><%HTML_TAG%>", "Error."), "<TITLE>Mine</TITLE><%HTML_TAG%>");
  // A closing tag before the opening one is no title element.
  EXPECT_EQ(PrepareTemplate("</title>x<title>", "T"), "<title>T</title></title>x<title>");
}

TEST(FillErrorPage, EveryPlaceholderGetsTheMessageAndThePageItsIdentifier) {
  EXPECT_EQ(FillErrorPage("<p><%HTML_TAG%></p><%HTML_TAG%>", "1 < 2", false, "0A1B2C3D"),
            "<p>1 &lt; 2</p>1 &lt; 2<!-- DeveruVuz ID: 0A1B2C3D -->");
  EXPECT_EQ(FillErrorPage("<%HTML_TAG%>", "m", true, "X"), std::string("m") + kOkButton + PageIdComment("X"));
}

TEST(GenerateHTML, DefaultOptionsGiveTheDefaultPageUnderAFreshIdentifier) {
  TRuzadaModuleOptions options("module.exe", false);
  const std::string first = GenerateHTML(options, "Access violation <here>", false);
  const std::string id = LastErrorPageId();
  ASSERT_EQ(id.size(), 8u);
  EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  std::string expected = std::string("<title>Error.</title>") + kDefaultHtmlTemplate + PageIdComment(id);
  expected.replace(expected.find(kHtmlTag), std::string(kHtmlTag).size(), "Access violation &lt;here&gt;");
  EXPECT_EQ(first, expected);
  GenerateHTML(options, "again", false);
  EXPECT_NE(LastErrorPageId(), id);
}

TEST(ErrorDisplayPage, TheOkButtonIsThereEvenWhenTheTemplateHasNoPlaceholder) {
  TRuzadaModuleOptions options("module.exe", false);
  options.SetHtmlTemplate("<html><title>t</title>nothing to fill</html>");
  const std::string page = ErrorDisplayPage(options, "message");
  EXPECT_EQ(page.find("message"), std::string::npos);
  EXPECT_NE(page.find(kOkButton), std::string::npos);
  options.SetHtmlTemplate("<%HTML_TAG%>");
  const std::string filled = ErrorDisplayPage(options, "message");
  EXPECT_EQ(filled.find(kOkButton), filled.rfind(kOkButton)) << "one button, not two";
}

TEST(PageHeaderBlock, OnlyACgiAnswerStartsWithItsStatusLine) {
  EXPECT_EQ(PageHeaderBlock(true, 12),
            "Status: 200 Error\r\nContent-Type: text/html\r\nContent-Length: 12\r\nContent:\r\n\r\n");
  EXPECT_EQ(PageHeaderBlock(false, 0), "Content-Type: text/html\r\nContent-Length: 0\r\nContent:\r\n\r\n");
}

}  // namespace
}  // namespace vellum::exceptlog

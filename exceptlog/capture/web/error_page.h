// The error page a web-server program answers a failed request with: the
// message escaped into the page template, and the header block that goes
// before it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

class TRuzadaModuleOptions;

inline constexpr char kHtmlTag[] = "<%HTML_TAG%>";
// Takes the visitor back to the page that failed.
inline constexpr char kOkButton[] =
    "<br><input type=button value=\"Ok\" OnClick=\"history.go(-1)\" "
    "style=\"width:75;height:25;z-index:100;font-style:normal;font-size:10pt;text-decoration:none;\">";

// The message as HTML text. Ampersands go first, so that the entities the
// later replacements write are not escaped again.
std::string EscapeHtml(std::string_view message);

// The template a page is made from: `html_template`, or the default when it
// is blank (control characters count as blanks); its first placeholder
// written in any letter case is put in the exact case; a template without a
// "<title>" ... "</title>" gets a title element holding `title` in front.
std::string PrepareTemplate(std::string_view html_template, std::string_view title);

// Every placeholder of `prepared` replaced by the escaped message (with the
// OK button after it when asked), then the comment naming the page by
// `page_id` appended.
std::string FillErrorPage(std::string_view prepared, std::string_view message, bool with_ok_button,
                          std::string_view page_id);

// "<!-- DeveruVuz ID: <page_id> -->"
std::string PageIdComment(std::string_view page_id);

// The page for `message` from the options' template and title text, under
// a new random identifier, which is remembered as the last page's.
std::string GenerateHTML(const TRuzadaModuleOptions& options, std::string_view message, bool with_ok_button);
// The identifier of the last page GenerateHTML made, empty before the first.
std::string LastErrorPageId();

// The page a failed request is answered with: GenerateHTML with the OK
// button, which is appended when the template left no trace of it.
std::string ErrorDisplayPage(const TRuzadaModuleOptions& options, std::string_view message);

// The header block before the page: a CGI program's starts with its status
// line; an extension DLL's server writes the status itself.
std::string PageHeaderBlock(bool with_status_line, std::size_t page_length);

}  // namespace vellum::exceptlog

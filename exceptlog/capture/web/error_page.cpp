#include "exceptlog/capture/web/error_page.h"

#include <cstdio>
#include <mutex>
#include <random>

#include "exceptlog/capture/options/module_options.h"
#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

std::mutex page_id_lock;
std::string last_page_id;

std::string NewPageId() {
  static std::mt19937 generator{std::random_device{}()};
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(generator()));
  return text;
}

bool IsBlankTemplate(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

bool HasTitleElement(std::string_view html_template) {
  const std::string lower = LowerCase(html_template);
  const std::size_t open = lower.find("<title>");
  return open != std::string::npos && lower.find("</title>", open) != std::string::npos;
}

}  // namespace

std::string EscapeHtml(std::string_view message) {
  std::string text(message);
  text = StringReplace(text, "&", "&amp;", rfReplaceAll);
  text = StringReplace(text, "\"", "&quot;", rfReplaceAll);
  text = StringReplace(text, "'", "&#039;", rfReplaceAll);
  text = StringReplace(text, "<", "&lt;", rfReplaceAll);
  text = StringReplace(text, ">", "&gt;", rfReplaceAll);
  text = StringReplace(text, "  ", "&nbsp;&nbsp;", rfReplaceAll);
  return StringReplace(text, "\r\n", "<br>\r\n", rfReplaceAll);
}

std::string PrepareTemplate(std::string_view html_template, std::string_view title) {
  std::string prepared(IsBlankTemplate(html_template) ? std::string_view(kDefaultHtmlTemplate) : html_template);
  const std::size_t tag = LowerCase(prepared).find(LowerCase(kHtmlTag));
  if (tag != std::string::npos) prepared.replace(tag, std::char_traits<char>::length(kHtmlTag), kHtmlTag);
  if (!HasTitleElement(prepared)) prepared = "<title>" + std::string(title) + "</title>" + prepared;
  return prepared;
}

std::string PageIdComment(std::string_view page_id) {
  return "<!-- DeveruVuz ID: " + std::string(page_id) + " -->";
}

std::string FillErrorPage(std::string_view prepared, std::string_view message, bool with_ok_button,
                          std::string_view page_id) {
  std::string body = EscapeHtml(message);
  if (with_ok_button) body += kOkButton;
  return StringReplace(prepared, kHtmlTag, body, rfReplaceAll) + PageIdComment(page_id);
}

std::string GenerateHTML(const TRuzadaModuleOptions& options, std::string_view message, bool with_ok_button) {
  const std::string prepared = PrepareTemplate(options.HtmlTemplate(), options.GetText(kTextDialogCaption));
  std::string page_id;
  {
    const std::lock_guard guard(page_id_lock);
    page_id = NewPageId();
    last_page_id = page_id;
  }
  return FillErrorPage(prepared, message, with_ok_button, page_id);
}

std::string LastErrorPageId() {
  const std::lock_guard guard(page_id_lock);
  return last_page_id;
}

std::string ErrorDisplayPage(const TRuzadaModuleOptions& options, std::string_view message) {
  std::string page = GenerateHTML(options, message, true);
  if (LowerCase(page).find(LowerCase(kOkButton)) == std::string::npos) page += kOkButton;
  return page;
}

std::string PageHeaderBlock(bool with_status_line, std::size_t page_length) {
  std::string block = with_status_line ? "Status: 200 Error\r\n" : "";
  block += "Content-Type: text/html\r\n";
  block += "Content-Length: " + std::to_string(page_length) + "\r\n";
  block += "Content:\r\n\r\n";
  return block;
}

}  // namespace vellum::exceptlog

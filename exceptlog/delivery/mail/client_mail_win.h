// Handing a report to the user's own mail program: through the default mail
// client's Simple MAPI library, or, when that fails, as a mailto: URL given
// to the program registered for the mailto protocol.
#pragma once

#include <string>

#include "exceptlog/delivery/mail/mail_message.h"

namespace vellum::exceptlog {

struct TClientMail {
  std::string Addresses;  // separated by "," or ";"
  std::string Subject;
  std::string Body;
  MailAttachments Attachments;
  bool ShowDialog = false;  // the client shows its compose window
};

// True when the client took the message or its user cancelled the compose
// window; otherwise false with an eeEmailMAPIError recorded.
bool SendMailMAPI(const TClientMail& mail);
// Starts the mailto command, brings its window to the top and waits for the
// program to end; false with an eeEmailShellError recorded when it cannot
// start. The body is followed by the report text.
bool SendMailShell(const std::string& addresses, const std::string& subject, const std::string& body,
                   const std::string& report_text);

}  // namespace vellum::exceptlog

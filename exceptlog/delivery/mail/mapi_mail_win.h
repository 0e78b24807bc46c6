// Handing a report to the user's own mail program through the default mail
// client's Simple MAPI library.
#pragma once

#include <string>

#include "exceptlog/delivery/delivery_error.h"
#include "exceptlog/delivery/mail/mail_message.h"

namespace vellum::exceptlog {

struct TClientMail {
  std::string Addresses;  // separated by "," or ";"
  std::string Subject;
  std::string Body;
  MailAttachments Attachments;
  bool ShowDialog = false;   // the client shows its compose window
  DeliveryWarningSink Warn;  // told of an eeEmailMAPIError
};

// True when the client took the message or its user cancelled the compose
// window; otherwise false with an eeEmailMAPIError told to `mail.Warn`.
bool SendMailMAPI(const TClientMail& mail);

}  // namespace vellum::exceptlog

// Sending a report through an SMTP server, one dialogue per recipient,
// either to a configured server or straight to each recipient's mail
// exchanger (found by mx_lookup_win.h). A server that offers STARTTLS gets
// the rest of the dialogue inside TLS, and the implicit-TLS port gets TLS
// from the first byte; a server that offered TLS never gets clear text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/delivery/delivery_error.h"
#include "exceptlog/delivery/mail/mail_message.h"

namespace vellum::exceptlog {

// What the send dialog is told; every hook is optional (no dialog shown).
struct TMailProgressHooks {
  std::function<void(const std::string& text)> SetStatus;
  std::function<void(int position)> SetPosition;  // 0 to 100
  std::function<void(int current, int total)> SetCount;
  std::function<void()> Close;
};

// The port on which a server speaks TLS from the first byte.
inline constexpr std::uint16_t kImplicitTlsPort = 465;

struct TSmtpMessage {
  std::string From;
  std::string Host;
  std::uint16_t Port = 25;
  std::string UserID;
  std::string Password;
  std::string Subject;
  std::string Body;
  MailAttachments Attachments;
};

struct TSmtpSession {
  TMailProgressHooks Progress;
  TCustomizedTexts Texts = DefaultCustomizedTexts();
  std::uint32_t ReplyTimeout = 30000;
  // The MX lookup's timeout, from which its pass limits follow.
  std::uint32_t ResolveTimeout = 30000;
  // Empty: the system's DNS servers and the fixed fall-back.
  std::vector<std::string> DnsServers;
  DeliveryWarningSink Warn;  // told of each failed dialogue (eeEmailSMTPError)
  // Not an option: tests point it at the port of their own TLS listener.
  std::uint16_t ImplicitTlsPort = kImplicitTlsPort;
};

// One dialogue for one recipient; false, with the failure told to
// `session.Warn`, when it fails.
bool SendSMTPMessage(const TSmtpMessage& message, const std::string& to_address, const TSmtpSession& session = {});
// Every recipient of a "," or ";" separated list in turn; true when any
// dialogue succeeded. With `direct` each recipient's mail exchanger is the
// server; a domain without one ends the loop.
bool SendSMTPMail(bool direct, const TSmtpMessage& message, const std::string& to_addresses,
                  const TSmtpSession& session = {});

}  // namespace vellum::exceptlog

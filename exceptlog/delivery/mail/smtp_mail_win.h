// Sending a report through an SMTP server, one dialogue per recipient,
// either to a configured server or straight to each recipient's mail
// exchanger; and the MX lookup that direct delivery needs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/delivery/mail/mail_message.h"

namespace vellum::exceptlog {

// What the send dialog is told; every hook is optional (no dialog shown).
struct TMailProgressHooks {
  std::function<void(const std::string& text)> SetStatus;
  std::function<void(int position)> SetPosition;  // 0 to 100
  std::function<void(int current, int total)> SetCount;
  std::function<void()> Close;
};

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
};

// One dialogue for one recipient; false, with the last delivery error
// recorded, when it fails.
bool SendSMTPMessage(const TSmtpMessage& message, const std::string& to_address, const TSmtpSession& session = {});
// Every recipient of a "," or ";" separated list in turn; true when any
// dialogue succeeded. With `direct` each recipient's mail exchanger is the
// server; a domain without one ends the loop.
bool SendSMTPMail(bool direct, const TSmtpMessage& message, const std::string& to_addresses,
                  const TSmtpSession& session = {});

inline constexpr const char* kFallbackDnsServer = "9.9.9.9";

// The system's DNS servers, then the fixed fall-back, so never empty.
std::vector<std::string> GetDNSServers();
// Raises ERuzadaSocketError "Cannot resolve the "<domain>" MX record."
std::string ResolveMXHost(const std::string& address, std::uint32_t timeout,
                          const std::vector<std::string>& servers = {});

}  // namespace vellum::exceptlog

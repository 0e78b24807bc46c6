#include "exceptlog/delivery/mail/smtp_mail_win.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exceptlog/common/codec/base64.h"
#include "exceptlog/delivery/mail/mx_lookup_win.h"
#include "exceptlog/delivery/mail/smtp_client_win.h"
#include "exceptlog/delivery/mail/smtp_reply.h"
#include "runtime/win/file_time_value_win.h"

namespace vellum::exceptlog {
namespace {

void Status(const TSmtpSession& session, int text) {
  if (session.Progress.SetStatus) session.Progress.SetStatus(session.Texts[text]);
}

std::string LocalHostName() {
  char name[250] = {};
  gethostname(name, sizeof name - 1);
  return std::string(name, strnlen(name, sizeof name));
}

std::int64_t FileTimeMinutes(const SYSTEMTIME& time) {
  FILETIME file_time{};
  SystemTimeToFileTime(&time, &file_time);
  return static_cast<std::int64_t>(win::FileTimeValue(file_time)) / 600000000;
}

MailHeaderFields Headers(const TSmtpMessage& message, const std::string& to_address) {
  SYSTEMTIME local{};
  SYSTEMTIME utc{};
  GetLocalTime(&local);
  GetSystemTime(&utc);
  MailHeaderFields headers;
  headers.Date = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
  headers.UtcOffsetMinutes = static_cast<int>(FileTimeMinutes(local) - FileTimeMinutes(utc));
  headers.From = message.From;
  headers.Subject = message.Subject;
  headers.To = to_address;
  headers.TickCount = GetTickCount();
  return headers;
}

// Closing the dialogue politely on every path, the failing ones included.
class QuitOnExit {
 public:
  explicit QuitOnExit(TRuzadaClientSMTP& client) : client_(client) {}
  ~QuitOnExit() { client_.Quit(); }
  QuitOnExit(const QuitOnExit&) = delete;
  QuitOnExit& operator=(const QuitOnExit&) = delete;

 private:
  TRuzadaClientSMTP& client_;
};

void Command(TRuzadaClientSMTP& client, std::string command, std::initializer_list<std::uint16_t> codes,
             const char* empty_message, std::string_view transcript_text = {}) {
  if (!client.SendCommand(std::move(command), codes, transcript_text)) {
    throw ERuzadaSocketError(empty_message);
  }
}

// EHLO, or HELO for a server without extensions when there is nothing to
// log in with; whether the server offers STARTTLS.
bool Greet(TRuzadaClientSMTP& client, const std::string& host_name, bool logs_in) {
  const std::string ehlo = "EHLO " + host_name;
  if (logs_in) {
    Command(client, ehlo, {250}, "Empty EHLO command.");
  } else if (!client.SendCommand(ehlo, {250, 500, 502}, {})) {
    throw ERuzadaSocketError("Empty EHLO command.");
  } else if (SmtpReplyCode(client.LastReply) != 250u) {
    Command(client, "HELO " + host_name, {250}, "Empty HELO command.");
    return false;
  }
  return SmtpReplyOffers(client.LastReply, "STARTTLS");
}

void RunDialogue(const TSmtpMessage& message, const std::string& to_address, const TSmtpSession& session) {
  Status(session, kTextSendConnecting);
  TRuzadaClientSMTP client(message.Host, message.Port, session.ReplyTimeout);
  client.ImplicitTls = message.Port == session.ImplicitTlsPort;
  const std::string user = Base64FromText(message.UserID);
  const std::string password = Base64FromText(message.Password);
  client.HideInTranscript(user);
  client.HideInTranscript(password);
  // The message is built a piece at a time while each reply before DATA is
  // on its way: the server's turns cover the time its files take to read
  // and encode.
  MailDataBuilder data(Headers(message, to_address), message.Body, message.Attachments);
  client.WhileWaiting = [&data] { data.Step(); };
  client.Open();
  const QuitOnExit quit(client);
  client.ReadGreeting();
  Status(session, kTextSendConnected);
  const std::string host_name = LocalHostName();
  const bool logs_in = !message.UserID.empty() || !message.Password.empty();
  if (Greet(client, host_name, logs_in) && !client.Secure()) {
    client.UpgradeToTls();
    // What the server said before TLS counts for nothing now (RFC 3207).
    Greet(client, host_name, logs_in);
  }
  // A server that takes commands pipelined gets the envelope and DATA in
  // one round trip, and QUIT with the message: three round trips fewer.
  const bool pipelining = SmtpReplyOffers(client.LastReply, "PIPELINING");
  // No RSET: on a connection of its own there is no transaction to reset,
  // and each command costs a round trip.
  if (logs_in) {
    Command(client, "AUTH LOGIN", {334}, "Empty AUTH command.");
    // Base64 hides nothing: the transcript, which error messages show, gets
    // neither credential.
    Command(client, user, {334}, "Cannot log in to the SMTP server: the user name is empty.", "<user name>");
    Command(client, password, {235}, "Cannot log in to the SMTP server: the password is empty.", "<password>");
  }
  const std::string mail_from = "MAIL FROM:<" + message.From + ">";
  const std::string rcpt_to = "RCPT TO:<" + to_address + ">";
  if (pipelining) {
    client.SendPipelined({{mail_from, {250}, {}}, {rcpt_to, {250, 251}, {}}, {"DATA", {354}, {}}});
    Status(session, kTextSendSending);
  } else {
    Command(client, mail_from, {250}, "Empty MAIL command.");
    Status(session, kTextSendSending);
    Command(client, rcpt_to, {250, 251}, "Empty RCPT command.");
    Command(client, "DATA", {354}, "Empty DATA command.");
  }
  if (session.Progress.SetPosition) {
    client.OnSent = [&session](TRuzadaClientSocket&, std::size_t position, std::size_t total) {
      session.Progress.SetPosition(static_cast<int>(static_cast<std::uint64_t>(position) * 100 / total));
    };
  }
  client.WhileWaiting = nullptr;
  std::string data_text = data.Take();
  // The transcript, which error messages show, names the message instead
  // of holding it all.
  std::string data_line = "<the message, " + std::to_string(data_text.size()) + " bytes>";
  if (pipelining) {
    // Not a braced list: that would copy the message.
    std::vector<SmtpCommand> message_text(1);
    message_text.front() = {std::move(data_text), {250}, std::move(data_line)};
    client.SendPipelined(std::move(message_text), /*then_quit=*/true);
  } else {
    Command(client, std::move(data_text), {250}, "Empty message text.", data_line);
  }
  client.OnSent = nullptr;
}

}  // namespace

bool SendSMTPMessage(const TSmtpMessage& message, const std::string& to_address, const TSmtpSession& session) {
  try {
    RunDialogue(message, to_address, session);
    return true;
  } catch (...) {
    TellSectionError(session.Warn, eeEmailSMTPError, "SMTP", std::current_exception());
    return false;
  }
}

bool SendSMTPMail(bool direct, const TSmtpMessage& message, const std::string& to_addresses,
                  const TSmtpSession& session) {
  const std::vector<std::string> addresses = SplitMailAddresses(to_addresses);
  const auto total = static_cast<int>(addresses.size());
  bool any_sent = false;
  try {
    for (int index = 0; index < total; ++index) {
      if (session.Progress.SetPosition) session.Progress.SetPosition(0);
      if (session.Progress.SetCount) session.Progress.SetCount(index + 1, total);
      TSmtpMessage to_one = message;
      if (direct) {
        Status(session, kTextSendResolving);
        to_one.Host = ResolveMXHost(addresses[index], session.ResolveTimeout, session.DnsServers);
      }
      if (SendSMTPMessage(to_one, addresses[index], session)) any_sent = true;
    }
  } catch (...) {
    TellSectionError(session.Warn, eeEmailSMTPError, "SMTP", std::current_exception());
    any_sent = false;
  }
  if (session.Progress.Close) session.Progress.Close();
  return any_sent;
}

}  // namespace vellum::exceptlog

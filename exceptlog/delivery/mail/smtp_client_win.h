// A minimal blocking TCP/UDP client over Winsock 1.1, which a stream can
// upgrade to TLS, and the SMTP dialogue on top of it. Each object serves one
// dialogue; its transcript (`Log`) goes into every error message so that a
// failed delivery says what the server answered.
#pragma once

#include <winsock.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(ERuzadaSocketError, Exception);

class TlsChannel;

// Holds Winsock started while any user lives.
class WinsockUse {
 public:
  WinsockUse();
  ~WinsockUse();
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;
};

class TRuzadaClientSocket {
 public:
  using ErrorEvent = std::function<void(TRuzadaClientSocket& sender, int code, const std::string& message)>;
  using SentEvent = std::function<void(TRuzadaClientSocket& sender, std::size_t position, std::size_t total)>;

  TRuzadaClientSocket(std::string host, std::uint16_t port, bool stream, std::uint32_t timeout);
  virtual ~TRuzadaClientSocket();
  TRuzadaClientSocket(const TRuzadaClientSocket&) = delete;
  TRuzadaClientSocket& operator=(const TRuzadaClientSocket&) = delete;

  virtual void Connect();
  virtual void Disconnect();

  // TLS from here on, with the server's certificate checked against Host.
  // A failure closes the connection without another byte, in clear or
  // not, and raises with the transcript.
  void StartTls();
  bool Secure() const { return tls_ != nullptr; }
  // Replaced in every error message by "<hidden>", wherever it shows (a
  // server may quote a line it did not understand).
  void HideInTranscript(std::string secret);

  int SendBuffer(const void* data, int length);
  std::size_t SendText(const std::string& text);
  // The next reply: waits up to Timeout for its first bytes and returns as
  // soon as it is whole (or, when wholeness cannot be told, after a quiet
  // period); empty when nothing came or the server closed.
  void WaitReply(std::string& text);
  void ReadReply(std::string& text);

  sockaddr_in Address{};
  std::string Host;
  std::uint16_t Port = 0;
  int SocketType = SOCK_STREAM;
  std::uint32_t Timeout = 0;
  bool Connected = false;
  SOCKET Handle = INVALID_SOCKET;
  std::string Log;
  ErrorEvent OnError;
  SentEvent OnSent;
  // Work to do while a reply is on its way: called once as each wait for
  // a reply begins, after the command has gone out.
  std::function<void()> WhileWaiting;
  bool QuietErrors = false;

 protected:
  // Formats the message with the transcript, tells OnError, and raises.
  [[noreturn]] void RaiseError(std::string message);
  [[noreturn]] void RaiseSocketError(const char* format);
  // The length of the whole reply `text` starts with, or 0 while that
  // cannot be told: a known end ends the read at once, instead of after a
  // quiet second, and leaves what follows for the next reply. A datagram
  // is always whole.
  virtual std::size_t WholeReplyLength(const std::string& text) const;
  // Whether WholeReplyLength always tells a reply's end once it has come.
  virtual bool ReplyEndIsKnown() const { return false; }
  // Whether a whole reply has been read already, with the one before it.
  bool ReplyWaiting() const { return WholeReplyLength(unread_) != 0; }
  // The stream's own receive timeout: a read of a reply waits by itself
  // when its wait is this long (under Wine each wait before a read is a
  // round through its server).
  void SetReceiveTimeout(std::uint32_t milliseconds);

 private:
  // Waits at most `milliseconds` and appends one read's bytes to `text` and
  // the transcript; false when none came.
  bool ReceiveSome(std::string& text, DWORD milliseconds);
  // Closes the connection at once, keeping the transcript for the message.
  void Abandon();

  WinsockUse winsock_;
  std::unique_ptr<TlsChannel> tls_;
  std::vector<std::string> secrets_;
  // What a read brought beyond the reply it was for: the start of the next.
  std::string unread_;
  bool peer_closed_ = false;
  // The stream's own receive timeout in ms (SO_RCVTIMEO), 0 when none.
  std::uint32_t receive_timeout_ = 0;
};

// One command of a pipelined group.
struct SmtpCommand {
  std::string Line;  // without its line end
  // The reply codes that let the dialogue go on.
  std::vector<std::uint16_t> Codes;
  // Shown in Log instead of the line, when set.
  std::string TranscriptText;
};

class TRuzadaClientSMTP : public TRuzadaClientSocket {
 public:
  TRuzadaClientSMTP(std::string host, std::uint16_t port, std::uint32_t timeout)
      : TRuzadaClientSocket(std::move(host), port, true, timeout) {}

  // Connects and expects the 220 greeting; with ImplicitTls the greeting
  // already comes inside TLS.
  void Connect() override;
  // Connect in two halves, for a caller with work to do while the greeting
  // is on its way: the connection, then TLS (when implicit) and the greeting.
  void Open() { TRuzadaClientSocket::Connect(); }
  void ReadGreeting();
  // STARTTLS, then TLS; a refusal raises and sends nothing more.
  void UpgradeToTls();
  bool CheckReply(std::initializer_list<std::uint16_t> codes);
  // Sends one command line and checks its reply; false (nothing sent) for an
  // empty command. `transcript_text` replaces the line in `Log` when the
  // line must not be shown (credentials).
  bool SendCommand(std::string command, std::initializer_list<std::uint16_t> codes,
                   std::string_view transcript_text = {});
  // For a server that offers PIPELINING (RFC 2920): the commands go out in
  // one write and their replies are read in turn, one round trip for all.
  // Every reply is read before the first one not expected raises with the
  // transcript; a DATA that a failed group still got 354 for is ended with
  // an empty message first. With `then_quit` QUIT goes in the same write,
  // and Quit only waits for its reply.
  void SendPipelined(std::vector<SmtpCommand> commands, bool then_quit = false);
  // "QUIT" and a short wait for its reply, whatever the state; nothing raised.
  void Quit();

  bool ImplicitTls = false;
  // The reply CheckReply read last.
  std::string LastReply;

 protected:
  // An SMTP reply ends with its final line: the code, then a blank or the
  // line end (continuation lines have a hyphen after the code).
  std::size_t WholeReplyLength(const std::string& text) const override;
  bool ReplyEndIsKnown() const override;

 private:
  bool quit_sent_ = false;
};

}  // namespace vellum::exceptlog

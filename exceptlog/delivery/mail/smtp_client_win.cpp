#include "exceptlog/delivery/mail/smtp_client_win.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "exceptlog/delivery/mail/smtp_reply.h"
#include "exceptlog/delivery/mail/socket_wait_win.h"
#include "exceptlog/delivery/mail/tls_channel_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {
namespace {

// Each send is a round through the system's socket layer (under Wine, its
// server): 256 KB pieces send most reports in one or two, and still move
// the progress of a large one.
constexpr std::size_t kSendChunk = 256 * 1024;
// The most one read takes: a whole datagram, or a reply and more.
constexpr std::size_t kReadSize = 65536;
constexpr DWORD kQuietPeriod = 1000;
constexpr DWORD kQuitWait = 2000;
constexpr char kHidden[] = "<hidden>";

std::mutex winsock_lock;
int winsock_users = 0;

std::string Formatted(const char* format, const std::string& argument) {
  const int size = std::snprintf(nullptr, 0, format, argument.c_str());
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, argument.c_str());
  text.resize(static_cast<std::size_t>(size));
  return text;
}

}  // namespace

WinsockUse::WinsockUse() {
  const std::lock_guard guard(winsock_lock);
  if (winsock_users == 0) {
    WSADATA data{};
    if (const int result = WSAStartup(0x0101, &data); result != 0) {
      throw ERuzadaSocketError("Critical error at: ESockets.Init - " + win::SystemErrorMessage(result));
    }
  }
  ++winsock_users;
}

WinsockUse::~WinsockUse() {
  const std::lock_guard guard(winsock_lock);
  if (--winsock_users == 0) WSACleanup();
}

TRuzadaClientSocket::TRuzadaClientSocket(std::string host, std::uint16_t port, bool stream, std::uint32_t timeout)
    : Host(std::move(host)), Port(port), SocketType(stream ? SOCK_STREAM : SOCK_DGRAM), Timeout(timeout) {
  Address.sin_family = AF_INET;
}

TRuzadaClientSocket::~TRuzadaClientSocket() {
  if (Handle == INVALID_SOCKET) return;
  try {
    Disconnect();
  } catch (...) {
    // A destructor cannot report; the handle is closed all the same.
  }
  if (Handle != INVALID_SOCKET) closesocket(Handle);
}

void TRuzadaClientSocket::RaiseError(std::string message) {
  if (message.find(Log) == std::string::npos) message += "\r\nSocket log:\r\n" + Log;
  for (const std::string& secret : secrets_) {
    for (std::size_t at = message.find(secret); at != std::string::npos; at = message.find(secret, at)) {
      message.replace(at, secret.size(), kHidden);
    }
  }
  if (OnError) OnError(*this, -1, message);
  if (QuietErrors) throw EAbort(message);
  throw ERuzadaSocketError(message);
}

void TRuzadaClientSocket::RaiseSocketError(const char* format) {
  RaiseError(Formatted(format, win::SystemErrorMessage(static_cast<DWORD>(WSAGetLastError()))));
}

void TRuzadaClientSocket::Connect() {
  if (Connected) return;
  Handle = socket(AF_INET, SocketType, 0);
  if (Handle == INVALID_SOCKET) RaiseSocketError("Invalid socket: \"%s\".");
  // An address in numbers needs no lookup. A failed lookup leaves 0.0.0.0,
  // which connect then reports.
  Address.sin_addr.s_addr = inet_addr(Host.c_str());
  if (Address.sin_addr.s_addr == INADDR_NONE) {
    Address.sin_addr.s_addr = 0;
    if (const hostent* entry = gethostbyname(Host.c_str());
        entry != nullptr && entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr) {
      std::memcpy(&Address.sin_addr, entry->h_addr_list[0], sizeof Address.sin_addr);
    }
  }
  Address.sin_port = htons(Port);
  // A new socket blocks: no call is spent saying so (under Wine each one is
  // a round through its server).
  if (SocketType == SOCK_STREAM) {
    // The message's last short segment would otherwise wait for the
    // server's delayed acknowledgement of the one before it.
    const BOOL no_delay = TRUE;
    setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
    // A timed-out read leaves a stream in no known state: it is only ever
    // the end of the dialogue (ReadReply raises).
    SetReceiveTimeout(Timeout);
  }
  if (connect(Handle, reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
    RaiseSocketError("Connection error: \"%s\"");
  }
  Connected = Handle != INVALID_SOCKET;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&Address.sin_addr);
  char line[64];
  std::snprintf(line, sizeof line, "Connected to %d.%d.%d.%d port %d\r\n", bytes[0], bytes[1], bytes[2], bytes[3],
                Port);
  Log = line;
}

void TRuzadaClientSocket::SetReceiveTimeout(std::uint32_t milliseconds) {
  receive_timeout_ = 0;
  const DWORD timeout = milliseconds;
  if (milliseconds != 0 &&
      setsockopt(Handle, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout) == 0) {
    receive_timeout_ = milliseconds;
  }
}

void TRuzadaClientSocket::HideInTranscript(std::string secret) {
  if (!secret.empty()) secrets_.push_back(std::move(secret));
}

void TRuzadaClientSocket::StartTls() {
  // Whatever came in clear after the server agreed to TLS is no part of
  // the dialogue inside it: a reply injected on the way must not be taken
  // for the server's.
  unread_.clear();
  try {
    tls_ = std::make_unique<TlsChannel>(Handle, Host, Timeout, receive_timeout_ != 0 && receive_timeout_ == Timeout);
  } catch (const Exception& failure) {
    Abandon();
    RaiseError("TLS with " + Host + " failed: " + failure.Message());
  }
  Log += "<" + tls_->Protocol() + " with " + Host + ", certificate checked>\r\n";
}

void TRuzadaClientSocket::Abandon() {
  tls_.reset();
  const std::string log = Log;
  if (Handle != INVALID_SOCKET) closesocket(Handle);
  Handle = INVALID_SOCKET;
  Disconnect();
  Log = log;
}

void TRuzadaClientSocket::Disconnect() {
  if (tls_) {
    tls_->Close();
    tls_.reset();
  }
  if (Handle != INVALID_SOCKET && closesocket(Handle) != 0) RaiseSocketError("Cannot close the socket: \"%s\"");
  Handle = INVALID_SOCKET;
  Address.sin_addr.s_addr = 0;
  Address.sin_port = 0;
  Connected = false;
  peer_closed_ = false;
  receive_timeout_ = 0;
  unread_.clear();
  Log.clear();
}

int TRuzadaClientSocket::SendBuffer(const void* data, int length) {
  if (!Connected) return 0;
  if (tls_) {
    try {
      tls_->Send(static_cast<const char*>(data), static_cast<std::size_t>(length));
    } catch (const Exception& failure) {
      Abandon();
      RaiseError("TLS with " + Host + " failed: " + failure.Message());
    }
    return length;
  }
  const int sent = send(Handle, static_cast<const char*>(data), length, 0);
  if (sent == SOCKET_ERROR) {
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK) return -1;  // not an error on a blocking socket
    const std::string log = Log;
    Disconnect();
    Log = log;  // the message still shows what was said
    WSASetLastError(code);
    if (code != 0) RaiseSocketError("Error into \"send\": \"%s\"");
  }
  return sent;
}

std::size_t TRuzadaClientSocket::SendText(const std::string& text) {
  std::size_t total = 0;
  while (total < text.size()) {
    const std::size_t length = std::min(kSendChunk, text.size() - total);
    const int sent = SendBuffer(text.data() + total, static_cast<int>(length));
    if (sent <= 0) break;
    total += static_cast<std::size_t>(sent);
    if (OnSent) OnSent(*this, total + 1, text.size());
  }
  return total;
}

bool TRuzadaClientSocket::ReceiveSome(std::string& text, DWORD milliseconds) {
  if (!Connected || peer_closed_) return false;
  const std::size_t before = text.size();
  if (tls_) {
    try {
      const std::size_t ready = tls_->Wait(milliseconds);
      if (ready == 0) {
        peer_closed_ = tls_->PeerClosed();
        return false;
      }
      text.resize(before + ready);
      tls_->Read(text.data() + before, ready);
    } catch (const Exception& failure) {
      Abandon();
      RaiseError("TLS with " + Host + " failed: " + failure.Message());
    }
  } else {
    if (!ReadableWithin(Handle, milliseconds, receive_timeout_)) return false;
    // A datagram larger than the room would be cut, so the room holds the largest.
    text.resize(before + kReadSize);
    const int received = recv(Handle, text.data() + before, static_cast<int>(kReadSize), 0);
    text.resize(before + static_cast<std::size_t>(std::max(received, 0)));
    if (received == SOCKET_ERROR) {
      const int code = WSAGetLastError();
      if (code == WSAEWOULDBLOCK || code == WSAETIMEDOUT) return false;
      const std::string log = Log;
      Disconnect();
      Log = log;
      WSASetLastError(code);
      if (code != 0) RaiseSocketError("Error into \"recv\": \"%s\"");
      return false;
    }
    if (received == 0) {
      // The server closed: nothing more will come, and waiting for it would
      // only spend the timeout.
      peer_closed_ = SocketType == SOCK_STREAM;
      return false;
    }
  }
  Log.append(text, before);
  return true;
}

void TRuzadaClientSocket::WaitReply(std::string& text) {
  // A read may have brought this reply already, with the one before it.
  text = std::move(unread_);
  unread_.clear();
  if (WhileWaiting) WhileWaiting();
  const DWORD start = GetTickCount();
  for (;;) {
    if (const std::size_t whole = WholeReplyLength(text); whole != 0) {
      unread_.assign(text, whole, std::string::npos);
      text.resize(whole);
      return;
    }
    // The first bytes may take the whole timeout. The rest of a reply whose
    // end can be told is read as it comes, each piece within the socket's
    // own timeout (a read that waits by itself), while the reply's time
    // lasts: a server that drips its bytes is not waited for without end.
    // A reply whose end cannot be told ends after a quiet period.
    const DWORD elapsed = GetTickCount() - start;
    DWORD limit = kQuietPeriod;
    if (text.empty() || ReplyEndIsKnown()) {
      if (elapsed >= Timeout) return;
      limit = text.empty() || receive_timeout_ == 0 ? Timeout - elapsed : receive_timeout_;
    }
    if (!ReceiveSome(text, limit)) return;
  }
}

void TRuzadaClientSocket::ReadReply(std::string& text) {
  WaitReply(text);
  // The first lines of a reply are not the reply: its code may change in
  // its last.
  if (text.empty() || (ReplyEndIsKnown() && WholeReplyLength(text) == 0)) {
    RaiseError(peer_closed_ ? "The server closed the connection." : "Socket timeout.");
  }
}

std::size_t TRuzadaClientSocket::WholeReplyLength(const std::string& text) const {
  return SocketType == SOCK_DGRAM ? text.size() : 0;
}

void TRuzadaClientSMTP::Connect() {
  Open();
  ReadGreeting();
}

void TRuzadaClientSMTP::ReadGreeting() {
  if (ImplicitTls) StartTls();
  if (!CheckReply({220})) RaiseError(Log);
}

void TRuzadaClientSMTP::UpgradeToTls() {
  const std::string command = "STARTTLS\r\n";
  if (SendText(command) == command.size()) {
    Log += command;
    if (CheckReply({220})) {
      StartTls();
      return;
    }
  }
  // Clear text is no way round a server that offered TLS.
  RaiseError("The server offered STARTTLS but did not start TLS.");
}

bool TRuzadaClientSMTP::CheckReply(std::initializer_list<std::uint16_t> codes) {
  ReadReply(LastReply);
  const std::optional<unsigned long> code = SmtpReplyCode(LastReply);
  return code && std::find(codes.begin(), codes.end(), *code) != codes.end();
}

bool TRuzadaClientSMTP::SendCommand(std::string command, std::initializer_list<std::uint16_t> codes,
                                    std::string_view transcript_text) {
  if (command.empty()) return false;
  if (command.size() < 2 || command.compare(command.size() - 2, 2, "\r\n") != 0) command += "\r\n";
  const bool written = SendText(command) == command.size();
  if (written) {
    Log += transcript_text.empty() ? command : std::string(transcript_text) + "\r\n";
    if (CheckReply(codes)) return true;
  }
  RaiseError(Log);
}

void TRuzadaClientSMTP::SendPipelined(std::vector<SmtpCommand> commands, bool then_quit) {
  if (commands.empty()) return;
  std::string transcript;
  for (const SmtpCommand& command : commands) {
    transcript += command.TranscriptText.empty() ? command.Line : command.TranscriptText;
    transcript += "\r\n";
  }
  // The first line may be a whole message: it is moved, not copied.
  std::string text = std::move(commands.front().Line);
  text += "\r\n";
  for (std::size_t index = 1; index < commands.size(); ++index) {
    text += commands[index].Line;
    text += "\r\n";
  }
  if (then_quit) {
    text += "QUIT\r\n";
    transcript += "QUIT\r\n";
  }
  if (SendText(text) != text.size()) RaiseError(Log);
  Log += transcript;
  quit_sent_ = then_quit;
  bool accepted = true;
  for (const SmtpCommand& command : commands) {
    ReadReply(LastReply);
    const std::optional<unsigned long> code = SmtpReplyCode(LastReply);
    accepted = accepted && code && std::find(command.Codes.begin(), command.Codes.end(), *code) != command.Codes.end();
  }
  if (accepted) return;
  if (SmtpReplyCode(LastReply) == 354u) {
    // The server waits for a message all the same: an empty one keeps the
    // dialogue in step (a server without a recipient refuses it).
    if (SendText(".\r\n") == 3) {
      Log += ".\r\n";
      std::string reply;
      WaitReply(reply);
    }
  }
  RaiseError(Log);
}

void TRuzadaClientSMTP::Quit() {
  WhileWaiting = nullptr;  // nothing more to prepare
  if (!Connected) return;
  try {
    if (!quit_sent_) {
      if (SendText("QUIT\r\n") != 6) return;
      Log += "QUIT\r\n";
    }
    quit_sent_ = false;
    std::string reply;
    if (ReplyWaiting()) {
      WaitReply(reply);  // it came with the reply before it: no wait
      return;
    }
    const std::uint32_t timeout = Timeout;
    Timeout = std::min<std::uint32_t>(Timeout, kQuitWait);
    SetReceiveTimeout(Timeout);
    WaitReply(reply);
    Timeout = timeout;
  } catch (...) {
    // The message has been accepted already; a lost QUIT changes nothing.
  }
}

bool TRuzadaClientSMTP::ReplyEndIsKnown() const {
  return true;
}

std::size_t TRuzadaClientSMTP::WholeReplyLength(const std::string& text) const {
  return SmtpReplyLength(text);
}

}  // namespace vellum::exceptlog

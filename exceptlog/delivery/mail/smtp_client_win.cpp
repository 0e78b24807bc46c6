#include "exceptlog/delivery/mail/smtp_client_win.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "exceptlog/delivery/mail/smtp_reply.h"
#include "exceptlog/delivery/mail/tls_channel_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {
namespace {

constexpr int kWouldBlock = 10035;  // WSAEWOULDBLOCK: not an error on a blocking socket
// Each send is a round through the system's socket layer (under Wine, its
// server): 64 KB pieces send a report in a few, and still move the progress.
constexpr std::size_t kSendChunk = 65536;
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
  // A failed lookup leaves 0.0.0.0, which connect then reports.
  if (const hostent* entry = gethostbyname(Host.c_str());
      entry != nullptr && entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr) {
    std::memcpy(&Address.sin_addr, entry->h_addr_list[0], sizeof Address.sin_addr);
  }
  Address.sin_port = htons(Port);
  u_long blocking = 0;
  ioctlsocket(Handle, FIONBIO, &blocking);
  if (SocketType == SOCK_STREAM) {
    // The message's last short segment would otherwise wait for the
    // server's delayed acknowledgement of the one before it.
    const BOOL no_delay = TRUE;
    setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
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

void TRuzadaClientSocket::HideInTranscript(std::string secret) {
  if (!secret.empty()) secrets_.push_back(std::move(secret));
}

void TRuzadaClientSocket::StartTls() {
  try {
    tls_ = std::make_unique<TlsChannel>(Handle, Host, Timeout);
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
    if (code == kWouldBlock) return -1;
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

int TRuzadaClientSocket::Receive(void* buffer, int size) {
  if (!Connected) return 0;
  if (tls_) {
    try {
      if (size == -1) return static_cast<int>(std::min<std::size_t>(tls_->Available(), INT_MAX));
      return static_cast<int>(tls_->Read(static_cast<char*>(buffer), static_cast<std::size_t>(size)));
    } catch (const Exception& failure) {
      Abandon();
      RaiseError("TLS with " + Host + " failed: " + failure.Message());
    }
  }
  if (size == -1) {
    u_long waiting = 0;
    if (ioctlsocket(Handle, FIONREAD, &waiting) != 0) return 0;
    return static_cast<int>(waiting);
  }
  const int received = recv(Handle, static_cast<char*>(buffer), size, 0);
  if (received == SOCKET_ERROR) {
    const int code = WSAGetLastError();
    if (code == kWouldBlock) return -1;
    const std::string log = Log;
    Disconnect();
    Log = log;
    WSASetLastError(code);
    if (code != 0) RaiseSocketError("Error into \"recv\": \"%s\"");
  }
  return received;
}

void TRuzadaClientSocket::ReadAvailable(std::string& text) {
  text.clear();
  int waiting = Receive(nullptr, -1);
  if (waiting <= 0) return;
  for (;;) {
    std::string block(static_cast<std::size_t>(waiting), '\0');
    const int received = Receive(block.data(), waiting);
    if (received > 0) {
      block.resize(static_cast<std::size_t>(received));
      text += block;
      Log += block;
    }
    if (received <= 0 || ReplyIsComplete(text)) return;
    // A server that ends its reply some other way gets a quiet second.
    const DWORD read_end = GetTickCount();
    waiting = 0;
    for (DWORD elapsed = 0; waiting <= 0 && elapsed <= kQuietPeriod; elapsed = GetTickCount() - read_end) {
      WaitReadable(kQuietPeriod - elapsed + 1);
      waiting = Receive(nullptr, -1);
    }
    if (waiting <= 0) return;
  }
}

void TRuzadaClientSocket::WaitReply(std::string& text) {
  const DWORD start = GetTickCount();
  for (;;) {
    ReadAvailable(text);
    const DWORD elapsed = GetTickCount() - start;
    if (!text.empty() || !Connected || elapsed >= Timeout) return;
    WaitReadable(Timeout - elapsed);
  }
}

void TRuzadaClientSocket::ReadReply(std::string& text) {
  WaitReply(text);
  if (text.empty()) RaiseError("Socket timeout.");
}

void TRuzadaClientSocket::WaitReadable(DWORD milliseconds) {
  // Waiting in select instead of polling answers as soon as bytes arrive. A
  // socket the server has closed is readable with nothing to read: the
  // millisecond's sleep keeps that from spinning.
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Handle, &readable);
  timeval limit{static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
  if (select(0, &readable, nullptr, nullptr, &limit) != 0 && Receive(nullptr, -1) <= 0) Sleep(1);
}

bool TRuzadaClientSocket::ReplyIsComplete(const std::string& text) const {
  return SocketType == SOCK_DGRAM && !text.empty();
}

void TRuzadaClientSMTP::Connect() {
  TRuzadaClientSocket::Connect();
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

void TRuzadaClientSMTP::Quit() {
  if (!Connected) return;
  try {
    if (SendText("QUIT\r\n") != 6) return;
    Log += "QUIT\r\n";
    const std::uint32_t timeout = Timeout;
    Timeout = std::min<std::uint32_t>(Timeout, kQuitWait);
    std::string reply;
    WaitReply(reply);
    Timeout = timeout;
  } catch (...) {
    // The message has been accepted already; a lost QUIT changes nothing.
  }
}

bool TRuzadaClientSMTP::ReplyIsComplete(const std::string& text) const {
  return SmtpReplyIsComplete(text);
}

}  // namespace vellum::exceptlog

// TLS over a connected blocking socket through the system's Schannel: the
// handshake, the server's certificate checked against the host name before
// anything else is sent, then records both ways and the close notify. A
// failure raises ETlsError and breaks the channel: from then on it sends
// nothing, so a connection that was upgraded never carries clear text.
#pragma once

#include <winsock.h>

#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/delivery/mail/schannel_library_win.h"
#include "exceptlog/delivery/mail/tls_receive_buffer.h"

namespace vellum::exceptlog {

class TlsChannel {
 public:
  // Handshakes at once; each wait for the server lasts at most `timeout` ms.
  // A socket whose own receive timeout (SO_RCVTIMEO) is `timeout` says so
  // with `socket_times_out`: its reads then wait by themselves, which spares
  // a wait before each (under Wine, a round through its server).
  TlsChannel(SOCKET socket, const std::string& host, std::uint32_t timeout, bool socket_times_out = false);
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // Sends all of `data`, in records no longer than the session allows.
  void Send(const char* data, std::size_t size);
  // Waits at most `milliseconds` for decrypted bytes, reading and
  // decrypting what the socket brings; the number ready to be read (0: the
  // time ran out or the server closed).
  std::size_t Wait(std::uint32_t milliseconds);
  std::size_t Read(char* buffer, std::size_t size);
  // The server ended the session (close notify) or the connection.
  bool PeerClosed() const { return peer_closed_; }
  // The close notify, when the channel is sound; nothing raised.
  void Close();

  // "TLS 1.2", for the transcript.
  std::string Protocol();

 private:
  void Handshake();
  SECURITY_STATUS HandshakeStep(bool with_input);
  void Decrypt();
  void ReceiveWaiting();
  // One wait of at most `milliseconds` and one read into the inbox. A
  // failed read raises, `during` telling when.
  enum class Arrival { kBytes, kLate, kClosed };
  Arrival ReadOnce(std::uint32_t milliseconds, const char* during);
  void SendRaw(const void* data, std::size_t size);
  [[noreturn]] void Fail(const std::string& reason);

  SOCKET socket_;
  std::string host_;
  std::wstring target_;
  std::uint32_t timeout_;
  bool socket_times_out_;
  SchannelLibrary library_;
  TlsCredentials credentials_{library_};
  TlsContext context_{library_};
  SecPkgContext_StreamSizes sizes_{};
  TlsReceiveBuffer inbox_;
  // The last step could not use the pending bytes without more of them.
  bool need_more_ = false;
  std::string plaintext_;
  std::vector<char> record_;
  bool broken_ = false;
  bool peer_closed_ = false;
};

}  // namespace vellum::exceptlog

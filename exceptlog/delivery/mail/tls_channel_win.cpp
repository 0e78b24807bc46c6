#include "exceptlog/delivery/mail/tls_channel_win.h"

#include <algorithm>
#include <cstring>

#include "exceptlog/delivery/mail/certificate_check_win.h"
#include "exceptlog/delivery/mail/socket_wait_win.h"
#include "exceptlog/delivery/mail/tls_failure_text.h"
#include "exceptlog/delivery/mail/tls_record_header.h"
#include "runtime/win/text_conversion_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {
namespace {

constexpr unsigned long kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                   ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                   ISC_REQ_MANUAL_CRED_VALIDATION;
// One record and a little: what one read asks for during the handshake.
constexpr std::size_t kReadSize = 16 * 1024 + 512;
// Plain text encrypted and sent at a time.
constexpr std::size_t kSendBatch = 64 * 1024;

std::string SocketFailure() {
  return win::SystemErrorMessage(static_cast<DWORD>(WSAGetLastError()));
}

SecBuffer Buffer(unsigned long type, void* data = nullptr, std::size_t size = 0) {
  return SecBuffer{static_cast<unsigned long>(size), type, data};
}

}  // namespace

TlsChannel::TlsChannel(SOCKET socket, const std::string& host, std::uint32_t timeout, bool socket_times_out)
    : socket_(socket),
      host_(host),
      target_(win::WideFromAnsi(host)),
      timeout_(timeout),
      socket_times_out_(socket_times_out && timeout != 0) {
  Handshake();
  CheckServerCertificate(library_, context_, host_);
  if (library_.Sspi().QueryContextAttributesW(context_.get(), SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
      sizes_.cbMaximumMessage == 0) {
    Fail("the TLS session has no record sizes");
  }
}

TlsChannel::~TlsChannel() = default;

void TlsChannel::Handshake() {
  // A first handshake speaks first; a renegotiation starts from what the
  // server sent, which is pending already.
  bool with_input = context_.valid();
  bool read = false;
  int credential_requests = 0;
  for (;;) {
    if (read) ReceiveWaiting();
    if (!StartsLikeTlsRecord(inbox_.Pending())) {
      Fail("the server does not speak TLS; it said \"" + PrintableStart(inbox_.Pending()) + "\"");
    }
    const SECURITY_STATUS status = HandshakeStep(with_input);
    with_input = true;
    switch (status) {
      case SEC_E_OK: return;
      case SEC_I_CONTINUE_NEEDED: read = inbox_.Empty(); break;
      case SEC_E_INCOMPLETE_MESSAGE: read = true; break;
      case SEC_I_INCOMPLETE_CREDENTIALS:
        // The server asked for a client certificate: this client has none
        // and goes on without, once.
        if (++credential_requests > 1) Fail("the server insists on a client certificate");
        read = false;
        break;
      default: Fail("the TLS handshake failed: " + TlsFailureText(static_cast<std::uint32_t>(status), host_));
    }
  }
}

SECURITY_STATUS TlsChannel::HandshakeStep(bool with_input) {
  const std::span<std::uint8_t> pending = inbox_.Pending();
  SecBuffer input[2] = {Buffer(SECBUFFER_TOKEN, pending.data(), pending.size()), Buffer(SECBUFFER_EMPTY)};
  SecBufferDesc input_description{SECBUFFER_VERSION, 2, input};
  SecBuffer output[1] = {Buffer(SECBUFFER_TOKEN)};
  SecBufferDesc output_description{SECBUFFER_VERSION, 1, output};
  unsigned long attributes = 0;
  const bool first = !context_.valid();
  const SECURITY_STATUS status = library_.Sspi().InitializeSecurityContextW(
      credentials_.get(), first ? nullptr : context_.get(), first ? target_.data() : nullptr, kRequest, 0, 0,
      with_input ? &input_description : nullptr, 0, first ? context_.slot() : nullptr, &output_description, &attributes,
      nullptr);
  const ContextBuffer token(library_, output[0].pvBuffer);
  if (first && !FAILED(status)) context_.made();
  if (output[0].cbBuffer > 0 && output[0].pvBuffer != nullptr) {
    if (FAILED(status)) {
      // The alert that tells the server why; the failure itself matters more.
      try {
        SendRaw(output[0].pvBuffer, output[0].cbBuffer);
      } catch (const ETlsError&) {
      }
    } else {
      SendRaw(output[0].pvBuffer, output[0].cbBuffer);
    }
  }
  if (with_input && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) {
    inbox_.KeepLast(input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0);
  }
  return status;
}

void TlsChannel::Send(const char* data, std::size_t size) {
  if (broken_) throw ETlsError("the TLS session has ended");
  const std::size_t header = sizes_.cbHeader;
  const std::size_t trailer = sizes_.cbTrailer;
  const std::size_t record_size = sizes_.cbMaximumMessage;
  // Records go out a batch at a time: the server decrypts one batch while
  // the next is encrypted, and each send still carries several records.
  const std::size_t batch_records = std::max<std::size_t>(1, kSendBatch / record_size);
  for (std::size_t offset = 0; offset < size;) {
    const std::size_t batch = std::min(size - offset, batch_records * record_size);
    const std::size_t records = (batch + record_size - 1) / record_size;
    record_.resize(batch + records * (header + trailer));
    std::size_t end = 0;
    for (const std::size_t batch_end = offset + batch; offset < batch_end;) {
      const std::size_t length = std::min(batch_end - offset, record_size);
      char* const start = record_.data() + end;
      std::memcpy(start + header, data + offset, length);
      SecBuffer buffers[4] = {
          Buffer(SECBUFFER_STREAM_HEADER, start, header), Buffer(SECBUFFER_DATA, start + header, length),
          Buffer(SECBUFFER_STREAM_TRAILER, start + header + length, trailer), Buffer(SECBUFFER_EMPTY)};
      SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = library_.Sspi().EncryptMessage(context_.get(), 0, &description, 0);
      if (status != SEC_E_OK) {
        Fail("a record could not be encrypted: " + TlsFailureText(static_cast<std::uint32_t>(status), host_));
      }
      // The header keeps its size; a trailer may come out shorter than its
      // room, and the record ends there.
      const std::size_t sealed =
          std::size_t{buffers[0].cbBuffer} + std::size_t{buffers[1].cbBuffer} + std::size_t{buffers[2].cbBuffer};
      if (sealed > header + length + trailer) Fail("a record came out longer than its room");
      end += sealed;
      offset += length;
    }
    SendRaw(record_.data(), end);
  }
}

std::size_t TlsChannel::Wait(std::uint32_t milliseconds) {
  const DWORD start = GetTickCount();
  Decrypt();
  while (plaintext_.empty() && !broken_ && !peer_closed_) {
    const DWORD elapsed = GetTickCount() - start;
    const Arrival arrival = ReadOnce(elapsed >= milliseconds ? 0 : milliseconds - elapsed, "");
    if (arrival == Arrival::kLate) break;
    if (arrival == Arrival::kClosed) {
      // Closed without a close notify: what was decrypted stands, nothing more comes.
      peer_closed_ = true;
      break;
    }
    Decrypt();
  }
  return plaintext_.size();
}

std::size_t TlsChannel::Read(char* buffer, std::size_t size) {
  const std::size_t count = std::min(size, plaintext_.size());
  std::memcpy(buffer, plaintext_.data(), count);
  plaintext_.erase(0, count);
  return count;
}

void TlsChannel::Decrypt() {
  while (!inbox_.Empty() && !need_more_ && !peer_closed_) {
    const std::span<std::uint8_t> pending = inbox_.Pending();
    SecBuffer buffers[4] = {Buffer(SECBUFFER_DATA, pending.data(), pending.size()), Buffer(SECBUFFER_EMPTY),
                            Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY)};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = library_.Sspi().DecryptMessage(context_.get(), &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      need_more_ = true;
      return;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      Fail("a record from the server could not be read: " + TlsFailureText(static_cast<std::uint32_t>(status), host_));
    }
    std::size_t extra = 0;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer != nullptr) {
        plaintext_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      } else if (buffer.BufferType == SECBUFFER_EXTRA) {
        extra = buffer.cbBuffer;
      }
    }
    inbox_.KeepLast(extra);
    if (status == SEC_I_CONTEXT_EXPIRED) {
      // The server's close notify: whatever follows is not part of the session.
      peer_closed_ = true;
      inbox_.Clear();
    } else if (status == SEC_I_RENEGOTIATE) {
      Handshake();
      CheckServerCertificate(library_, context_, host_);
    }
  }
}

void TlsChannel::ReceiveWaiting() {
  switch (ReadOnce(timeout_, " during the TLS handshake")) {
    case Arrival::kLate:
      Fail("the server did not go on with the TLS handshake within " + std::to_string(timeout_) + " ms");
    case Arrival::kClosed: Fail("the server closed the connection during the TLS handshake");
    case Arrival::kBytes: return;
  }
}

TlsChannel::Arrival TlsChannel::ReadOnce(std::uint32_t milliseconds, const char* during) {
  if (!ReadableWithin(socket_, milliseconds, socket_times_out_ ? timeout_ : 0)) return Arrival::kLate;
  const std::span<std::uint8_t> room = inbox_.Room(kReadSize);
  const int received = recv(socket_, reinterpret_cast<char*>(room.data()), static_cast<int>(room.size()), 0);
  if (received == SOCKET_ERROR && WSAGetLastError() == WSAETIMEDOUT) return Arrival::kLate;
  if (received == SOCKET_ERROR) Fail(std::string("the connection failed") + during + ": " + SocketFailure());
  if (received == 0) return Arrival::kClosed;
  inbox_.Received(static_cast<std::size_t>(received));
  need_more_ = false;
  return Arrival::kBytes;
}

void TlsChannel::SendRaw(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const int sent = send(socket_, bytes, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
    if (sent == SOCKET_ERROR || sent == 0) Fail("the connection failed: " + SocketFailure());
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
}

void TlsChannel::Close() {
  if (broken_ || !context_.valid()) return;
  broken_ = true;  // nothing follows the close notify
  try {
    DWORD kind = SCHANNEL_SHUTDOWN;
    SecBuffer control = Buffer(SECBUFFER_TOKEN, &kind, sizeof kind);
    SecBufferDesc control_description{SECBUFFER_VERSION, 1, &control};
    if (library_.Sspi().ApplyControlToken(context_.get(), &control_description) != SEC_E_OK) return;
    SecBuffer output = Buffer(SECBUFFER_TOKEN);
    SecBufferDesc output_description{SECBUFFER_VERSION, 1, &output};
    unsigned long attributes = 0;
    const SECURITY_STATUS status =
        library_.Sspi().InitializeSecurityContextW(credentials_.get(), context_.get(), nullptr, kRequest, 0, 0, nullptr,
                                                   0, nullptr, &output_description, &attributes, nullptr);
    const ContextBuffer token(library_, output.pvBuffer);
    if (!FAILED(status) && output.cbBuffer > 0 && output.pvBuffer != nullptr) SendRaw(output.pvBuffer, output.cbBuffer);
  } catch (const ETlsError&) {
    // The server learns of the end from the closed connection instead.
  }
}

std::string TlsChannel::Protocol() {
  SecPkgContext_ConnectionInfo info{};
  if (library_.Sspi().QueryContextAttributesW(context_.get(), SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) {
    return "TLS";
  }
  if (info.dwProtocol & SP_PROT_TLS1_3_CLIENT) return "TLS 1.3";
  if (info.dwProtocol & SP_PROT_TLS1_2_CLIENT) return "TLS 1.2";
  if (info.dwProtocol & SP_PROT_TLS1_1_CLIENT) return "TLS 1.1";
  if (info.dwProtocol & SP_PROT_TLS1_0_CLIENT) return "TLS 1.0";
  return "TLS";
}

void TlsChannel::Fail(const std::string& reason) {
  broken_ = true;
  throw ETlsError(reason);
}

}  // namespace vellum::exceptlog

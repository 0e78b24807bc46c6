// Bytes received from a TLS peer that the decrypter has not used up yet. A
// record can arrive in pieces (the decrypter then asks for more and nothing
// is used) or together with the start of the next one (which the decrypter
// hands back as extra bytes at the end). The bytes are handed to the system
// in place, and it may decrypt them there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "runtime/exception.h"

namespace vellum::exceptlog {

// A TLS session that could not be made, checked or kept.
VELLUM_EXCEPTION_CLASS(ETlsError, Exception);

class TlsReceiveBuffer {
 public:
  // A record is at most 16 KB of text and its protection; what a peer
  // sends beyond `limit` without completing one is no TLS.
  explicit TlsReceiveBuffer(std::size_t limit = kDefaultLimit) : limit_(limit) {}

  static constexpr std::size_t kDefaultLimit = 64 * 1024;

  // Room for up to `wanted` more bytes after the pending ones (less when
  // the limit is near); raises ETlsError when the pending bytes fill it.
  std::span<std::uint8_t> Room(std::size_t wanted);
  // `count` bytes of the room were filled.
  void Received(std::size_t count);

  std::span<std::uint8_t> Pending() { return {bytes_.data(), size_}; }
  std::size_t PendingSize() const { return size_; }
  bool Empty() const { return size_ == 0; }

  // The decrypter used every pending byte but the last `extra`; those move
  // to the front. Raises ETlsError for more extra bytes than were pending.
  void KeepLast(std::size_t extra);
  void Clear() { size_ = 0; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t size_ = 0;
  std::size_t limit_;
};

}  // namespace vellum::exceptlog

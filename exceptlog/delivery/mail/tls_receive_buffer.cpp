#include "exceptlog/delivery/mail/tls_receive_buffer.h"

#include <algorithm>
#include <cstring>

namespace vellum::exceptlog {

std::span<std::uint8_t> TlsReceiveBuffer::Room(std::size_t wanted) {
  if (size_ >= limit_) throw ETlsError("the server sent more than a TLS record can hold");
  const std::size_t count = std::min(wanted, limit_ - size_);
  if (bytes_.size() < size_ + count) bytes_.resize(size_ + count);
  return {bytes_.data() + size_, count};
}

void TlsReceiveBuffer::Received(std::size_t count) {
  if (count > bytes_.size() - size_) throw ETlsError("more bytes received than there was room for");
  size_ += count;
}

void TlsReceiveBuffer::KeepLast(std::size_t extra) {
  if (extra > size_) throw ETlsError("the TLS layer handed back more bytes than it was given");
  if (extra > 0) std::memmove(bytes_.data(), bytes_.data() + (size_ - extra), extra);
  size_ = extra;
}

}  // namespace vellum::exceptlog

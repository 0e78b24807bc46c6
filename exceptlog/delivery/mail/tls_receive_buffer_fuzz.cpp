// The receive buffer against a plain model of it, driven by the input as a
// peer and a decrypter would: each pair of bytes either delivers bytes (the
// next ones of the input) or says how many pending bytes were left over. The
// buffer must hold exactly what the model holds, and refuse what the model
// says is impossible instead of reading or writing outside its bytes; the
// record header check reads whatever is pending.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exceptlog/delivery/mail/tls_receive_buffer.h"
#include "exceptlog/delivery/mail/tls_record_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vellum::exceptlog::ETlsError;
  constexpr std::size_t kLimit = 300;
  vellum::exceptlog::TlsReceiveBuffer buffer(kLimit);
  std::string model;
  std::size_t at = 0;
  while (at + 2 <= size) {
    const std::uint8_t operation = data[at];
    const std::size_t count = data[at + 1];
    at += 2;
    if (operation & 1) {
      const std::size_t available = std::min(count, size - at);
      try {
        const auto room = buffer.Room(available);
        if (model.size() >= kLimit || room.size() > available || room.size() > kLimit - model.size()) std::abort();
        if (!room.empty()) std::memcpy(room.data(), data + at, room.size());
        buffer.Received(room.size());
        model.append(reinterpret_cast<const char*>(data + at), room.size());
        at += room.size();
      } catch (const ETlsError&) {
        if (model.size() < kLimit) std::abort();
      }
    } else {
      try {
        buffer.KeepLast(count);
        if (count > model.size()) std::abort();
        model.erase(0, model.size() - count);
      } catch (const ETlsError&) {
        if (count <= model.size()) std::abort();
      }
    }
    const auto pending = buffer.Pending();
    if (pending.size() != model.size()) std::abort();
    if (!model.empty() && std::memcmp(pending.data(), model.data(), model.size()) != 0) std::abort();
    // What the handshake reads at the front of whatever is pending.
    vellum::exceptlog::StartsLikeTlsRecord(pending);
    if (vellum::exceptlog::PrintableStart(pending).size() > 80) std::abort();
  }
  return 0;
}

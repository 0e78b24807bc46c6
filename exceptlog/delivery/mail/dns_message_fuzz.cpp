// Any reply bytes must parse to a name or to nothing, within bounded time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "exceptlog/delivery/mail/dns_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string host = vellum::exceptlog::ParseMxAnswer({data, size});
  if (host.size() > 255) std::abort();
  return 0;
}

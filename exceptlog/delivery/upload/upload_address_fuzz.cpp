// Any text of the options must split into parts taken from it, without
// reading past it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "exceptlog/delivery/upload/upload_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view address(reinterpret_cast<const char*>(data), size);
  vellum::exceptlog::TUploadAddress parts;
  vellum::exceptlog::SplitUploadAddress(address, parts);
  const std::size_t taken =
      parts.Scheme.size() + parts.User.size() + parts.Password.size() + parts.Host.size() + parts.Path.size();
  if (taken > size) std::abort();
  return 0;
}

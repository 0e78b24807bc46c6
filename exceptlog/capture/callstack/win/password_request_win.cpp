#include "exceptlog/capture/callstack/win/password_request_win.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/win/entry_point_win.h"

namespace vellum::exceptlog {

PasswordRequest ExportedPasswordRequest(HMODULE module) {
  PasswordRequestEvent* event = win::LookUpEntryPoint<PasswordRequestEvent>(module, kPasswordRequestExport);
  if (event == nullptr) return {};
  return [event](const std::string& current) {
    std::array<unsigned char, kPasswordCapacity + 1> buffer{};
    const std::size_t length = std::min<std::size_t>(current.size(), kPasswordCapacity);
    buffer[0] = static_cast<unsigned char>(length);
    std::memcpy(buffer.data() + 1, current.data(), length);
    event(buffer.data(), kPasswordCapacity);
    // The length byte cannot claim more than the buffer holds.
    const std::size_t answered = std::min<std::size_t>(buffer[0], kPasswordCapacity);
    return std::string(reinterpret_cast<const char*>(buffer.data()) + 1, answered);
  };
}

}  // namespace vellum::exceptlog

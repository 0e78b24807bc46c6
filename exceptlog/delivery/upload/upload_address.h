// The upload address of the options taken apart: scheme, user, password,
// host, a trailing port and the path. The delivery then replaces the port,
// user and password by their own options; the upload method, not the
// scheme, decides the protocol.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

struct TUploadAddress {
  std::string Scheme, User, Path, Host, Password;
  std::uint16_t Port = 0;
};

// False when a trailing port does not fit 16 bits; the parts after it stay
// empty then. A port is recognised only at the very end of the address
// ("host:2121/" or "host:2121"), never between host and path.
bool SplitUploadAddress(std::string_view address, TUploadAddress& parts);

}  // namespace vellum::exceptlog

// The wait before a blocking read, shared by the SMTP client and its TLS
// channel. Each wait and each read is a round through the system's socket
// layer (under Wine, through its server), so a read that can wait by
// itself is not preceded by a wait.
#pragma once

#include <winsock.h>

#include <cstdint>

namespace vellum::exceptlog {

// Whether a read of `socket` should follow, for a wait of at most
// `milliseconds`: at once when the socket's own receive timeout
// (`own_timeout`, SO_RCVTIMEO, 0 for none) is that wait, since the read then
// waits by itself; otherwise when a select within the time finds bytes, the
// close or a failure (which the read then reports). No wait at all is a no.
bool ReadableWithin(SOCKET socket, std::uint32_t milliseconds, std::uint32_t own_timeout);

}  // namespace vellum::exceptlog

#include "exceptlog/delivery/mail/socket_wait_win.h"

namespace vellum::exceptlog {

bool ReadableWithin(SOCKET socket, std::uint32_t milliseconds, std::uint32_t own_timeout) {
  if (milliseconds == 0) return false;
  if (own_timeout != 0 && milliseconds == own_timeout) return true;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval limit{static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
  return select(0, &readable, nullptr, nullptr, &limit) != 0;
}

}  // namespace vellum::exceptlog

// Readability on Linux: the kernel validates a buffer handed to write(), so
// writing it to a pipe answers EFAULT for unmapped memory without a signal.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/exception.h"

namespace vellum {

bool MemoryIsReadable(const void* address, std::size_t size) {
  if (address == nullptr) return false;
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
  bool readable = true;
  const char* cursor = static_cast<const char*>(address);
  while (size > 0) {
    const std::size_t chunk = size < 4096 ? size : 4096;
    const ssize_t written = write(fds[1], cursor, chunk);
    if (written < 0) {
      readable = (errno == EAGAIN);  // a full pipe means the bytes were readable
      if (!readable) break;
      char drain[4096];
      while (read(fds[0], drain, sizeof drain) > 0) {
      }
      continue;
    }
    char drain[4096];
    while (read(fds[0], drain, sizeof drain) > 0) {
    }
    cursor += written;
    size -= static_cast<std::size_t>(written);
  }
  close(fds[0]);
  close(fds[1]);
  return readable;
}

}  // namespace vellum

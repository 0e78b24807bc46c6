#include <unistd.h>

#include "exceptlog/capture/options/computer_name.h"

namespace vellum::exceptlog {

std::string LocalComputerName() {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
  // Host names may be longer than the Windows buffer allows; cut them the
  // same way so that log names look alike on both sides.
  return std::string(buffer).substr(0, kComputerNameBufferSize - 1);
}

}  // namespace vellum::exceptlog

#include <windows.h>

#include "exceptlog/capture/options/computer_name.h"

namespace vellum::exceptlog {

std::string LocalComputerName() {
  char buffer[kComputerNameBufferSize] = {};
  DWORD size = sizeof buffer;
  // NetBIOS names never exceed 15 characters, so the buffer fails only when
  // the system has no name to give; the log then goes without one.
  if (!GetComputerNameA(buffer, &size)) return {};
  return std::string(buffer, size);
}

}  // namespace vellum::exceptlog

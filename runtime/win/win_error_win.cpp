#include "runtime/win/win_error_win.h"

namespace vellum::win {

std::string SystemErrorMessage(DWORD code, HMODULE module) {
  char buffer[512] = {};
  DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  if (module != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  DWORD length = FormatMessageA(flags, module, code, 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == ' ')) {
    --length;
  }
  if (length == 0) return "System error " + std::to_string(code);
  return std::string(buffer, length);
}

void RaiseOSError(const char* call, DWORD code) {
  throw EOSError(std::string(call) + " failed: " + SystemErrorMessage(code) + " (" + std::to_string(code) + ")", code);
}

void RaiseLastOSError(const char* call) {
  RaiseOSError(call, GetLastError());
}

}  // namespace vellum::win

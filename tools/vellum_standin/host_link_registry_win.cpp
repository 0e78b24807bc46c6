#include "tools/vellum_standin/host_link_registry_win.h"

#include <string>

#include "band/testing/command_line.h"
#include "runtime/win/win_error_win.h"

namespace vellum::standin {

// The commands and the command line the stand-in shares with the tests that drive it.
using namespace band::testing;

const char kHostLinkKeyPath[] = "Software\\Larchwood\\Vellum7\\Tessera";

HWND ReadHostLinkHandle(const char* value_name) {
  // Eleven characters hold any int32; a longer value is malformed anyway, and
  // RegGetValueA reports it as ERROR_MORE_DATA instead of truncating it.
  char text[32] = {};
  DWORD size = sizeof text;
  const LSTATUS status =
      RegGetValueA(HKEY_CURRENT_USER, kHostLinkKeyPath, value_name, RRF_RT_REG_SZ, nullptr, text, &size);
  if (status == ERROR_MORE_DATA) throw EHostLinkValue(std::string(value_name) + " too long for a handle");
  if (status != ERROR_SUCCESS) {
    throw EHostLinkValue(std::string(value_name) +
                         " unreadable: " + win::SystemErrorMessage(static_cast<DWORD>(status)));
  }
  const auto handle = ParseHandleText(text);
  if (!handle) throw EHostLinkValue(std::string(value_name) + " not a signed decimal handle: '" + text + "'");
  return reinterpret_cast<HWND>(HandleFromBits(*handle));
}

}  // namespace vellum::standin

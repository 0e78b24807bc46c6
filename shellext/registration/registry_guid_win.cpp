#include "shellext/registration/registry_guid_win.h"

#include <objbase.h>

#include <cstdio>

#include "runtime/win/win_error_win.h"

namespace vellum::shellext {

std::string GuidToRegistryString(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

bool IsRegistryGuid(std::string_view text) {
  constexpr std::string_view kPattern = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (text.size() != kPattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (kPattern[i] != 'X') {
      if (c != kPattern[i]) return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

std::string NewRegistryGuid() {
  GUID guid{};
  const HRESULT result = CoCreateGuid(&guid);
  if (FAILED(result)) win::RaiseOSError("CoCreateGuid", static_cast<DWORD>(result));
  return GuidToRegistryString(guid);
}

}  // namespace vellum::shellext

// Vellum's reading of the values the band publishes under the current user's
// key "Software\Larchwood\Vellum7\", subkey "Tessera".
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "band/testing/command_line.h"
#include "runtime/exception.h"

namespace vellum::standin {

VELLUM_EXCEPTION_CLASS(EHostLinkValue, Exception);

// The key and subkey joined; the band opens the key with its trailing
// backslash and then the subkey, which names the same key.
extern const char kHostLinkKeyPath[];

// Reads a REG_SZ value holding a window handle as signed decimal text
// ("BarHandle", "DockPanel"). Raises EHostLinkValue when the value is absent,
// not REG_SZ, or not such a number. The handle is not checked to be a window.
HWND ReadHostLinkHandle(const char* value_name);

// A window handle in the registry's form, also used by the log.
inline std::string HandleText(HWND window) {
  return band::testing::FormatHandleText(band::testing::HandleBits(reinterpret_cast<UINT_PTR>(window)));
}

}  // namespace vellum::standin

#include "shellext/registration/module_path_win.h"

#include "runtime/win/text_conversion_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::shellext {

namespace {

// The result when it fit into the 260-character buffer, else empty.
std::string ShortForm(const std::string& long_path) {
  if (IsWindowsNT()) {
    // The wide call: short names of paths with characters outside the ANSI
    // code page come out right, and the result converts back losslessly
    // because short names are plain ASCII.
    wchar_t buffer[260];
    const DWORD length = GetShortPathNameW(win::WideFromAnsi(long_path).c_str(), buffer, 260);
    if (length == 0 || length >= 260) return {};
    return win::AnsiFromWide(std::wstring_view(buffer, length));
  }
  char buffer[260];
  const DWORD length = GetShortPathNameA(long_path.c_str(), buffer, 260);
  if (length == 0 || length >= 260) return {};
  return std::string(buffer, length);
}

}  // namespace

HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&ThisModule), &module)) {
    win::RaiseLastOSError("GetModuleHandleExA");
  }
  return module;
}

bool IsWindowsNT() {
  return (GetVersion() & 0x80000000u) == 0;
}

std::string ShortModulePath(HMODULE module) {
  char buffer[261];
  const DWORD length = GetModuleFileNameA(module, buffer, sizeof buffer);
  if (length == 0) win::RaiseLastOSError("GetModuleFileNameA");
  const std::string long_path(buffer, length);
  const std::string short_path = ShortForm(long_path);
  return short_path.empty() ? long_path : short_path;
}

}  // namespace vellum::shellext

#include "exceptlog/capture/options/module_identity_win.h"

#include "exceptlog/capture/options/module_identity.h"

namespace vellum::exceptlog {

HMODULE ThisModuleHandle() {
  HMODULE module = nullptr;
  // An address inside this function lies in the module that holds it; the
  // reference count is left alone so nothing has to be released.
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModuleHandle), &module);
  return module;
}

std::string ThisModuleFileName() {
  char buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(ThisModuleHandle(), buffer, sizeof buffer);
  return std::string(buffer, length);
}

bool IsModuleOfThisCode(const std::string& module_file_name) {
  // GetModuleHandleA would answer the program for an empty name.
  if (module_file_name.empty()) return false;
  return GetModuleHandleA(module_file_name.c_str()) == ThisModuleHandle();
}

}  // namespace vellum::exceptlog

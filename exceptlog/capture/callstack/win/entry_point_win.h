// Optional entry points of a DLL, looked up by name with their declared
// type instead of a cast at every call site.
#pragma once

#include <windows.h>

namespace vellum::exceptlog {

// `Function` is a function type, e.g. decltype(EnumProcessModules).
template <typename Function>
Function* LookUpEntryPoint(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace vellum::exceptlog

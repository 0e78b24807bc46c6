// Optional entry points of a system DLL, looked up at run time with their
// declared type instead of a cast at every call site.
#pragma once

#include <windows.h>

namespace vellum::win {

// `Function` is a function type, e.g. decltype(OpenThemeData); null when the
// module or the name is missing.
template <typename Function>
Function* LookUpEntryPoint(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace vellum::win

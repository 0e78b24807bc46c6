// The process-wide record of every change the hooks made, kept from
// StartHooking to StopHooking so that stopping can undo all of them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exceptlog/capture/hooking/win/memory_write_win.h"
#include "exceptlog/capture/hooking/win/method_hooks_win.h"

namespace vellum::exceptlog {

struct HookedProcedure {
  void* procedure = nullptr;
  UniqueVirtualMemory trampoline;  // in 64-bit code also the relay to a hook beyond 2 GB
  std::size_t trampoline_size = 0;
  std::vector<std::uint8_t> overwritten;  // the covered bytes, put back on unhooking
};

struct HookedImport {
  HMODULE module = nullptr;
  std::string dll_name;
  void* previous = nullptr;
  void* replacement = nullptr;
};

struct HookRegistry {
  std::vector<HookedProcedure> procedures;
  std::vector<HookedImport> imports;
  THookedMethodsList methods;
};

// The registry while hooking is started, else nullptr.
HookRegistry* ActiveHookRegistry();

}  // namespace vellum::exceptlog

// Writing into code and read-only data of loaded modules: the pages are made
// writable for the copy only, and the processor is told that code changed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

// Copies `size` bytes from `source` to `address`; every page of the range gets
// its own previous protection back. Raises EOSError when a page cannot be
// made writable.
void WriteMem(void* address, const void* source, std::size_t size);

// Writes "JMP target" (0xE9 and target - at - 5) at `at`.
void JumpToMem(void* at, const void* target);

// True on the NT family (Wine answers NT). The other family maps system DLLs
// into the shared area above 0x80000000, which no process may patch.
bool IsNtPlatform();
bool InSharedArea(const void* address);

// The file name of the module that holds `address`; empty when none does.
std::string ModuleFileNameOf(const void* address);

// True when `address` lies inside the image of a loaded module.
bool InsideLoadedModule(const void* address);

inline std::uint32_t AddressOf(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

struct VirtualMemoryTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle memory) { VirtualFree(memory, 0, MEM_RELEASE); }
};
using UniqueVirtualMemory = win::UniqueHandle<VirtualMemoryTraits>;

}  // namespace vellum::exceptlog

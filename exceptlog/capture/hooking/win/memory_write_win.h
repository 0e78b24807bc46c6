// Writing into code and read-only data of loaded modules: the pages are made
// writable for the copy only, and the processor is told that code changed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "exceptlog/capture/hooking/instruction_decoder.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

// Copies `size` bytes from `source` to `address`; every page of the range gets
// its own previous protection back. Raises EOSError when a page cannot be
// made writable.
void WriteMem(void* address, const void* source, std::size_t size);

// Writes "JMP target" (0xE9 and target - at - 5) at `at`. In a 64-bit
// process the displacement does not wrap: raises EHookError, writing nothing,
// when the target is more than 2 GB away.
void JumpToMem(void* at, const void* target);

// True on the NT family (Wine answers NT). The other family maps system DLLs
// into the shared area above 0x80000000, which no process may patch; it runs
// 32-bit processes only.
bool IsNtPlatform();
bool InSharedArea(const void* address);

// The file name of the module that holds `address`; empty when none does.
std::string ModuleFileNameOf(const void* address);

// True when `address` lies inside the image of a loaded module.
bool InsideLoadedModule(const void* address);

inline std::uintptr_t AddressOf(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

// The code this process runs: the bytes at a procedure's start are decoded,
// and its trampoline built, in this mode.
inline constexpr CodeMode kProcessCodeMode = sizeof(void*) == 8 ? CodeMode::k64 : CodeMode::k32;

struct VirtualMemoryTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle memory) { VirtualFree(memory, 0, MEM_RELEASE); }
};
using UniqueVirtualMemory = win::UniqueHandle<VirtualMemoryTraits>;

}  // namespace vellum::exceptlog

// Addresses of this process as the portable capture code holds them: 64-bit
// values in either build, so that one scan, one module list and one report
// serve a 32-bit and a 64-bit process alike.
#pragma once

#include <cstdint>

#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

inline constexpr ProcessBits kThisProcessBits = sizeof(void*) == 8 ? ProcessBits::k64 : ProcessBits::k32;

inline std::uint64_t ToAddress(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

// Only for addresses this process gave out: they fit its pointers.
template <typename T = const void>
T* ToPointer(std::uint64_t address) {
  // width: the address came from a pointer of this process, whole.
  return reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

}  // namespace vellum::exceptlog

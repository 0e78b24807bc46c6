// A FILETIME as the one 64-bit count of 100-nanosecond intervals since 1601
// it stands for.
#pragma once

#include <windows.h>

#include <cstdint>

namespace vellum::win {

inline std::uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace vellum::win

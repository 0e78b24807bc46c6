// Repeatable pseudo-random bytes for the compression tests: content that
// deflates poorly, the same in every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vellum::exceptlog::testing {

inline std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::uint8_t& byte : bytes) {
    seed = seed * 1103515245 + 12345;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  return bytes;
}

}  // namespace vellum::exceptlog::testing

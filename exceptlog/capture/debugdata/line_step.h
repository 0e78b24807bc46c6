// One entry of a unit's line table: how far the running line and the running
// code address move, and whether the entry starts a procedure (a protected
// name follows it). Short steps take one byte, longer ones two or four, and
// from version 423 a four-byte escape is followed by two 16-bit steps.
#pragma once

#include <cstdint>
#include <vector>

#include "exceptlog/capture/debugdata/debug_data_cursor.h"

namespace vellum::exceptlog {

struct LineStep {
  std::uint32_t Line = 1;     // 1..65536
  std::uint32_t Address = 1;  // 0..65536; 0 only in the four-byte form
  bool Named = false;

  friend bool operator==(const LineStep&, const LineStep&) = default;
};

inline constexpr std::uint32_t kMaxLineStep = 0x10000;
inline constexpr std::uint32_t kMaxAddressStep = 0x10000;

LineStep ReadLineStep(DebugDataCursor& in, std::uint16_t block_version);

// Whether `step` has an encoding at `block_version`.
bool CanWriteLineStep(const LineStep& step, std::uint16_t block_version);
// The shortest encoding; raises EDebugDataError when there is none.
void WriteLineStep(std::vector<std::uint8_t>& out, const LineStep& step, std::uint16_t block_version);

}  // namespace vellum::exceptlog

// The code a procedure hook runs instead of the replaced first instructions:
// those instructions, moved, followed by a jump back to the rest of the
// procedure. Pure computation on bytes and 32-bit addresses, so that every
// relocation rule is tested without touching live code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "exceptlog/capture/hooking/instruction_decoder.h"

namespace vellum::exceptlog {

inline constexpr std::size_t kJumpSize = 5;  // 0xE9 and a 32-bit displacement
// Bytes read from a procedure's start to plan its trampoline: the longest
// instruction can start at byte 4.
inline constexpr std::size_t kPrologueWindow = kJumpSize - 1 + kMaxInstructionLength;

// "JMP target" placed at `at`.
std::array<std::uint8_t, kJumpSize> EncodeJump(std::uint32_t at, std::uint32_t target);

struct CoveredInstruction {
  std::size_t offset = 0;
  DecodedInstruction decoded;
  std::size_t length() const { return decoded.length; }
};

struct TrampolinePlan {
  std::size_t covered = 0;  // bytes of whole instructions that the jump to the hook replaces
  std::size_t stubs = 0;    // short jumps that leave the covered bytes
  std::vector<CoveredInstruction> instructions;
  // Copied instructions, the jump back, then one 5-byte stub per short jump
  // that leaves the covered bytes (an 8-bit displacement cannot reach the
  // procedure from the trampoline).
  std::size_t size() const { return covered + kJumpSize + stubs * kJumpSize; }
};

// Decodes whole instructions from `prologue` until 5 bytes are covered. Raises
// EHookError when the bytes cannot be moved safely: the window ends inside an
// instruction, a 16-bit relative branch is covered, or the procedure ends
// (RET, JMP) before 5 bytes and what follows is not padding - the jump would
// overwrite the next procedure.
TrampolinePlan PlanTrampoline(std::span<const std::uint8_t> prologue);

// The trampoline's bytes for a procedure at `procedure` whose trampoline
// will live at `trampoline`.
std::vector<std::uint8_t> BuildTrampoline(std::span<const std::uint8_t> prologue, const TrampolinePlan& plan,
                                          std::uint32_t procedure, std::uint32_t trampoline);

}  // namespace vellum::exceptlog

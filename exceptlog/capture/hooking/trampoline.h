// The code a procedure hook runs instead of the replaced first instructions:
// those instructions, moved, followed by a jump back to the rest of the
// procedure. Pure computation on bytes and addresses, 32-bit or 64-bit code,
// so that every relocation rule is tested without touching live code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "exceptlog/capture/hooking/instruction_decoder.h"

namespace vellum::exceptlog {

inline constexpr std::size_t kJumpSize = 5;  // 0xE9 and a 32-bit displacement
// 64-bit code: "JMP [RIP+0]" and the 8-byte target right after it, for a
// target more than 2 GB away.
inline constexpr std::size_t kAbsoluteJumpSize = 14;
// Bytes read from a procedure's start to plan its trampoline: the longest
// instruction can start at byte 4.
inline constexpr std::size_t kPrologueWindow = kJumpSize - 1 + kMaxInstructionLength;

// "JMP target" placed at `at`, in 32-bit code (the displacement wraps around
// the address space).
std::array<std::uint8_t, kJumpSize> EncodeJump(std::uint32_t at, std::uint32_t target);
// "JMP target" placed at `at`, in 64-bit code, where the displacement does not
// wrap: none when the target is more than 2 GB from the jump's end.
std::optional<std::array<std::uint8_t, kJumpSize>> EncodeNearJump64(std::uint64_t at, std::uint64_t target);
// "JMP target" through the address stored after the instruction, from anywhere
// in 64-bit code.
std::array<std::uint8_t, kAbsoluteJumpSize> EncodeAbsoluteJump(std::uint64_t target);

struct CoveredInstruction {
  std::size_t offset = 0;
  DecodedInstruction decoded;
  std::size_t length() const { return decoded.length; }
};

struct TrampolinePlan {
  CodeMode mode = CodeMode::k32;
  std::size_t covered = 0;  // bytes of whole instructions that the jump to the hook replaces
  std::size_t stubs = 0;    // short jumps that leave the covered bytes
  // 64-bit code: near branches that leave the covered bytes; each needs a stub
  // when its target is more than 2 GB from the trampoline.
  std::size_t near_exits = 0;
  std::vector<CoveredInstruction> instructions;
  // The room the trampoline needs: copied instructions, the jump back, then a
  // stub jump per short jump that leaves the covered bytes (an 8-bit
  // displacement cannot reach the procedure from the trampoline). 32-bit code
  // takes exactly this many bytes. In 64-bit code it is the most: every jump
  // counted absolute, and a stub for every near exit too, since which of
  // them must be depends on where the trampoline lands.
  std::size_t size() const {
    if (mode == CodeMode::k32) return covered + kJumpSize + stubs * kJumpSize;
    return covered + kAbsoluteJumpSize + (stubs + near_exits) * kAbsoluteJumpSize;
  }
};

// Decodes whole instructions from `prologue` until 5 bytes are covered. Raises
// EHookError when the bytes cannot be moved safely: the window ends inside an
// instruction, a 16-bit relative branch is covered, or the procedure ends
// (RET, JMP) before 5 bytes and what follows is not padding - the jump would
// overwrite the next procedure. In 64-bit code also when a covered byte is no
// instruction the decoder knows (it could hide an operand relative to the
// instruction pointer) or an operand is relative to the 32-bit instruction
// pointer (0x67).
TrampolinePlan PlanTrampoline(std::span<const std::uint8_t> prologue, CodeMode mode = CodeMode::k32);

// The trampoline's bytes for a procedure at `procedure` whose trampoline
// will live at `trampoline`: at most plan.size() of them. Relative branches
// and, in 64-bit code, operands relative to the instruction pointer keep
// their targets. Raises EHookError when such an operand's target is more than
// 2 GB from the trampoline (the instruction has only 32 bits to say where),
// and when a 32-bit plan is given an address above 4 GB.
// 64-bit code: the addresses that the covered instructions' operands relative
// to the instruction pointer refer to, for a procedure at `procedure`. The
// trampoline must lie within 2 GB of each of them.
std::vector<std::uint64_t> RipRelativeTargets(std::span<const std::uint8_t> prologue, const TrampolinePlan& plan,
                                              std::uint64_t procedure);

std::vector<std::uint8_t> BuildTrampoline(std::span<const std::uint8_t> prologue, const TrampolinePlan& plan,
                                          std::uint64_t procedure, std::uint64_t trampoline);

}  // namespace vellum::exceptlog

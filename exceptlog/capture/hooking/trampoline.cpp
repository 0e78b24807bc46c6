#include "exceptlog/capture/hooking/trampoline.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {
namespace {

// Where a relative branch goes, counted from the procedure's start.
std::int64_t BranchTarget(std::span<const std::uint8_t> prologue, const CoveredInstruction& instruction) {
  const std::size_t end = instruction.offset + instruction.length();
  const auto displacement = prologue.subspan(instruction.decoded.displacement_offset() + instruction.offset);
  const std::int64_t distance = instruction.decoded.displacement_size == 1
                                    ? static_cast<std::int8_t>(displacement[0])
                                    : static_cast<std::int32_t>(exceptlog::LoadU32(displacement.data()));
  return static_cast<std::int64_t>(end) + distance;
}

bool LeavesCoveredBytes(std::int64_t target, std::size_t covered) {
  return target < 0 || target >= static_cast<std::int64_t>(covered);
}

bool AllZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// REX bits that extend ModRM's reg, SIB's index and ModRM's rm or SIB's base.
constexpr std::uint8_t kRexR = 0x04, kRexX = 0x02, kRexB = 0x01;

// In 64-bit code a register copy or LEA changes nothing only on full 64-bit
// registers (a 32-bit result clears the upper half) and when REX extends
// source and destination alike.
bool SameFullRegister(const DecodedInstruction& decoded, CodeMode mode) {
  if (mode == CodeMode::k32) return true;
  const std::uint8_t rex = decoded.rex;
  return decoded.rex_w() && !(rex & kRexX) && ((rex & kRexR) != 0) == ((rex & kRexB) != 0);
}

// The fillers compilers and linkers put between procedures: INT3, NOP in its
// one- and multi-byte forms, and the "LEA reg, [reg + 0]" and "MOV reg, reg"
// that older GNU assemblers use.
bool IsPadding(std::span<const std::uint8_t> code, const DecodedInstruction& decoded, CodeMode mode) {
  if (!decoded.ok()) return false;
  const auto body = code.subspan(decoded.prefix_count, decoded.length - decoded.prefix_count);
  const std::uint8_t opcode = body[0];
  if (opcode == 0x90) return !(decoded.rex & kRexB);  // with REX.B it exchanges with r8
  if (opcode == 0xCC) return true;
  if (opcode == 0x0F) return body.size() > 1 && body[1] == 0x1F;
  if (body.size() < 2 || !SameFullRegister(decoded, mode)) return false;
  const std::uint8_t modrm = body[1];
  const unsigned mod = modrm >> 6, reg = (modrm >> 3) & 7, rm = modrm & 7;
  if (opcode == 0x89 || opcode == 0x8B) return mod == 3 && reg == rm;
  if (opcode != 0x8D || mod == 3 || decoded.address_size_override) return false;
  if (rm == 4) {  // SIB without index: base must be the destination
    const std::uint8_t sib = body[2];
    const unsigned index = (sib >> 3) & 7, base = sib & 7;
    return index == 4 && base == reg && !(mod == 0 && base == 5) && AllZero(body.subspan(3));
  }
  return rm == reg && !(mod == 0 && rm == 5) && AllZero(body.subspan(2));
}

// The 32-bit displacement from `from` (the end of an instruction) to `to`,
// when there is one.
std::optional<std::int32_t> Displacement32(std::uint64_t from, std::uint64_t to) {
  const auto distance = static_cast<std::int64_t>(to - from);
  if (distance < std::numeric_limits<std::int32_t>::min() || distance > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(distance);
}

void Append(std::vector<std::uint8_t>& code, std::span<const std::uint8_t> bytes) {
  code.insert(code.end(), bytes.begin(), bytes.end());
}

// A jump from the end of `code` (which will lie at `base`) to `target`: the
// 5-byte form when it reaches, the absolute one otherwise.
void AppendJump64(std::vector<std::uint8_t>& code, std::uint64_t base, std::uint64_t target) {
  if (const auto jump = EncodeNearJump64(base + code.size(), target)) {
    Append(code, *jump);
  } else {
    Append(code, EncodeAbsoluteJump(target));
  }
}

// Where an operand relative to the instruction pointer points, for the
// instruction at its place in the procedure.
std::uint64_t RipRelativeTarget(std::span<const std::uint8_t> prologue, const CoveredInstruction& instruction,
                                std::uint64_t procedure) {
  const std::size_t at = instruction.offset + instruction.decoded.rip_displacement_offset;
  const auto displacement = static_cast<std::int32_t>(exceptlog::LoadU32(&prologue[at]));
  return procedure + instruction.offset + instruction.length() + static_cast<std::uint64_t>(std::int64_t{displacement});
}

std::vector<std::uint8_t> BuildTrampoline32(std::span<const std::uint8_t> prologue, const TrampolinePlan& plan,
                                            std::uint32_t procedure, std::uint32_t trampoline) {
  std::vector<std::uint8_t> code(plan.size());
  std::copy_n(prologue.begin(), plan.covered, code.begin());
  const auto back = EncodeJump(trampoline + static_cast<std::uint32_t>(plan.covered),
                               procedure + static_cast<std::uint32_t>(plan.covered));
  std::copy(back.begin(), back.end(), code.begin() + static_cast<std::ptrdiff_t>(plan.covered));

  std::size_t next_stub = plan.covered + kJumpSize;
  for (const CoveredInstruction& instruction : plan.instructions) {
    if (instruction.decoded.relative == RelativeKind::kNone) continue;
    const std::int64_t target = BranchTarget(prologue, instruction);
    // A branch within the moved bytes moves with them.
    if (!LeavesCoveredBytes(target, plan.covered)) continue;
    const std::size_t end = instruction.offset + instruction.length();
    const auto displacement = std::span(code).subspan(instruction.offset + instruction.decoded.displacement_offset());
    const auto absolute_target = procedure + static_cast<std::uint32_t>(target);
    if (instruction.decoded.relative == RelativeKind::kShort) {
      const auto stub = EncodeJump(trampoline + static_cast<std::uint32_t>(next_stub), absolute_target);
      std::copy(stub.begin(), stub.end(), code.begin() + static_cast<std::ptrdiff_t>(next_stub));
      displacement[0] = static_cast<std::uint8_t>(next_stub - end);  // at most 15 + 5 + 5 * stubs: fits
      next_stub += kJumpSize;
    } else {
      exceptlog::StoreU32(displacement.data(), absolute_target - (trampoline + static_cast<std::uint32_t>(end)));
    }
  }
  return code;
}

// Moved bytes first, the jump back, then the stubs: a short jump that leaves
// the moved bytes, and a near branch whose target is out of its reach, goes
// to a stub that jumps on. The stubs lie at most a few dozen bytes after the
// branches, within reach of an 8-bit displacement.
std::vector<std::uint8_t> BuildTrampoline64(std::span<const std::uint8_t> prologue, const TrampolinePlan& plan,
                                            std::uint64_t procedure, std::uint64_t trampoline) {
  std::vector<std::uint8_t> code(prologue.begin(), prologue.begin() + static_cast<std::ptrdiff_t>(plan.covered));
  code.reserve(plan.size());
  AppendJump64(code, trampoline, procedure + plan.covered);

  for (const CoveredInstruction& instruction : plan.instructions) {
    const DecodedInstruction& decoded = instruction.decoded;
    const std::size_t end = instruction.offset + instruction.length();
    if (decoded.rip_relative) {
      const std::size_t at = instruction.offset + decoded.rip_displacement_offset;
      const auto displacement = Displacement32(trampoline + end, RipRelativeTarget(prologue, instruction, procedure));
      if (!displacement) {
        throw EHookError("an operand relative to the instruction pointer cannot reach its target from the trampoline");
      }
      exceptlog::StoreU32(&code[at], static_cast<std::uint32_t>(*displacement));
    }
    if (decoded.relative == RelativeKind::kNone) continue;
    const std::int64_t target = BranchTarget(prologue, instruction);
    if (!LeavesCoveredBytes(target, plan.covered)) continue;  // moves with the moved bytes
    const std::uint64_t absolute_target = procedure + static_cast<std::uint64_t>(target);
    const std::size_t at = instruction.offset + decoded.displacement_offset();
    if (decoded.relative == RelativeKind::kNear) {
      if (const auto displacement = Displacement32(trampoline + end, absolute_target)) {
        exceptlog::StoreU32(&code[at], static_cast<std::uint32_t>(*displacement));
        continue;
      }
      exceptlog::StoreU32(&code[at], static_cast<std::uint32_t>(code.size() - end));
    } else {
      code[at] = static_cast<std::uint8_t>(code.size() - end);
    }
    AppendJump64(code, trampoline, absolute_target);
  }
  return code;
}

}  // namespace

std::array<std::uint8_t, kJumpSize> EncodeJump(std::uint32_t at, std::uint32_t target) {
  std::array<std::uint8_t, kJumpSize> jump{0xE9};
  exceptlog::StoreU32(&jump[1], target - at - static_cast<std::uint32_t>(kJumpSize));
  return jump;
}

std::optional<std::array<std::uint8_t, kJumpSize>> EncodeNearJump64(std::uint64_t at, std::uint64_t target) {
  const auto displacement = Displacement32(at + kJumpSize, target);
  if (!displacement) return std::nullopt;
  std::array<std::uint8_t, kJumpSize> jump{0xE9};
  exceptlog::StoreU32(&jump[1], static_cast<std::uint32_t>(*displacement));
  return jump;
}

std::array<std::uint8_t, kAbsoluteJumpSize> EncodeAbsoluteJump(std::uint64_t target) {
  std::array<std::uint8_t, kAbsoluteJumpSize> jump{0xFF, 0x25};  // JMP [RIP+0]
  exceptlog::StoreU32(&jump[6], static_cast<std::uint32_t>(target));
  exceptlog::StoreU32(&jump[10], static_cast<std::uint32_t>(target >> 32));
  return jump;
}

TrampolinePlan PlanTrampoline(std::span<const std::uint8_t> prologue, CodeMode mode) {
  TrampolinePlan plan;
  plan.mode = mode;
  bool flow_ended = false;
  while (plan.covered < kJumpSize) {
    const auto here = prologue.subspan(std::min(plan.covered, prologue.size()));
    CoveredInstruction instruction{plan.covered, DecodeInstruction(here, mode)};
    const DecodedInstruction& decoded = instruction.decoded;
    if (decoded.status == DecodeStatus::kTruncated) {
      throw EHookError("the procedure's first instructions are not readable");
    }
    if (flow_ended && !IsPadding(here, decoded, mode)) {
      throw EHookError("the procedure is shorter than the jump to its hook");
    }
    if (decoded.relative != RelativeKind::kNone && decoded.operand_size_override && !decoded.rex_w()) {
      throw EHookError("a 16-bit relative branch cannot be moved");
    }
    if (mode == CodeMode::k64 && decoded.status == DecodeStatus::kInvalid) {
      throw EHookError("an unknown instruction cannot be moved");
    }
    if (decoded.rip_relative && decoded.address_size_override) {
      throw EHookError("an operand relative to the 32-bit instruction pointer cannot be moved");
    }
    flow_ended = flow_ended || decoded.ends_flow;
    plan.covered += instruction.length();  // an undecodable byte counts as one
    plan.instructions.push_back(instruction);
  }
  for (const CoveredInstruction& instruction : plan.instructions) {
    if (instruction.decoded.relative == RelativeKind::kNone ||
        !LeavesCoveredBytes(BranchTarget(prologue, instruction), plan.covered)) {
      continue;
    }
    if (instruction.decoded.relative == RelativeKind::kShort) ++plan.stubs;
    if (instruction.decoded.relative == RelativeKind::kNear && mode == CodeMode::k64) ++plan.near_exits;
  }
  return plan;
}

std::vector<std::uint64_t> RipRelativeTargets(std::span<const std::uint8_t> prologue, const TrampolinePlan& plan,
                                              std::uint64_t procedure) {
  std::vector<std::uint64_t> targets;
  for (const CoveredInstruction& instruction : plan.instructions) {
    if (instruction.decoded.rip_relative) targets.push_back(RipRelativeTarget(prologue, instruction, procedure));
  }
  return targets;
}

std::vector<std::uint8_t> BuildTrampoline(std::span<const std::uint8_t> prologue, const TrampolinePlan& plan,
                                          std::uint64_t procedure, std::uint64_t trampoline) {
  if (plan.mode == CodeMode::k64) return BuildTrampoline64(prologue, plan, procedure, trampoline);
  constexpr std::uint64_t kLimit32 = std::numeric_limits<std::uint32_t>::max();
  if (procedure > kLimit32 || trampoline > kLimit32) throw EHookError("32-bit code lies below 4 GB");
  return BuildTrampoline32(prologue, plan, static_cast<std::uint32_t>(procedure),
                           static_cast<std::uint32_t>(trampoline));
}

}  // namespace vellum::exceptlog

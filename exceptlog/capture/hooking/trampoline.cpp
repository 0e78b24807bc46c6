#include "exceptlog/capture/hooking/trampoline.h"

#include <algorithm>

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

// The fillers compilers and linkers put between procedures: INT3, NOP in its
// one- and multi-byte forms, and the "LEA reg, [reg + 0]" and "MOV reg, reg"
// that older GNU assemblers use.
bool IsPadding(std::span<const std::uint8_t> code, const DecodedInstruction& decoded) {
  if (!decoded.ok()) return false;
  const auto body = code.subspan(decoded.prefix_count, decoded.length - decoded.prefix_count);
  const std::uint8_t opcode = body[0];
  if (opcode == 0x90 || opcode == 0xCC) return true;
  if (opcode == 0x0F) return body.size() > 1 && body[1] == 0x1F;
  if (body.size() < 2) return false;
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

}  // namespace

std::array<std::uint8_t, kJumpSize> EncodeJump(std::uint32_t at, std::uint32_t target) {
  std::array<std::uint8_t, kJumpSize> jump{0xE9};
  exceptlog::StoreU32(&jump[1], target - at - static_cast<std::uint32_t>(kJumpSize));
  return jump;
}

TrampolinePlan PlanTrampoline(std::span<const std::uint8_t> prologue) {
  TrampolinePlan plan;
  bool flow_ended = false;
  while (plan.covered < kJumpSize) {
    const auto here = prologue.subspan(std::min(plan.covered, prologue.size()));
    CoveredInstruction instruction{plan.covered, DecodeInstruction(here)};
    if (instruction.decoded.status == DecodeStatus::kTruncated) {
      throw EHookError("the procedure's first instructions are not readable");
    }
    if (flow_ended && !IsPadding(here, instruction.decoded)) {
      throw EHookError("the procedure is shorter than the jump to its hook");
    }
    if (instruction.decoded.relative != RelativeKind::kNone && instruction.decoded.operand_size_override) {
      throw EHookError("a 16-bit relative branch cannot be moved");
    }
    flow_ended = flow_ended || instruction.decoded.ends_flow;
    plan.covered += instruction.length();  // an undecodable byte counts as one
    plan.instructions.push_back(instruction);
  }
  for (const CoveredInstruction& instruction : plan.instructions) {
    if (instruction.decoded.relative == RelativeKind::kShort &&
        LeavesCoveredBytes(BranchTarget(prologue, instruction), plan.covered)) {
      ++plan.stubs;
    }
  }
  return plan;
}

std::vector<std::uint8_t> BuildTrampoline(std::span<const std::uint8_t> prologue, const TrampolinePlan& plan,
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

}  // namespace vellum::exceptlog

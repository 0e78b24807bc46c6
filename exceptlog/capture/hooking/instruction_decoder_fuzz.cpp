// Any bytes, as 32-bit and as 64-bit code: the decoder walks them like a
// disassembler and never reads past them, answers lengths the processor could
// have with every displacement inside the instruction, and a trampoline
// planned and built from them stays inside its planned size, wherever it lands.
#include <cstddef>
#include <cstdint>
#include <span>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/instruction_decoder.h"
#include "exceptlog/capture/hooking/trampoline.h"

using namespace vellum::exceptlog;

namespace {

void Walk(std::span<const std::uint8_t> bytes, CodeMode mode) {
  for (std::size_t offset = 0; offset < bytes.size();) {
    const DecodedInstruction decoded = DecodeInstruction(bytes.subspan(offset), mode);
    if (decoded.length == 0 || decoded.length > kMaxInstructionLength) __builtin_trap();
    if (decoded.ok() && decoded.length > bytes.size() - offset) __builtin_trap();
    if (decoded.relative != RelativeKind::kNone &&
        (decoded.displacement_size == 0 || decoded.displacement_size >= decoded.length)) {
      __builtin_trap();
    }
    if (decoded.rip_relative && (mode != CodeMode::k64 || decoded.rip_displacement_offset + 4u > decoded.length)) {
      __builtin_trap();
    }
    offset += decoded.length;
  }
}

void Build(std::span<const std::uint8_t> bytes, const TrampolinePlan& plan, std::uint64_t procedure,
           std::uint64_t trampoline) {
  try {
    const auto code = BuildTrampoline(bytes, plan, procedure, trampoline);
    const bool exact = plan.mode == CodeMode::k32;
    if (exact ? code.size() != plan.size() : code.size() > plan.size()) __builtin_trap();
  } catch (const EHookError&) {
  }
}

void Plan(std::span<const std::uint8_t> bytes, CodeMode mode) {
  try {
    const TrampolinePlan plan = PlanTrampoline(bytes, mode);
    if (plan.covered < kJumpSize || plan.covered > bytes.size()) __builtin_trap();
    if (mode == CodeMode::k32) {
      Build(bytes, plan, 0x00401000, 0x10000000);
    } else {
      Build(bytes, plan, 0x1'4000'1000, 0x1'5000'0000);     // within reach
      Build(bytes, plan, 0x1'4000'1000, 0x7FF0'0000'0000);  // far beyond it
    }
  } catch (const EHookError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const CodeMode mode : {CodeMode::k32, CodeMode::k64}) {
    Walk(bytes, mode);
    Plan(bytes, mode);
  }
  return 0;
}

// Any bytes: the decoder walks them like a disassembler and never reads past
// them, answers lengths the processor could have, and a trampoline planned
// and built from them stays inside its own size.
#include <cstddef>
#include <cstdint>
#include <span>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/instruction_decoder.h"
#include "exceptlog/capture/hooking/trampoline.h"

using namespace vellum::exceptlog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (std::size_t offset = 0; offset < size;) {
    const DecodedInstruction decoded = DecodeInstruction(bytes.subspan(offset));
    if (decoded.length == 0 || decoded.length > kMaxInstructionLength) __builtin_trap();
    if (decoded.ok() && decoded.length > size - offset) __builtin_trap();
    if (decoded.relative != RelativeKind::kNone &&
        (decoded.displacement_size == 0 || decoded.displacement_size >= decoded.length)) {
      __builtin_trap();
    }
    offset += decoded.length;
  }
  try {
    const TrampolinePlan plan = PlanTrampoline(bytes);
    if (plan.covered < kJumpSize || plan.covered > size) __builtin_trap();
    const auto code = BuildTrampoline(bytes, plan, 0x00401000, 0x10000000);
    if (code.size() != plan.size()) __builtin_trap();
  } catch (const EHookError&) {
  }
  return 0;
}

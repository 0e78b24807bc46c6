// Length decoding of 32-bit x86 instructions. Hooks copy whole instructions out
// of a procedure's start, so they must know where each instruction ends and
// which of them carry a displacement relative to their own address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vellum::exceptlog {

enum class DecodeStatus : std::uint8_t {
  kOk,
  kInvalid,    // no instruction the processor accepts; counts as one byte
  kTruncated,  // the instruction runs past the bytes given
};

enum class RelativeKind : std::uint8_t {
  kNone,
  kShort,  // 8-bit displacement: Jcc, JMP, LOOPcc, JCXZ
  kNear,   // 16- or 32-bit displacement: CALL, JMP, Jcc, XBEGIN
};

struct DecodedInstruction {
  DecodeStatus status = DecodeStatus::kInvalid;
  // Bytes the instruction occupies; 1 for invalid and truncated input, so a
  // caller that walks on always advances.
  std::uint8_t length = 1;
  std::uint8_t prefix_count = 0;
  bool operand_size_override = false;  // 0x66 seen
  bool address_size_override = false;  // 0x67 seen
  // Control never reaches the next instruction (RET, JMP, IRET...).
  bool ends_flow = false;
  RelativeKind relative = RelativeKind::kNone;
  // The relative displacement always closes the instruction; its size is 1,
  // 2 (with 0x66) or 4 bytes.
  std::uint8_t displacement_size = 0;

  bool ok() const { return status == DecodeStatus::kOk; }
  std::uint8_t displacement_offset() const { return static_cast<std::uint8_t>(length - displacement_size); }
};

// The processor refuses longer instructions, however they are made up.
inline constexpr std::size_t kMaxInstructionLength = 15;

// Decodes the instruction at the start of `code`; never reads past it.
DecodedInstruction DecodeInstruction(std::span<const std::uint8_t> code);

}  // namespace vellum::exceptlog

// Length decoding of x86 instructions, in 32-bit and in 64-bit code. Hooks copy
// whole instructions out of a procedure's start, so they must know where each
// instruction ends and which of them carry a displacement relative to their
// own address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vellum::exceptlog {

// The processor mode the bytes run in. The same bytes mean different
// instructions in each: 0x40-0x4F are INC/DEC in 32-bit code and REX prefixes
// in 64-bit code, and several one-byte opcodes are gone from 64-bit code.
enum class CodeMode : std::uint8_t {
  k32,  // 32-bit protected mode
  k64,  // 64-bit long mode
};

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
  std::uint8_t prefix_count = 0;  // legacy prefixes and REX prefixes
  // The REX prefix in effect (64-bit code only), 0 when there is none. A REX
  // counts only right before the opcode; one followed by another prefix is
  // still part of the instruction but ignored by the processor.
  std::uint8_t rex = 0;
  bool operand_size_override = false;  // 0x66 seen
  bool address_size_override = false;  // 0x67 seen: 16-bit addressing in 32-bit code, 32-bit in 64-bit code
  // Control never reaches the next instruction (RET, JMP, IRET...).
  bool ends_flow = false;
  RelativeKind relative = RelativeKind::kNone;
  // The relative displacement always closes the instruction; its size is 1,
  // 2 (with 0x66) or 4 bytes.
  std::uint8_t displacement_size = 0;
  // 64-bit code only: a memory operand addressed relative to the end of the
  // instruction (ModRM mod 00, rm 101). Its 32-bit displacement starts at
  // `rip_displacement_offset`; an immediate may follow it, so unlike a
  // branch's displacement it need not close the instruction. With 0x67 the
  // address is computed in 32 bits.
  bool rip_relative = false;
  std::uint8_t rip_displacement_offset = 0;

  bool ok() const { return status == DecodeStatus::kOk; }
  bool rex_w() const { return (rex & 0x08) != 0; }
  std::uint8_t displacement_offset() const { return static_cast<std::uint8_t>(length - displacement_size); }
};

// The processor refuses longer instructions, however they are made up.
inline constexpr std::size_t kMaxInstructionLength = 15;

// Decodes the instruction at the start of `code`, as the processor does in
// `mode`; never reads past the bytes given.
DecodedInstruction DecodeInstruction(std::span<const std::uint8_t> code, CodeMode mode = CodeMode::k32);

}  // namespace vellum::exceptlog

#include "exceptlog/capture/hooking/instruction_decoder.h"

#include <array>

namespace vellum::exceptlog {
namespace {

// What follows an opcode byte. The tables below follow the processor
// manufacturers' opcode maps for 32-bit protected mode; the 64-bit tables are
// derived from them.
enum OperandFlags : std::uint32_t {
  kModRm = 1 << 0,
  kImm8 = 1 << 1,
  kImm16 = 1 << 2,
  kImm32 = 1 << 3,
  kImmZ = 1 << 4,  // 32 bits, 16 after the operand-size prefix
  kRel8 = 1 << 5,
  kRelZ = 1 << 6,          // 32 bits, 16 after the operand-size prefix
  kMemoryOffset = 1 << 7,  // 32 bits, 16 after the address-size prefix
  kFarPointer = 1 << 8,    // an immZ offset and a 16-bit selector
  kTestGroup = 1 << 9,     // 0xF6/0xF7: TEST (reg 0 and 1) has an immediate, NOT..IDIV none
  kPrefix = 1 << 10,
  kInvalid = 1 << 11,
  kEndsFlow = 1 << 12,
  kRegisterOnly = 1 << 13,    // MOV to/from CRn/DRn/TRn: the mod field is ignored
  kEscape = 1 << 14,          // 0x0F
  kExtendedPrefix = 1 << 15,  // 0xC4/0xC5 (VEX), 0x62 (EVEX), 0x8F (XOP) when the next byte says so
  kImmV = 1 << 16,            // MOV reg, imm: immZ, or 64 bits with REX.W
  kRex = 1 << 17,             // 0x40-0x4F in 64-bit code
};

using OpcodeTable = std::array<std::uint32_t, 256>;

constexpr OpcodeTable MakePrimaryTable() {
  OpcodeTable t{};
  // ADD, OR, ADC, SBB, AND, SUB, XOR, CMP share one layout per row of eight.
  for (unsigned row = 0; row < 0x40; row += 8) {
    t[row + 0] = t[row + 1] = t[row + 2] = t[row + 3] = kModRm;
    t[row + 4] = kImm8;
    t[row + 5] = kImmZ;
  }
  for (unsigned prefix : {0x26u, 0x2Eu, 0x36u, 0x3Eu, 0x64u, 0x65u, 0x66u, 0x67u, 0xF0u, 0xF2u, 0xF3u}) {
    t[prefix] = kPrefix;
  }
  t[0x0F] = kEscape;
  t[0x62] = kModRm | kExtendedPrefix;  // BOUND
  t[0x63] = kModRm;                    // ARPL
  t[0x68] = kImmZ;
  t[0x69] = kModRm | kImmZ;
  t[0x6A] = kImm8;
  t[0x6B] = kModRm | kImm8;
  for (unsigned op = 0x70; op <= 0x7F; ++op) t[op] = kRel8;
  t[0x80] = kModRm | kImm8;
  t[0x81] = kModRm | kImmZ;
  t[0x82] = kModRm | kImm8;
  t[0x83] = kModRm | kImm8;
  for (unsigned op = 0x84; op <= 0x8F; ++op) t[op] = kModRm;
  t[0x8F] |= kExtendedPrefix;  // POP Ev
  t[0x9A] = kFarPointer;
  for (unsigned op = 0xA0; op <= 0xA3; ++op) t[op] = kMemoryOffset;
  t[0xA8] = kImm8;
  t[0xA9] = kImmZ;
  for (unsigned op = 0xB0; op <= 0xB7; ++op) t[op] = kImm8;
  for (unsigned op = 0xB8; op <= 0xBF; ++op) t[op] = kImmV;
  t[0xC0] = t[0xC1] = kModRm | kImm8;
  t[0xC2] = kImm16 | kEndsFlow;
  t[0xC3] = kEndsFlow;
  t[0xC4] = t[0xC5] = kModRm | kExtendedPrefix;  // LES, LDS
  t[0xC6] = kModRm | kImm8;
  t[0xC7] = kModRm | kImmZ;
  t[0xC8] = kImm16 | kImm8;  // ENTER
  t[0xCA] = kImm16 | kEndsFlow;
  t[0xCB] = kEndsFlow;
  t[0xCD] = kImm8;
  t[0xCF] = kEndsFlow;
  for (unsigned op = 0xD0; op <= 0xD3; ++op) t[op] = kModRm;
  t[0xD4] = t[0xD5] = kImm8;
  for (unsigned op = 0xD8; op <= 0xDF; ++op) t[op] = kModRm;  // x87
  for (unsigned op = 0xE0; op <= 0xE3; ++op) t[op] = kRel8;
  for (unsigned op = 0xE4; op <= 0xE7; ++op) t[op] = kImm8;
  t[0xE8] = kRelZ;
  t[0xE9] = kRelZ | kEndsFlow;
  t[0xEA] = kFarPointer | kEndsFlow;
  t[0xEB] = kRel8 | kEndsFlow;
  t[0xF6] = t[0xF7] = kModRm | kTestGroup;
  t[0xFE] = t[0xFF] = kModRm;
  return t;
}

constexpr OpcodeTable MakeSecondaryTable() {
  OpcodeTable t{};
  t.fill(kModRm);  // most of the two-byte map is ModRM-only (SSE, CMOVcc, SETcc...)
  for (unsigned op :
       {0x04u, 0x0Au, 0x0Cu, 0x25u, 0x27u, 0x36u, 0x39u, 0x3Bu, 0x3Cu, 0x3Du, 0x3Eu, 0x3Fu, 0x7Au, 0x7Bu}) {
    t[op] = kInvalid;
  }
  // 0xA6 and 0xA7 stay ModRM-only: one maker's string-crypto instructions
  // use them, with a register-form ModRM byte naming the operation.
  for (unsigned op : {0x05u, 0x06u, 0x07u, 0x08u, 0x09u, 0x0Bu, 0x0Eu, 0x30u, 0x31u, 0x32u, 0x33u,
                      0x34u, 0x35u, 0x37u, 0x77u, 0xA0u, 0xA1u, 0xA2u, 0xA8u, 0xA9u, 0xAAu}) {
    t[op] = 0;
  }
  for (unsigned op = 0xC8; op <= 0xCF; ++op) t[op] = 0;  // BSWAP
  t[0x07] = kEndsFlow;                                   // SYSRET
  t[0x35] = kEndsFlow;                                   // SYSEXIT
  t[0x0F] = kModRm | kImm8;                              // 3DNow!: the operation byte follows the operands
  for (unsigned op = 0x20; op <= 0x24; ++op) t[op] = kModRm | kRegisterOnly;
  t[0x26] = kModRm | kRegisterOnly;
  for (unsigned op = 0x70; op <= 0x73; ++op) t[op] = kModRm | kImm8;
  for (unsigned op = 0x80; op <= 0x8F; ++op) t[op] = kRelZ;
  for (unsigned op : {0xA4u, 0xACu, 0xBAu, 0xC2u, 0xC4u, 0xC5u, 0xC6u}) t[op] = kModRm | kImm8;
  return t;
}

// 64-bit code drops the one-byte forms of INC/DEC for REX, and the
// instructions that made no sense there: segment pushes and pops, decimal
// arithmetic, PUSHA/POPA, BOUND (0x62 is always EVEX), far direct branches,
// INTO, SALC and 0x82 (an alias of 0x80).
constexpr OpcodeTable MakePrimaryTable64() {
  OpcodeTable t = MakePrimaryTable();
  for (unsigned op = 0x40; op <= 0x4F; ++op) t[op] = kRex;
  for (unsigned op : {0x06u, 0x07u, 0x0Eu, 0x16u, 0x17u, 0x1Eu, 0x1Fu, 0x27u, 0x2Fu, 0x37u,
                      0x3Fu, 0x60u, 0x61u, 0x82u, 0x9Au, 0xCEu, 0xD4u, 0xD5u, 0xD6u, 0xEAu}) {
    t[op] = kInvalid;
  }
  return t;
}

// The test registers (MOV to and from TRn) are gone from 64-bit code.
constexpr OpcodeTable MakeSecondaryTable64() {
  OpcodeTable t = MakeSecondaryTable();
  t[0x24] = t[0x26] = kInvalid;
  return t;
}

struct ModeTables {
  OpcodeTable primary;
  OpcodeTable secondary;
};

constexpr ModeTables kTables32 = {MakePrimaryTable(), MakeSecondaryTable()};
constexpr ModeTables kTables64 = {MakePrimaryTable64(), MakeSecondaryTable64()};

// Reads forward through the caller's bytes and never beyond them.
class Cursor {
 public:
  explicit Cursor(std::span<const std::uint8_t> code) : code_(code) {}
  bool Has(std::size_t count) const { return code_.size() - position_ >= count; }
  std::uint8_t Peek() const { return code_[position_]; }
  std::uint8_t Next() { return code_[position_++]; }
  bool Skip(std::size_t count) {
    if (!Has(count)) return false;
    position_ += count;
    return true;
  }
  std::size_t position() const { return position_; }

 private:
  std::span<const std::uint8_t> code_;
  std::size_t position_ = 0;
};

struct Prefixes {
  unsigned count = 0;
  std::uint8_t rex = 0;  // only when it came last
  bool operand_size = false;
  bool address_size = false;
  bool repeat_not_equal = false;  // 0xF2
};

struct OpcodeResult {
  DecodeStatus status = DecodeStatus::kOk;
  std::uint32_t flags = 0;
  std::uint8_t opcode = 0;
  bool primary_map = false;  // a one-byte opcode, not one of the 0x0F or extended maps
};

// The opcode flags of an instruction in one of the maps that VEX, EVEX and
// XOP select; their immediates depend only on map and opcode.
std::uint32_t ExtendedMapFlags(unsigned map, std::uint8_t opcode, bool is_xop) {
  if (is_xop) {
    switch (map) {
      case 8: return kModRm | kImm8;
      case 9: return kModRm;
      case 10: return kModRm | kImm32;  // BEXTR, LWPINS, LWPVAL with a 32-bit control word
      default: return kInvalid;
    }
  }
  switch (map) {
    case 1:
      if (opcode == 0x77) return 0;  // VZEROUPPER, VZEROALL
      if ((opcode >= 0x70 && opcode <= 0x73) || opcode == 0xC2 || (opcode >= 0xC4 && opcode <= 0xC6)) {
        return kModRm | kImm8;
      }
      return kModRm;
    case 2: return kModRm;
    case 3: return kModRm | kImm8;
    case 5:
    case 6: return kModRm;  // EVEX half-precision maps
    default: return kInvalid;
  }
}

// In 32-bit mode 0xC4, 0xC5 and 0x62 begin a VEX or EVEX prefix only when the
// next byte would be a register-form ModRM (LES, LDS and BOUND need memory);
// in 64-bit mode, where those three are gone, they always do. 0x8F begins XOP
// only when that byte selects map 8 or above (POP Ev has reg 0 there).
bool StartsExtendedPrefix(std::uint8_t opcode, std::uint8_t next, CodeMode mode) {
  if (opcode == 0x8F) return (next & 0x1F) >= 8;
  return mode == CodeMode::k64 || (next & 0xC0) == 0xC0;
}

OpcodeResult DecodeExtendedOpcode(std::uint8_t lead, Cursor& cursor) {
  // Payload bytes after the lead byte, before the opcode.
  const std::size_t payload = lead == 0xC5 ? 1 : lead == 0x62 ? 3 : 2;
  if (!cursor.Has(payload + 1)) return {DecodeStatus::kTruncated};
  const std::uint8_t first = cursor.Next();
  cursor.Skip(payload - 1);
  const std::uint8_t opcode = cursor.Next();
  unsigned map = 1;
  if (lead == 0xC4 || lead == 0x8F) map = first & 0x1F;
  if (lead == 0x62) map = first & 0x07;
  return {DecodeStatus::kOk, ExtendedMapFlags(map, opcode, lead == 0x8F), opcode};
}

OpcodeResult DecodeOpcode(Cursor& cursor, const Prefixes& prefixes, const ModeTables& tables, CodeMode mode) {
  const std::uint8_t opcode = cursor.Next();
  const std::uint32_t flags = tables.primary[opcode];
  if (flags & kEscape) {
    if (!cursor.Has(1)) return {DecodeStatus::kTruncated};
    const std::uint8_t second = cursor.Next();
    if (second == 0x38 || second == 0x3A) {
      if (!cursor.Skip(1)) return {DecodeStatus::kTruncated};
      return {DecodeStatus::kOk, static_cast<std::uint32_t>(second == 0x3A ? kModRm | kImm8 : kModRm), second};
    }
    if (second == 0x78 && (prefixes.operand_size || prefixes.repeat_not_equal)) {
      // EXTRQ and INSERTQ carry two 8-bit immediates (length and index).
      return {DecodeStatus::kOk, kModRm | kImm16, second};
    }
    return {DecodeStatus::kOk, tables.secondary[second], second};
  }
  if (flags & kExtendedPrefix) {
    if (!cursor.Has(1)) return {DecodeStatus::kTruncated};
    if (StartsExtendedPrefix(opcode, cursor.Peek(), mode)) return DecodeExtendedOpcode(opcode, cursor);
  }
  return {DecodeStatus::kOk, flags, opcode, true};
}

struct MemoryOperand {
  bool rip_relative = false;
  std::size_t displacement_offset = 0;
};

// Skips ModRM, SIB and displacement; answers false when they run past the end.
// REX.B and REX.X change no length: with REX.B, rm 100 still means a SIB byte
// and mod 00 rm 101 still means a bare displacement (relative to the next
// instruction in 64-bit code, where no absolute disp32 form is left but the SIB
// one).
bool SkipModRm(Cursor& cursor, std::uint8_t modrm, bool address_size16, CodeMode mode, MemoryOperand& operand) {
  const unsigned mod = modrm >> 6;
  const unsigned rm = modrm & 7;
  if (mod == 3) return true;
  std::size_t displacement = 0;
  if (mode == CodeMode::k64 && mod == 0 && rm == 5) {
    operand.rip_relative = true;
    operand.displacement_offset = cursor.position();
  }
  if (address_size16) {
    if (mod == 0 && rm == 6) displacement = 2;
    if (mod == 1) displacement = 1;
    if (mod == 2) displacement = 2;
  } else {
    if (rm == 4) {  // a SIB byte follows; base 101 without displacement means disp32
      if (!cursor.Has(1)) return false;
      const std::uint8_t sib = cursor.Next();
      if (mod == 0 && (sib & 7) == 5) displacement = 4;
    }
    if (mod == 0 && rm == 5) displacement = 4;
    if (mod == 1) displacement = 1;
    if (mod == 2) displacement = 4;
  }
  return cursor.Skip(displacement);
}

DecodedInstruction Failure(DecodeStatus status) {
  DecodedInstruction failure;
  failure.status = status;
  return failure;
}

}  // namespace

DecodedInstruction DecodeInstruction(std::span<const std::uint8_t> code, CodeMode mode) {
  const ModeTables& tables = mode == CodeMode::k64 ? kTables64 : kTables32;
  Cursor cursor(code);
  Prefixes prefixes;
  while (true) {
    if (!cursor.Has(1)) return Failure(DecodeStatus::kTruncated);
    const std::uint8_t byte = cursor.Peek();
    const std::uint32_t byte_flags = tables.primary[byte];
    if (!(byte_flags & (kPrefix | kRex))) break;
    cursor.Next();
    if (++prefixes.count >= kMaxInstructionLength) return Failure(DecodeStatus::kInvalid);
    prefixes.rex = (byte_flags & kRex) ? byte : 0;
    if (byte == 0x66) prefixes.operand_size = true;
    if (byte == 0x67) prefixes.address_size = true;
    if (byte == 0xF2) prefixes.repeat_not_equal = true;
  }

  const OpcodeResult opcode = DecodeOpcode(cursor, prefixes, tables, mode);
  if (opcode.status != DecodeStatus::kOk) return Failure(opcode.status);
  const std::uint32_t flags = opcode.flags;
  if (flags & kInvalid) return Failure(DecodeStatus::kInvalid);

  DecodedInstruction result;
  result.prefix_count = static_cast<std::uint8_t>(prefixes.count);
  result.rex = prefixes.rex;
  result.operand_size_override = prefixes.operand_size;
  result.address_size_override = prefixes.address_size;
  // REX.W outweighs 0x66; a 64-bit operand still takes a 32-bit immediate
  // (and branches a 32-bit displacement), save MOV reg, imm64.
  const std::size_t z_size = prefixes.operand_size && !result.rex_w() ? 2 : 4;
  const bool is_64 = mode == CodeMode::k64;
  const bool address_size16 = prefixes.address_size && !is_64;
  const bool primary_map = opcode.primary_map;

  std::uint8_t modrm = 0;
  MemoryOperand memory;
  if (flags & kModRm) {
    if (!cursor.Has(1)) return Failure(DecodeStatus::kTruncated);
    modrm = cursor.Next();
    if (!(flags & kRegisterOnly) && !SkipModRm(cursor, modrm, address_size16, mode, memory)) {
      return Failure(DecodeStatus::kTruncated);
    }
  }
  const unsigned reg = (modrm >> 3) & 7;

  std::size_t immediate = 0;
  if (flags & kImm8) immediate += 1;
  if (flags & kImm16) immediate += 2;
  if (flags & kImm32) immediate += 4;
  if (flags & kImmZ) immediate += z_size;
  if (flags & kImmV) immediate += result.rex_w() ? 8 : z_size;
  if (flags & kMemoryOffset) immediate += is_64 ? (prefixes.address_size ? 4 : 8) : (prefixes.address_size ? 2 : 4);
  if (flags & kFarPointer) immediate += z_size + 2;
  if ((flags & kTestGroup) && reg <= 1) immediate += opcode.opcode == 0xF6 ? 1 : z_size;
  if (flags & kRel8) {
    immediate += 1;
    result.relative = RelativeKind::kShort;
    result.displacement_size = 1;
  }
  if (flags & kRelZ) {
    immediate += z_size;
    result.relative = RelativeKind::kNear;
    result.displacement_size = static_cast<std::uint8_t>(z_size);
  }
  if (primary_map && opcode.opcode == 0xC7 && modrm == 0xF8) {  // XBEGIN rel16/32
    result.relative = RelativeKind::kNear;
    result.displacement_size = static_cast<std::uint8_t>(z_size);
  }
  if (!cursor.Skip(immediate)) return Failure(DecodeStatus::kTruncated);
  if (cursor.position() > kMaxInstructionLength) return Failure(DecodeStatus::kInvalid);

  result.rip_relative = memory.rip_relative;
  result.rip_displacement_offset = static_cast<std::uint8_t>(memory.displacement_offset);
  result.ends_flow = (flags & kEndsFlow) != 0 || (primary_map && opcode.opcode == 0xFF && (reg == 4 || reg == 5));
  result.status = DecodeStatus::kOk;
  result.length = static_cast<std::uint8_t>(cursor.position());
  return result;
}

}  // namespace vellum::exceptlog

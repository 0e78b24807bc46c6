#include "exceptlog/capture/callstack/call_encodings.h"

#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {

namespace {

bool InRange(std::uint8_t value, std::uint8_t low, std::uint8_t high) {
  return value >= low && value <= high;
}

// ModRM values of "call [reg]" forms: r/m 100 needs a SIB byte and, with
// mod 00, r/m 101 is an absolute address, so those are other encodings.
bool RegisterIndirect(std::uint8_t modrm, std::uint8_t base) {
  const std::uint8_t reg = static_cast<std::uint8_t>(modrm - base);
  if (modrm < base || reg > 7) return false;
  return base == 0x10 ? (reg <= 3 || reg >= 6) : reg != 4;
}

// In 64-bit code a REX prefix (0x40-0x4F) before the opcode names one of
// the upper registers; the call starts there.
std::uint32_t RexLength(const CodeTail& s, std::size_t opcode_index, ProcessBits bits) {
  return bits == ProcessBits::k64 && opcode_index > 0 && (s[opcode_index - 1] & 0xF0) == 0x40 ? 1 : 0;
}

CallMatch Match(CallEncoding encoding, std::uint64_t return_address, std::uint32_t length) {
  return CallMatch{encoding, return_address - length, 0};
}

// The target of a 32-bit displacement from `next`: it wraps around 4 GB in
// 32-bit code and is sign-extended in 64-bit code.
std::uint64_t Displaced(std::uint64_t next, std::uint32_t displacement, ProcessBits bits) {
  if (bits == ProcessBits::k32) return static_cast<std::uint32_t>(next + displacement);
  return next + static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(displacement)));
}

}  // namespace

std::uint64_t FollowImportThunk(std::uint64_t address, const MemoryReader& memory, ProcessBits bits) {
  std::uint8_t code[8];
  if (!RangeFits(address, sizeof code) || !memory.Read(address, code, sizeof code)) return address;
  if (code[0] != 0xFF || code[1] != 0x25) return address;
  const bool filler = (code[6] == 0x8B && code[7] == 0xC0) || (code[6] == 0x90 && code[7] == 0x90);
  if (!filler) return address;
  if (bits == ProcessBits::k64) {
    const auto target = memory.ReadValue<std::uint64_t>(Displaced(address + 6, LoadU32(code + 2), bits));
    return target ? *target : address;
  }
  const auto target = memory.ReadValue<std::uint32_t>(LoadU32(code + 2));
  return target ? *target : address;
}

CallMatch MatchCall(const CodeTail& s, std::uint64_t return_address, const MemoryReader& memory, ProcessBits bits) {
  if (return_address < s.size()) return {};

  if (s[2] == 0xE8) {
    const std::uint64_t target = Displaced(return_address, LoadU32(&s[3]), bits);
    if (memory.IsReadable(target, 1)) {
      CallMatch match = Match(CallEncoding::kRelative, return_address, 5);
      const std::uint64_t resolved = FollowImportThunk(target, memory, bits);
      std::uint8_t head[5];
      if (RangeFits(resolved, sizeof head) && memory.Read(resolved, head, sizeof head) && head[0] != 0xE8) {
        match.target = resolved;
      }
      return match;
    }
  }
  if (s[5] == 0xFF && InRange(s[6], 0xD0, 0xD7)) {
    return Match(CallEncoding::kRegister, return_address, 2 + RexLength(s, 5, bits));
  }
  if (s[5] == 0xFF && RegisterIndirect(s[6], 0x10)) {
    return Match(CallEncoding::kThroughRegister, return_address, 2 + RexLength(s, 5, bits));
  }
  if (s[4] == 0xFF && RegisterIndirect(s[5], 0x50)) {
    return Match(CallEncoding::kThroughRegisterOffset8, return_address, 3 + RexLength(s, 4, bits));
  }
  if (s[1] == 0xFF && RegisterIndirect(s[2], 0x90)) {
    return Match(CallEncoding::kThroughRegisterOffset32, return_address, 6 + RexLength(s, 1, bits));
  }
  if (s[4] == 0xFF && s[5] == 0x14 && s[6] == 0x24) return Match(CallEncoding::kThroughStack, return_address, 3);
  if (s[3] == 0xFF && s[4] == 0x54 && s[5] == 0x24) {
    return Match(CallEncoding::kThroughStackOffset8, return_address, 4);
  }
  if (s[0] == 0xFF && s[1] == 0x94 && s[2] == 0x24) {
    return Match(CallEncoding::kThroughStackOffset32, return_address, 7);
  }
  if (s[1] == 0xFF && s[2] == 0x15) {
    const std::uint64_t cell =
        bits == ProcessBits::k64 ? Displaced(return_address, LoadU32(&s[3]), bits) : LoadU32(&s[3]);
    if (memory.IsReadable(cell, PointerSize(bits))) return Match(CallEncoding::kThroughPointer, return_address, 6);
  }
  return {};
}

}  // namespace vellum::exceptlog

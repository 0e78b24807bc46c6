// Which call instruction, if any, ends exactly at a return address. A stack
// scan meets every word of the stack; a word is taken for a return address
// when the code before it is a call, in one of the encodings compilers use
// for x86 calls. 64-bit code has the same encodings, with a REX prefix for
// the upper eight registers and the pointer form relative to the next
// instruction instead of absolute. They are tried in a fixed order, because the 7 bytes before
// a word can look like more than one of them.
#pragma once

#include <array>
#include <cstdint>

#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

enum class CallEncoding : std::uint8_t {
  kNone,
  kRelative,                 // E8 rel32
  kRegister,                 // FF D0+r
  kThroughRegister,          // FF 10+r (not ESP, EBP)
  kThroughRegisterOffset8,   // FF 50+r disp8 (not ESP)
  kThroughRegisterOffset32,  // FF 90+r disp32 (not ESP)
  kThroughStack,             // FF 14 24
  kThroughStackOffset8,      // FF 54 24 disp8
  kThroughStackOffset32,     // FF 94 24 disp32
  kThroughPointer,           // FF 15 ptr32; 64-bit code: FF 15 disp32 from the next instruction
};

// The 7 bytes that end at the candidate return address: bytes[6] is the byte
// just before it.
using CodeTail = std::array<std::uint8_t, 7>;

struct CallMatch {
  CallEncoding encoding = CallEncoding::kNone;
  std::uint64_t call_site = 0;  // address of the call instruction
  // For a relative call: the call's target, already followed through an
  // import thunk; 0 when it is not to be listed (see MatchCall).
  std::uint64_t target = 0;
};

// Tries every encoding in order on the code before `return_address`. A
// relative call counts only when its target is readable; its target is
// listed when 5 bytes of it (after an import thunk) are readable and it does
// not start with another relative call. A call through a memory pointer
// counts only when the pointer's cell is readable.
// `bits` is the code's: a 32-bit relative target wraps around 4 GB, a
// 64-bit one does not.
CallMatch MatchCall(const CodeTail& bytes, std::uint64_t return_address, const MemoryReader& memory,
                    ProcessBits bits = ProcessBits::k32);

// An import thunk is "JMP [cell]" (FF 25 cell32; in 64-bit code the cell's
// displacement from the next instruction) padded with "MOV EAX, EAX" (8B C0)
// - or with two NOPs (90 90), as GNU ld pads its thunks. Answers what the
// cell holds, or `address` itself when it is no thunk or the cell cannot be
// read.
std::uint64_t FollowImportThunk(std::uint64_t address, const MemoryReader& memory, ProcessBits bits = ProcessBits::k32);

}  // namespace vellum::exceptlog

#include "exceptlog/capture/hooking/trampoline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "exceptlog/capture/hooking/hook_errors.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint32_t kProcedure = 0x00401000;
constexpr std::uint32_t kTrampoline = 0x7FF00000;  // far away, above the procedure

std::vector<std::uint8_t> Prologue(std::vector<std::uint8_t> bytes) {
  bytes.resize(std::max<std::size_t>(bytes.size(), kPrologueWindow), 0xCC);
  return bytes;
}

std::uint32_t Read32(const std::vector<std::uint8_t>& code, std::size_t at) {
  return code[at] | code[at + 1] << 8 | code[at + 2] << 16 | static_cast<std::uint32_t>(code[at + 3]) << 24;
}

// Where the branch at `offset` of `code` (placed at `base`) finally leads,
// following a stub jump inside the same code.
std::uint32_t FinalTarget(const std::vector<std::uint8_t>& code, std::uint32_t base, std::size_t offset) {
  const DecodedInstruction decoded = DecodeInstruction(std::span(code).subspan(offset));
  const std::size_t end = offset + decoded.length;
  const auto at = offset + decoded.displacement_offset();
  const std::int32_t distance =
      decoded.displacement_size == 1 ? static_cast<std::int8_t>(code[at]) : static_cast<std::int32_t>(Read32(code, at));
  const std::uint32_t target = base + static_cast<std::uint32_t>(end) + static_cast<std::uint32_t>(distance);
  const std::size_t inside = target - base;
  if (target >= base && inside < code.size() && inside != offset && code[inside] == 0xE9) {
    return FinalTarget(code, base, inside);
  }
  return target;
}

// Every relative branch among the covered instructions reaches, from the
// trampoline, the place it reached from the procedure - or the same place
// inside the moved bytes - and the trampoline ends with the jump back.
void ExpectBranchesPreserved(const std::vector<std::uint8_t>& prologue) {
  SCOPED_TRACE(::testing::PrintToString(prologue));
  const TrampolinePlan plan = PlanTrampoline(prologue);
  const auto code = BuildTrampoline(prologue, plan, kProcedure, kTrampoline);
  ASSERT_EQ(code.size(), plan.size());
  for (const CoveredInstruction& instruction : plan.instructions) {
    if (instruction.decoded.relative == RelativeKind::kNone) {
      for (std::size_t i = 0; i < instruction.length(); ++i) {
        EXPECT_EQ(code[instruction.offset + i], prologue[instruction.offset + i]) << "moved unchanged";
      }
      continue;
    }
    const std::uint32_t original = FinalTarget(prologue, kProcedure, instruction.offset);
    const std::uint32_t moved = FinalTarget(code, kTrampoline, instruction.offset);
    if (original - kProcedure < plan.covered) {
      EXPECT_EQ(moved - kTrampoline, original - kProcedure) << "a branch within the moved bytes moves along";
    } else {
      EXPECT_EQ(moved, original);
    }
  }
  EXPECT_EQ(code[plan.covered], 0xE9);
  EXPECT_EQ(FinalTarget(code, kTrampoline, plan.covered), kProcedure + plan.covered);
}

TEST(Trampoline, CoversWholeInstructionsUntilFiveBytes) {
  // push ebp; mov ebp, esp; sub esp, 16
  const TrampolinePlan plan = PlanTrampoline(Prologue({0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10}));
  EXPECT_EQ(plan.covered, 6u);
  EXPECT_EQ(plan.stubs, 0u);
  EXPECT_EQ(plan.size(), 11u);
  // An undecodable byte counts as one byte.
  EXPECT_EQ(PlanTrampoline(Prologue({0x0F, 0x04, 0x90, 0x90, 0x90, 0x55})).covered, 5u);
  // mov edi, edi; push ebp; mov ebp, esp: exactly five.
  EXPECT_EQ(PlanTrampoline(Prologue({0x8B, 0xFF, 0x55, 0x8B, 0xEC})).covered, 5u);
}

TEST(Trampoline, ShortJumpsLeavingTheMovedBytesGoThroughStubs) {
  // test eax, eax; jz +0x10; add eax, 1
  const auto prologue = Prologue({0x85, 0xC0, 0x74, 0x10, 0x83, 0xC0, 0x01});
  const TrampolinePlan plan = PlanTrampoline(prologue);
  EXPECT_EQ(plan.covered, 7u);
  EXPECT_EQ(plan.stubs, 1u);
  EXPECT_EQ(plan.size(), 7u + 5u + 5u);
  const auto code = BuildTrampoline(prologue, plan, kProcedure, kTrampoline);
  EXPECT_EQ(code[2], 0x74);
  EXPECT_EQ(code[3], 12 - 4) << "the jz now reaches the stub after the jump back";
  EXPECT_EQ(code[12], 0xE9);
  EXPECT_EQ(kTrampoline + 17 + Read32(code, 13), kProcedure + 4 + 0x10);
  ExpectBranchesPreserved(prologue);
}

TEST(Trampoline, RelocationKeepsEveryBranchTarget) {
  ExpectBranchesPreserved(Prologue({0xE8, 0x10, 0x00, 0x00, 0x00}));                    // call +0x10
  ExpectBranchesPreserved(Prologue({0xE8, 0xF0, 0xFF, 0xFF, 0xFF}));                    // call backwards
  ExpectBranchesPreserved(Prologue({0xE9, 0x00, 0x00, 0x10, 0x00}));                    // jmp far ahead
  ExpectBranchesPreserved(Prologue({0x85, 0xC0, 0x0F, 0x8C, 0x20, 0x00, 0x00, 0x00}));  // jl near
  ExpectBranchesPreserved(Prologue({0x89, 0xC1, 0xE3, 0x03, 0x01, 0xC0}));              // jecxz
  ExpectBranchesPreserved(Prologue({0x74, 0x05, 0x75, 0x03, 0xEB, 0x01}));              // three stubs
  ExpectBranchesPreserved(Prologue({0x3E, 0x74, 0x7F, 0x90, 0x90, 0x90}));              // hinted jz, far end
  ExpectBranchesPreserved(Prologue({0x74, 0x80, 0x90, 0x90, 0x90}));                    // jz backwards
  ExpectBranchesPreserved(Prologue({0x31, 0xC0, 0x74, 0xFC, 0x90}));                    // loop to the start
  ExpectBranchesPreserved(Prologue({0x90, 0x74, 0x01, 0x90, 0x90, 0x90}));              // jz within
  EXPECT_EQ(PlanTrampoline(Prologue({0x90, 0x74, 0x01, 0x90, 0x90, 0x90})).stubs, 0u);
  // A branch to just past the moved bytes leaves them.
  EXPECT_EQ(PlanTrampoline(Prologue({0x90, 0x74, 0x02, 0x90, 0x90, 0x90})).stubs, 1u);
}

TEST(Trampoline, RefusesWhatCannotBeMovedSafely) {
  // A 16-bit call would truncate the return into the trampoline.
  EXPECT_THROW(PlanTrampoline(Prologue({0x66, 0xE8, 0x10, 0x00, 0x90})), EHookError);
  // The window ends inside an instruction.
  EXPECT_THROW(PlanTrampoline(std::vector<std::uint8_t>{0x90, 0x90, 0xB8, 0x01, 0x02}), EHookError);
  EXPECT_THROW(PlanTrampoline(std::vector<std::uint8_t>{}), EHookError);
  // "xor eax, eax; ret" followed by the next procedure: the jump would overwrite it.
  EXPECT_THROW(PlanTrampoline(Prologue({0x31, 0xC0, 0xC3, 0x55, 0x8B, 0xEC})), EHookError);
  EXPECT_THROW(PlanTrampoline(Prologue({0xEB, 0x10, 0x8B, 0xFF, 0x55})), EHookError);
}

TEST(Trampoline, ShortProceduresFollowedByPaddingCanBeHooked) {
  const std::vector<std::vector<std::uint8_t>> padded = {
      {0xC3, 0xCC, 0xCC, 0xCC, 0xCC},                    // ret; int3 padding
      {0x31, 0xC0, 0xC3, 0x90, 0x90},                    // nop padding
      {0x31, 0xC0, 0xC3, 0x8D, 0x76, 0x00},              // lea esi, [esi+0]
      {0x31, 0xC0, 0xC3, 0x8D, 0xB4, 0x26, 0, 0, 0, 0},  // lea esi, [esi+eiz+0]
      {0x31, 0xC0, 0xC3, 0x66, 0x90},                    // xchg ax, ax
      {0x31, 0xC0, 0xC3, 0x0F, 0x1F, 0x00},              // nop dword [eax]
      {0x31, 0xC0, 0xC3, 0x89, 0xF6},                    // mov esi, esi
  };
  for (const auto& bytes : padded) {
    EXPECT_NO_THROW(PlanTrampoline(Prologue(bytes))) << ::testing::PrintToString(bytes);
  }
  // Look-alikes that do something are no padding.
  EXPECT_THROW(PlanTrampoline(Prologue({0x31, 0xC0, 0xC3, 0x8D, 0x76, 0x01})), EHookError);  // lea esi, [esi+1]
  EXPECT_THROW(PlanTrampoline(Prologue({0x31, 0xC0, 0xC3, 0x8D, 0x77, 0x00})), EHookError);  // lea esi, [edi]
  EXPECT_THROW(PlanTrampoline(Prologue({0x31, 0xC0, 0xC3, 0x89, 0xF7})), EHookError);        // mov edi, esi
}

TEST(Trampoline, A32BitPlanNeedsAddressesBelow4Gb) {
  const auto prologue = Prologue({0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10});
  const TrampolinePlan plan = PlanTrampoline(prologue);
  EXPECT_THROW(BuildTrampoline(prologue, plan, 0x1'0040'1000, kTrampoline), EHookError);
  EXPECT_THROW(BuildTrampoline(prologue, plan, kProcedure, 0x1'0000'0000), EHookError);
}

TEST(Trampoline, JumpEncodingWrapsAroundTheAddressSpace) {
  const auto forward = EncodeJump(0x00401000, 0x00402000);
  EXPECT_EQ(forward[0], 0xE9);
  EXPECT_EQ(Read32(std::vector<std::uint8_t>(forward.begin(), forward.end()), 1), 0x00000FFBu);
  const auto backward = EncodeJump(0x7FF00000, 0x00401000);
  EXPECT_EQ(Read32(std::vector<std::uint8_t>(backward.begin(), backward.end()), 1),
            static_cast<std::uint32_t>(0x00401000 - 0x7FF00000 - 5));
}

}  // namespace
}  // namespace vellum::exceptlog

namespace vellum::exceptlog {
namespace {

// 64-bit code: a procedure in an image at a typical 64-bit base, one
// trampoline within 2 GB of it and one far beyond.
constexpr std::uint64_t kProcedure64 = 0x1'4000'1000;
constexpr std::uint64_t kNearTrampoline = kProcedure64 + 0x1000'0000;
constexpr std::uint64_t kFarTrampoline = 0x7FF0'0000'0000;

std::uint64_t Read64(const std::vector<std::uint8_t>& code, std::size_t at) {
  return Read32(code, at) | static_cast<std::uint64_t>(Read32(code, at + 4)) << 32;
}

bool IsAbsoluteJump(const std::vector<std::uint8_t>& code, std::size_t at) {
  return at + kAbsoluteJumpSize <= code.size() && code[at] == 0xFF && code[at + 1] == 0x25 && Read32(code, at + 2) == 0;
}

// Where the instruction at `offset` leads: its branch target, or the address
// its operand relative to the instruction pointer names. Jumps at or after
// `stubs_from` are followed, 5-byte and absolute ones alike.
std::uint64_t Target64(const std::vector<std::uint8_t>& code, std::uint64_t base, std::size_t offset,
                       std::size_t stubs_from) {
  if (IsAbsoluteJump(code, offset)) return Read64(code, offset + 6);
  const DecodedInstruction decoded = DecodeInstruction(std::span(code).subspan(offset), CodeMode::k64);
  const std::size_t end = offset + decoded.length;
  const std::size_t at =
      offset + (decoded.rip_relative ? decoded.rip_displacement_offset : decoded.displacement_offset());
  const std::int64_t distance =
      decoded.displacement_size == 1 ? static_cast<std::int8_t>(code[at]) : static_cast<std::int32_t>(Read32(code, at));
  const std::uint64_t target = base + end + static_cast<std::uint64_t>(distance);
  const std::size_t inside = target - base;
  if (!decoded.rip_relative && target >= base && inside >= stubs_from && inside < code.size()) {
    return Target64(code, base, inside, stubs_from);
  }
  return target;
}

// The 64-bit trampoline keeps what every moved instruction reaches: branch
// targets outside the moved bytes and the data of operands relative to the
// instruction pointer stay where they were, branches within the moved bytes
// move with them, everything else is copied as it was; then it jumps back.
std::vector<std::uint8_t> ExpectTargetsKept64(const std::vector<std::uint8_t>& prologue, std::uint64_t trampoline) {
  SCOPED_TRACE(::testing::PrintToString(prologue));
  const TrampolinePlan plan = PlanTrampoline(prologue, CodeMode::k64);
  const auto code = BuildTrampoline(prologue, plan, kProcedure64, trampoline);
  EXPECT_LE(code.size(), plan.size());
  for (const CoveredInstruction& instruction : plan.instructions) {
    const std::size_t offset = instruction.offset;
    const DecodedInstruction& decoded = instruction.decoded;
    if (decoded.relative == RelativeKind::kNone && !decoded.rip_relative) {
      EXPECT_TRUE(std::equal(code.begin() + offset, code.begin() + offset + decoded.length, prologue.begin() + offset));
      continue;
    }
    const std::uint64_t original = Target64(prologue, kProcedure64, offset, prologue.size());
    const std::uint64_t moved = Target64(code, trampoline, offset, plan.covered);
    if (decoded.relative != RelativeKind::kNone && original - kProcedure64 < plan.covered) {
      EXPECT_EQ(moved - trampoline, original - kProcedure64) << "a branch within the moved bytes moves along";
    } else {
      EXPECT_EQ(moved, original) << "at " << offset;
    }
  }
  EXPECT_EQ(Target64(code, trampoline, plan.covered, plan.covered + 1), kProcedure64 + plan.covered);
  return code;
}

TEST(Trampoline64, RetargetsRipRelativeOperandsAndKeepsTheImmediatesAfterThem) {
  for (const std::uint64_t trampoline : {kNearTrampoline, kProcedure64 - 0x7000'0000}) {
    ExpectTargetsKept64(Prologue({0x48, 0x8B, 0x05, 0x00, 0x00, 0x10, 0x00}), trampoline);  // mov rax, [rip+1M]
    ExpectTargetsKept64(Prologue({0x48, 0x83, 0xEC, 0x28, 0x48, 0x8B, 0x05, 0xF0, 0xFF, 0xFF, 0xFF}), trampoline);
    ExpectTargetsKept64(Prologue({0xC5, 0xF8, 0x28, 0x05, 0x10, 0x00, 0x00, 0x00}), trampoline);  // vmovaps
    const auto code = ExpectTargetsKept64(Prologue({0x83, 0x3D, 0x10, 0x00, 0x00, 0x00, 0x7F}), trampoline);
    EXPECT_EQ(code[6], 0x7F) << "the immediate after the displacement is untouched";
  }
  // The data a few hundred megabytes away is out of reach of a trampoline
  // just as far on the other side.
  const auto far_data = Prologue({0x48, 0x8B, 0x05, 0x00, 0x00, 0x00, 0x70});  // mov rax, [rip+1.75G]
  EXPECT_NO_THROW(ExpectTargetsKept64(far_data, kProcedure64 + 0x1000'0000));
  const TrampolinePlan plan = PlanTrampoline(far_data, CodeMode::k64);
  EXPECT_THROW(BuildTrampoline(far_data, plan, kProcedure64, kProcedure64 - 0x2000'0000), EHookError);
  EXPECT_THROW(BuildTrampoline(far_data, plan, kProcedure64, kFarTrampoline), EHookError);
}

TEST(Trampoline64, BranchesAndTheJumpBackReachAnyDistance) {
  const std::vector<std::vector<std::uint8_t>> prologues = {
      Prologue({0xE8, 0x10, 0x00, 0x00, 0x00}),                          // call +0x10
      Prologue({0xE9, 0x00, 0x00, 0x00, 0x80}),                          // jmp 2 GB back
      Prologue({0x48, 0x85, 0xC9, 0x0F, 0x84, 0x20, 0x00, 0x00, 0x00}),  // test rcx, rcx; jz near
      Prologue({0x48, 0x85, 0xC9, 0x74, 0x10, 0x90}),                    // jz short
      Prologue({0x74, 0x05, 0x75, 0x03, 0xEB, 0x01}),                    // three stubs
      Prologue({0xE3, 0x80, 0x90, 0x90, 0x90}),                          // jrcxz backwards
      Prologue({0x90, 0x74, 0x01, 0x90, 0x90, 0x90}),                    // jz within
      Prologue({0x66, 0x48, 0xE8, 0x10, 0x00, 0x00, 0x00}),              // call with REX.W outweighing 0x66
  };
  for (const std::uint64_t trampoline : {kNearTrampoline, kFarTrampoline}) {
    for (const auto& prologue : prologues) ExpectTargetsKept64(prologue, trampoline);
  }
  // Near: a call keeps its place and the jump back is 5 bytes. Far: the call
  // goes through an absolute stub and the jump back is absolute too.
  const auto call = Prologue({0xE8, 0x10, 0x00, 0x00, 0x00});
  const TrampolinePlan plan = PlanTrampoline(call, CodeMode::k64);
  EXPECT_EQ(plan.near_exits, 1u);
  EXPECT_EQ(plan.size(), 5u + 2 * kAbsoluteJumpSize) << "the jump back and one stub, both counted absolute";
  EXPECT_EQ(BuildTrampoline(call, plan, kProcedure64, kNearTrampoline).size(), 5u + kJumpSize);
  const auto far = BuildTrampoline(call, plan, kProcedure64, kFarTrampoline);
  EXPECT_EQ(far.size(), 5u + 2 * kAbsoluteJumpSize);
  EXPECT_TRUE(IsAbsoluteJump(far, 5));
  EXPECT_EQ(Read32(far, 1), kAbsoluteJumpSize) << "the call reaches the stub after the jump back";
}

TEST(Trampoline64, RefusesWhatCannotBeMoved) {
  // A 16-bit branch: truncates the instruction pointer on some processors.
  EXPECT_THROW(PlanTrampoline(Prologue({0x66, 0xE8, 0x10, 0x00, 0x90}), CodeMode::k64), EHookError);
  // An operand relative to the 32-bit instruction pointer.
  EXPECT_THROW(PlanTrampoline(Prologue({0x67, 0x8B, 0x05, 1, 2, 3, 4}), CodeMode::k64), EHookError);
  // Bytes the decoder does not know might hide such an operand.
  EXPECT_THROW(PlanTrampoline(Prologue({0x06, 0x90, 0x90, 0x90, 0x90}), CodeMode::k64), EHookError);
  EXPECT_NO_THROW(PlanTrampoline(Prologue({0x06, 0x90, 0x90, 0x90, 0x90})));
  // A REX-prefixed instruction cut by the window's end.
  EXPECT_THROW(PlanTrampoline(std::vector<std::uint8_t>{0x90, 0x48, 0xB8, 1, 2, 3, 4}, CodeMode::k64), EHookError);
}

TEST(Trampoline64, PaddingMustLeaveEveryRegisterAlone) {
  for (const std::vector<std::uint8_t>& padding : std::vector<std::vector<std::uint8_t>>{
           {0xCC},
           {0x66, 0x90},
           {0x48, 0x90},                                            // xchg rax, rax
           {0x66, 0x2E, 0x0F, 0x1F, 0x84, 0x00, 0x00, 0x00, 0x00},  // nopw cs:[rax+rax]
           {0x48, 0x89, 0xF6},                                      // mov rsi, rsi
           {0x4D, 0x89, 0xF6},                                      // mov r14, r14
           {0x48, 0x8D, 0x76, 0x00},                                // lea rsi, [rsi+0]
       }) {
    std::vector<std::uint8_t> bytes = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
    bytes.insert(bytes.end(), padding.begin(), padding.end());
    EXPECT_NO_THROW(PlanTrampoline(Prologue(bytes), CodeMode::k64)) << ::testing::PrintToString(padding);
  }
  for (const std::vector<std::uint8_t>& work : std::vector<std::vector<std::uint8_t>>{
           {0x89, 0xF6},              // mov esi, esi clears the upper half
           {0x8D, 0x76, 0x00},        // so does lea esi, [rsi+0]
           {0x41, 0x90},              // xchg eax, r8d
           {0x4C, 0x89, 0xF6},        // mov rsi, r14
           {0x4A, 0x8D, 0x34, 0x26},  // lea rsi, [rsi+r12]
       }) {
    std::vector<std::uint8_t> bytes = {0x31, 0xC0, 0xC3};
    bytes.insert(bytes.end(), work.begin(), work.end());
    EXPECT_THROW(PlanTrampoline(Prologue(bytes), CodeMode::k64), EHookError) << ::testing::PrintToString(work);
  }
}

TEST(Trampoline64, AbsoluteJumpReadsItsTargetFromTheNextEightBytes) {
  const auto jump = EncodeAbsoluteJump(0x1122'3344'5566'7788);
  const std::vector<std::uint8_t> bytes(jump.begin(), jump.end());
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xFF, 0x25, 0, 0, 0, 0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
  const DecodedInstruction decoded = DecodeInstruction(bytes, CodeMode::k64);
  EXPECT_EQ(decoded.length, 6);
  EXPECT_TRUE(decoded.rip_relative);
  EXPECT_TRUE(decoded.ends_flow);
}

}  // namespace
}  // namespace vellum::exceptlog

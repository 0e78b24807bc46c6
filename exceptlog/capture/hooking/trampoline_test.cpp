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

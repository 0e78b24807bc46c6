#include "exceptlog/capture/callstack/call_encodings.h"

#include <gtest/gtest.h>

#include "exceptlog/common/binary/testing/fake_memory_test_support.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint32_t kCode = 0x00401000;
constexpr std::uint32_t kReturn = kCode + 0x100;

class CallEncodings : public ::testing::Test {
 protected:
  void SetUp() override { memory_.Map(kCode, 0x1000); }

  // Writes `bytes` so that they end at the return address and matches.
  CallMatch MatchBefore(const std::vector<std::uint8_t>& bytes) {
    CodeTail tail{};
    std::fill(tail.begin(), tail.end(), 0xCC);
    std::copy(bytes.begin(), bytes.end(), tail.end() - static_cast<std::ptrdiff_t>(bytes.size()));
    memory_.Write(kReturn - 7, std::vector<std::uint8_t>(tail.begin(), tail.end()));
    return MatchCall(tail, kReturn, memory_);
  }

  static std::vector<std::uint8_t> Relative(std::uint32_t target) {
    const std::uint32_t displacement = target - kReturn;
    return {0xE8, static_cast<std::uint8_t>(displacement), static_cast<std::uint8_t>(displacement >> 8),
            static_cast<std::uint8_t>(displacement >> 16), static_cast<std::uint8_t>(displacement >> 24)};
  }

  testing::FakeMemory memory_;
};

TEST_F(CallEncodings, EveryEncodingGivesItsCallSite) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    CallEncoding encoding;
  };
  const Case cases[] = {
      {{0xFF, 0xD0}, CallEncoding::kRegister},                                // call eax
      {{0xFF, 0xD7}, CallEncoding::kRegister},                                // call edi
      {{0xFF, 0x10}, CallEncoding::kThroughRegister},                         // call [eax]
      {{0xFF, 0x13}, CallEncoding::kThroughRegister},                         // call [ebx]
      {{0xFF, 0x16}, CallEncoding::kThroughRegister},                         // call [esi]
      {{0xFF, 0x17}, CallEncoding::kThroughRegister},                         // call [edi]
      {{0xFF, 0x50, 0x08}, CallEncoding::kThroughRegisterOffset8},            // call [eax+8]
      {{0xFF, 0x55, 0xF8}, CallEncoding::kThroughRegisterOffset8},            // call [ebp-8]
      {{0xFF, 0x57, 0x10}, CallEncoding::kThroughRegisterOffset8},            // call [edi+16]
      {{0xFF, 0x90, 0, 1, 0, 0}, CallEncoding::kThroughRegisterOffset32},     // call [eax+256]
      {{0xFF, 0x97, 0, 1, 0, 0}, CallEncoding::kThroughRegisterOffset32},     // call [edi+256]
      {{0xFF, 0x14, 0x24}, CallEncoding::kThroughStack},                      // call [esp]
      {{0xFF, 0x54, 0x24, 0x08}, CallEncoding::kThroughStackOffset8},         // call [esp+8]
      {{0xFF, 0x94, 0x24, 0, 1, 0, 0}, CallEncoding::kThroughStackOffset32},  // call [esp+256]
      {{0xFF, 0x15, 0x00, 0x18, 0x40, 0x00}, CallEncoding::kThroughPointer},  // call [0x401800]
  };
  for (const Case& c : cases) {
    const CallMatch match = MatchBefore(c.bytes);
    EXPECT_EQ(match.encoding, c.encoding) << "bytes ending in " << std::hex << int(c.bytes.back());
    EXPECT_EQ(match.call_site, kReturn - c.bytes.size());
    EXPECT_EQ(match.target, 0u);
  }
}

TEST_F(CallEncodings, ModRmFormsThatNeedMoreBytesAreNoShortCalls) {
  // [esp] and [ebp] without displacement, and the SIB forms with an 8- or
  // 32-bit displacement, are encoded differently from the plain register
  // forms; those bytes alone are no call.
  for (const auto& bytes : std::vector<std::vector<std::uint8_t>>{
           {0xFF, 0x14}, {0xFF, 0x15}, {0xFF, 0x54, 0x08}, {0xFF, 0x94, 0, 1, 0, 0}, {0xFF, 0xE0}, {0xFE, 0xD0}}) {
    EXPECT_EQ(MatchBefore(bytes).encoding, CallEncoding::kNone) << std::hex << int(bytes[1]);
  }
}

TEST_F(CallEncodings, RelativeCallListsItsTargetUnlessTheTargetIsAnotherCall) {
  const std::uint32_t target = kCode + 0x400;
  memory_.Write(target, {0x55, 0x8B, 0xEC, 0x5D, 0xC3});
  CallMatch match = MatchBefore(Relative(target));
  EXPECT_EQ(match.encoding, CallEncoding::kRelative);
  EXPECT_EQ(match.call_site, kReturn - 5);
  EXPECT_EQ(match.target, target);

  memory_.Write(target, {0xE8, 0, 0, 0, 0});
  match = MatchBefore(Relative(target));
  EXPECT_EQ(match.encoding, CallEncoding::kRelative);
  EXPECT_EQ(match.target, 0u) << "a call to a call lists only the call site";

  // Fewer than 5 readable bytes at the target: the call counts, its target
  // is not listed.
  match = MatchBefore(Relative(kCode + 0x1000 - 3));
  EXPECT_EQ(match.encoding, CallEncoding::kRelative);
  EXPECT_EQ(match.target, 0u);
}

TEST_F(CallEncodings, RelativeCallToUnreadableCodeFallsThroughToTheOtherEncodings) {
  // E8 followed by a displacement that ends in "FF D6": not a relative call
  // into readable code, but the last two bytes are "call esi".
  const CallMatch match = MatchBefore({0xE8, 0x00, 0x00, 0xFF, 0xD6});
  EXPECT_EQ(match.encoding, CallEncoding::kRegister);
  EXPECT_EQ(match.call_site, kReturn - 2);
  EXPECT_EQ(MatchBefore(Relative(0x7FFF0000)).encoding, CallEncoding::kNone);
}

TEST_F(CallEncodings, RelativeCallIntoAnImportThunkListsTheThunksTarget) {
  constexpr std::uint32_t kImported = 0x10000000;
  memory_.Map(kImported, 0x100);
  memory_.Write(kImported, {0x8B, 0xFF, 0x55, 0x8B, 0xEC});
  const std::uint32_t cell = kCode + 0x800;
  memory_.Write32(cell, kImported);
  const std::uint32_t thunk = kCode + 0x600;
  for (const std::vector<std::uint8_t>& filler : {std::vector<std::uint8_t>{0x8B, 0xC0}, {0x90, 0x90}}) {
    memory_.Write(thunk, {0xFF, 0x25, 0x00, 0x18, 0x40, 0x00, filler[0], filler[1]});
    const CallMatch match = MatchBefore(Relative(thunk));
    EXPECT_EQ(match.target, kImported);
    EXPECT_EQ(match.call_site, kReturn - 5);
  }
  // Other padding: no thunk, the jump itself is the target.
  memory_.Write(thunk, {0xFF, 0x25, 0x00, 0x18, 0x40, 0x00, 0xCC, 0xCC});
  EXPECT_EQ(MatchBefore(Relative(thunk)).target, thunk);
  // A thunk whose cell cannot be read stays itself.
  memory_.Write(thunk, {0xFF, 0x25, 0x00, 0x00, 0x00, 0x20, 0x90, 0x90});
  EXPECT_EQ(FollowImportThunk(thunk, memory_), thunk);
}

TEST_F(CallEncodings, CallThroughPointerNeedsAReadableCell) {
  EXPECT_EQ(MatchBefore({0xFF, 0x15, 0x00, 0x00, 0x00, 0x20}).encoding, CallEncoding::kNone);
  // The cell's last byte past the mapped code: unreadable as a whole.
  EXPECT_EQ(MatchBefore({0xFF, 0x15, 0xFE, 0x1F, 0x40, 0x00}).encoding, CallEncoding::kNone);
}

TEST_F(CallEncodings, EarlierEncodingsWinWhenBytesFitSeveral) {
  // "FF 94 24 ..." whose last bytes also read as "FF D2" (call edx): the
  // two-byte register call is tried first.
  CallMatch match = MatchBefore({0xFF, 0x94, 0x24, 0x00, 0x00, 0xFF, 0xD2});
  EXPECT_EQ(match.encoding, CallEncoding::kRegister);
  EXPECT_EQ(match.call_site, kReturn - 2);
  // "FF 90 disp32" whose displacement ends in "FF 50 08" (call [eax+8]):
  // the shorter call is tried first.
  match = MatchBefore({0xFF, 0x90, 0x00, 0xFF, 0x50, 0x08});
  EXPECT_EQ(match.encoding, CallEncoding::kThroughRegisterOffset8);
  EXPECT_EQ(match.call_site, kReturn - 3);
  // A relative call into readable code comes before everything: its
  // displacement "00 00 FF D0" would read as "call eax".
  memory_.Map(kReturn + 0xD0FF0000u, 0x10);
  match = MatchBefore({0xE8, 0x00, 0x00, 0xFF, 0xD0});
  EXPECT_EQ(match.encoding, CallEncoding::kRelative);
  EXPECT_EQ(match.target, kReturn + 0xD0FF0000u);
}

TEST_F(CallEncodings, AddressesNearZeroAreNoReturnAddresses) {
  CodeTail tail{0xFF, 0x94, 0x24, 0, 0, 0xFF, 0xD0};
  EXPECT_EQ(MatchCall(tail, 6, memory_).encoding, CallEncoding::kNone);
}

}  // namespace
}  // namespace vellum::exceptlog

namespace vellum::exceptlog {
namespace {

TEST(CallEncodings64, RelativeTargetsDoNotWrapAndImportThunksAreRelativeToTheNextInstruction) {
  constexpr std::uint64_t kCode64 = 0x7FF812340000;
  testing::FakeMemory memory;
  memory.Map(kCode64, 0x2000);
  // A call backwards, across no 4 GB line: the target is below the return
  // address by the negative displacement, in 64 bits.
  const std::uint64_t return_address = kCode64 + 0x1000;
  CodeTail tail{0xCC, 0xCC, 0xE8, 0x00, 0xF0, 0xFF, 0xFF};  // call -0x1000
  memory.Write(kCode64 + 0x1000 - 7, std::vector<std::uint8_t>(tail.begin(), tail.end()));
  // The target is a thunk "JMP [RIP+0x10]" padded with two NOPs; its cell
  // holds a 64-bit address.
  memory.Write(kCode64, {0xFF, 0x25, 0x10, 0x00, 0x00, 0x00, 0x90, 0x90});
  memory.Write64(kCode64 + 0x16, kCode64 + 0x1800);
  memory.Write(kCode64 + 0x1800, {0x48, 0x89, 0x5C, 0x24, 0x08});
  CallMatch match = MatchCall(tail, return_address, memory, ProcessBits::k64);
  EXPECT_EQ(match.encoding, CallEncoding::kRelative);
  EXPECT_EQ(match.call_site, return_address - 5);
  EXPECT_EQ(match.target, kCode64 + 0x1800);
  // Read as 32-bit code the same bytes wrap below 4 GB and find nothing.
  EXPECT_EQ(FollowImportThunk(kCode64, memory, ProcessBits::k32), kCode64);

  // Calls through a register with a REX prefix start at the prefix.
  const struct {
    CodeTail bytes;
    CallEncoding encoding;
    std::uint64_t length;
  } cases[] = {
      {{0xCC, 0xCC, 0xCC, 0xCC, 0x41, 0xFF, 0xD0}, CallEncoding::kRegister, 3},                 // call r8
      {{0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xFF, 0xD0}, CallEncoding::kRegister, 2},                 // call rax
      {{0xCC, 0xCC, 0xCC, 0x41, 0xFF, 0x50, 0x10}, CallEncoding::kThroughRegisterOffset8, 4},   // call [r8+16]
      {{0x41, 0xFF, 0x91, 0x00, 0x01, 0x00, 0x00}, CallEncoding::kThroughRegisterOffset32, 7},  // call [r9+256]
  };
  for (const auto& c : cases) {
    match = MatchCall(c.bytes, return_address, memory, ProcessBits::k64);
    EXPECT_EQ(match.encoding, c.encoding);
    EXPECT_EQ(match.call_site, return_address - c.length);
  }
}

}  // namespace
}  // namespace vellum::exceptlog

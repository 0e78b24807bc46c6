#include "exceptlog/capture/hooking/instruction_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vellum::exceptlog {
namespace {

struct Case {
  const char* name;
  std::vector<std::uint8_t> bytes;  // exactly one instruction
};

void ExpectLengths(const std::vector<Case>& cases, CodeMode mode = CodeMode::k32) {
  for (const Case& c : cases) {
    // Trailing bytes must not be taken into the instruction.
    std::vector<std::uint8_t> padded = c.bytes;
    padded.insert(padded.end(), 16, 0x90);
    const DecodedInstruction decoded = DecodeInstruction(padded, mode);
    EXPECT_TRUE(decoded.ok()) << c.name;
    EXPECT_EQ(decoded.length, c.bytes.size()) << c.name;
  }
}

TEST(InstructionDecoder, OperandAndAddressSizePrefixesChangeImmediatesAndAddressing) {
  ExpectLengths({
      {"mov eax, imm32", {0xB8, 1, 2, 3, 4}},
      {"mov ax, imm16", {0x66, 0xB8, 1, 2}},
      {"add ax, imm16", {0x66, 0x05, 1, 2}},
      {"push imm16", {0x66, 0x68, 1, 2}},
      {"imul ax, [ecx], imm16", {0x66, 0x69, 0x01, 1, 2}},
      {"mov word [eax], imm16", {0x66, 0xC7, 0x00, 1, 2}},
      {"add word [eax], imm8 keeps 8 bits", {0x66, 0x83, 0x00, 1}},
      {"mov eax, [moffs32]", {0xA1, 1, 2, 3, 4}},
      {"mov eax, [moffs16]", {0x67, 0xA1, 1, 2}},
      {"16-bit [disp16]", {0x67, 0x8B, 0x06, 1, 2}},
      {"16-bit [bp+disp8]", {0x67, 0x8B, 0x46, 1}},
      {"16-bit [bx+si+disp16]", {0x67, 0x8B, 0x80, 1, 2}},
      {"16-bit has no SIB", {0x67, 0x8B, 0x04}},
      {"call far ptr16:32", {0x9A, 1, 2, 3, 4, 5, 6}},
      {"call far ptr16:16", {0x66, 0x9A, 1, 2, 3, 4}},
      {"segment, lock and rep prefixes", {0x64, 0xF0, 0x0F, 0xC1, 0x01}},
      {"enter imm16, imm8", {0xC8, 0x10, 0x00, 0x01}},
  });
}

TEST(InstructionDecoder, ModRmSibAndDisplacements) {
  ExpectLengths({
      {"register form", {0x8B, 0xC1}},
      {"[eax]", {0x8B, 0x00}},
      {"[disp32]", {0x8B, 0x05, 1, 2, 3, 4}},
      {"[esp] via SIB", {0x8B, 0x04, 0x24}},
      {"[esp+disp8]", {0x8B, 0x44, 0x24, 0x04}},
      {"[esp+disp32]", {0x8B, 0x84, 0x24, 1, 2, 3, 4}},
      {"SIB base 101 with mod 00: disp32", {0x8B, 0x04, 0x8D, 1, 2, 3, 4}},
      {"SIB base 101 with mod 01: ebp+disp8", {0x8B, 0x44, 0x8D, 0x08}},
      {"[ebp+disp8]", {0x8B, 0x45, 0x08}},
      {"x87 with memory", {0xDD, 0x5C, 0x24, 0x08}},
      {"x87 register form", {0xD9, 0xC9}},
  });
}

TEST(InstructionDecoder, GroupOpcodesTakeTheirImmediateFromTheRegField) {
  ExpectLengths({
      {"test cl, imm8 (F6 /0)", {0xF6, 0xC1, 0x01}},
      {"test alias (F6 /1)", {0xF6, 0xC9, 0x01}},
      {"not cl (F6 /2)", {0xF6, 0xD1}},
      {"idiv byte [eax] (F6 /7)", {0xF6, 0x38}},
      {"test ecx, imm32 (F7 /0)", {0xF7, 0xC1, 1, 2, 3, 4}},
      {"test [esp+8], imm32", {0xF7, 0x44, 0x24, 0x08, 1, 2, 3, 4}},
      {"test cx, imm16", {0x66, 0xF7, 0xC1, 1, 2}},
      {"neg ecx (F7 /3)", {0xF7, 0xD9}},
      {"mul dword [eax+4] (F7 /4)", {0xF7, 0x60, 0x04}},
  });
}

TEST(InstructionDecoder, TwoAndThreeByteMapsAndVectorEncodings) {
  ExpectLengths({
      {"movzx eax, al", {0x0F, 0xB6, 0xC0}},
      {"bt eax, imm8", {0x0F, 0xBA, 0xE0, 0x05}},
      {"shld [eax], ecx, imm8", {0x0F, 0xA4, 0x08, 0x03}},
      {"nop dword [eax+eax+0]", {0x0F, 0x1F, 0x44, 0x00, 0x00}},
      {"mov eax, cr0 ignores mod", {0x0F, 0x20, 0x00}},
      {"pshufd with imm8", {0x66, 0x0F, 0x70, 0xC1, 0x1B}},
      {"pshufb (0F 38)", {0x66, 0x0F, 0x38, 0x00, 0xC1}},
      {"palignr (0F 3A) with imm8", {0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x08}},
      {"3DNow! operation byte last", {0x0F, 0x0F, 0x44, 0x24, 0x04, 0x9E}},
      {"extrq with two immediates", {0x66, 0x0F, 0x78, 0xC0, 0x04, 0x08}},
      {"vmread without prefix", {0x0F, 0x78, 0xC0}},
      {"cpuid", {0x0F, 0xA2}},
      {"vzeroupper (2-byte VEX)", {0xC5, 0xF8, 0x77}},
      {"vmovdqa (2-byte VEX)", {0xC5, 0xF9, 0x6F, 0xC1}},
      {"vpalignr (3-byte VEX map 3)", {0xC4, 0xE3, 0x79, 0x0F, 0xC1, 0x08}},
      {"les eax, [esi] is not VEX", {0xC4, 0x06}},
      {"vmovaps zmm (EVEX)", {0x62, 0xF1, 0x7C, 0x48, 0x28, 0xC1}},
      {"bound eax, [esi] is not EVEX", {0x62, 0x06}},
      {"pop eax via 8F /0 is not XOP", {0x8F, 0xC0}},
      {"vprotb (XOP map 8) with imm8", {0x8F, 0xE8, 0x78, 0xC0, 0xC1, 0x05}},
      {"bextr (XOP map A) with imm32", {0x8F, 0xEA, 0x78, 0x10, 0xC0, 1, 2, 3, 4}},
  });
}

TEST(InstructionDecoder, ReportsRelativeBranchesAndWhereControlStops) {
  struct Branch {
    std::vector<std::uint8_t> bytes;
    RelativeKind relative;
    std::uint8_t displacement_size;
    bool ends_flow;
  };
  const std::vector<Branch> branches = {
      {{0x74, 0x10}, RelativeKind::kShort, 1, false},                   // jz
      {{0xE3, 0x10}, RelativeKind::kShort, 1, false},                   // jecxz
      {{0xE2, 0xFE}, RelativeKind::kShort, 1, false},                   // loop
      {{0xEB, 0x10}, RelativeKind::kShort, 1, true},                    // jmp short
      {{0xE8, 1, 2, 3, 4}, RelativeKind::kNear, 4, false},              // call
      {{0xE9, 1, 2, 3, 4}, RelativeKind::kNear, 4, true},               // jmp
      {{0x0F, 0x84, 1, 2, 3, 4}, RelativeKind::kNear, 4, false},        // jz near
      {{0x66, 0xE8, 1, 2}, RelativeKind::kNear, 2, false},              // call rel16
      {{0xC7, 0xF8, 1, 2, 3, 4}, RelativeKind::kNear, 4, false},        // xbegin
      {{0xC3}, RelativeKind::kNone, 0, true},                           // ret
      {{0xC2, 0x08, 0x00}, RelativeKind::kNone, 0, true},               // ret 8
      {{0xFF, 0x25, 1, 2, 3, 4}, RelativeKind::kNone, 0, true},         // jmp [mem]
      {{0xFF, 0x15, 1, 2, 3, 4}, RelativeKind::kNone, 0, false},        // call [mem]
      {{0x0F, 0xFF, 0x25, 1, 2, 3, 4}, RelativeKind::kNone, 0, false},  // ud0 is no jmp
  };
  for (const Branch& branch : branches) {
    const DecodedInstruction decoded = DecodeInstruction(branch.bytes);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.length, branch.bytes.size());
    EXPECT_EQ(decoded.relative, branch.relative) << int(branch.bytes[0]);
    EXPECT_EQ(decoded.displacement_size, branch.displacement_size) << int(branch.bytes[0]);
    EXPECT_EQ(decoded.displacement_offset(), branch.bytes.size() - branch.displacement_size);
    EXPECT_EQ(decoded.ends_flow, branch.ends_flow) << int(branch.bytes[0]);
  }
}

TEST(InstructionDecoder, NeverReadsPastTheBytesGiven) {
  struct Instruction {
    CodeMode mode;
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Instruction> instructions = {
      {CodeMode::k32, {0xF7, 0x84, 0x24, 1, 2, 3, 4, 5, 6, 7, 8}},  // test [esp+disp32], imm32
      {CodeMode::k32, {0x66, 0x0F, 0x3A, 0x0F, 0x44, 0x24, 0x04, 0x08}},
      {CodeMode::k32, {0x62, 0xF1, 0x7C, 0x48, 0x28, 0x84, 0x24, 1, 2, 3, 4}},
      {CodeMode::k32, {0x8F, 0xEA, 0x78, 0x10, 0xC0, 1, 2, 3, 4}},
      {CodeMode::k32, {0x67, 0xA1, 1, 2}},
      {CodeMode::k64, {0x49, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}},              // mov r8, imm64
      {CodeMode::k64, {0x48, 0x81, 0x3D, 1, 2, 3, 4, 5, 6, 7, 8}},        // cmp [rip+disp32], imm32
      {CodeMode::k64, {0x62, 0xF1, 0x7C, 0x48, 0x28, 0x05, 1, 2, 3, 4}},  // vmovaps zmm0, [rip+disp32]
      {CodeMode::k64, {0xC4, 0xE3, 0x79, 0x0F, 0x05, 1, 2, 3, 4, 0x08}},  // vpalignr xmm0, [rip+disp32], imm8
      {CodeMode::k64, {0xA1, 1, 2, 3, 4, 5, 6, 7, 8}},                    // mov eax, [moffs64]
  };
  for (const auto& [mode, full] : instructions) {
    ASSERT_EQ(DecodeInstruction(full, mode).length, full.size());
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
      // A heap copy of exactly `cut` bytes: the sanitizers catch any read beyond.
      const std::vector<std::uint8_t> part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
      const DecodedInstruction decoded = DecodeInstruction(part, mode);
      EXPECT_EQ(decoded.status, DecodeStatus::kTruncated) << cut;
      EXPECT_EQ(decoded.length, 1);
    }
  }
}

TEST(InstructionDecoder, UndecodableBytesCountAsOne) {
  for (const std::vector<std::uint8_t>& bytes :
       std::vector<std::vector<std::uint8_t>>{{0x0F, 0x04, 0x90}, {0x0F, 0x0A}, {0xC4, 0xE0, 0x79, 0x00, 0xC1}}) {
    const DecodedInstruction decoded = DecodeInstruction(bytes);
    EXPECT_EQ(decoded.status, DecodeStatus::kInvalid);
    EXPECT_EQ(decoded.length, 1);
  }
  // The processor refuses anything longer than 15 bytes, however made up.
  std::vector<std::uint8_t> prefixes(14, 0x66);
  prefixes.push_back(0x90);
  EXPECT_TRUE(DecodeInstruction(prefixes).ok());
  // add ecx, imm32 after 12 prefixes: 18 bytes
  const std::vector<std::uint8_t> too_long = {0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E,
                                              0x2E, 0x2E, 0x2E, 0x81, 0xC1, 1,    2,    3,    4};
  EXPECT_EQ(DecodeInstruction(too_long).status, DecodeStatus::kInvalid);
}

TEST(InstructionDecoder64, RexPrefixesCountOnlyRightBeforeTheOpcode) {
  ExpectLengths(
      {
          {"mov rax, imm64", {0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}},
          {"mov r15, imm64", {0x49, 0xBF, 1, 2, 3, 4, 5, 6, 7, 8}},
          {"REX.W outweighs 0x66: imm64", {0x66, 0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}},
          {"REX before 0x66 is ignored: imm16", {0x48, 0x66, 0xB8, 1, 2}},
          {"mov r8d, imm32 without REX.W", {0x41, 0xB8, 1, 2, 3, 4}},
          {"mov rax, imm32 sign-extended (C7)", {0x48, 0xC7, 0xC0, 1, 2, 3, 4}},
          {"add rax, imm32", {0x48, 0x05, 1, 2, 3, 4}},
          {"add rcx, imm32 with 0x66 and REX.W", {0x66, 0x48, 0x81, 0xC1, 1, 2, 3, 4}},
          {"test rcx, imm32", {0x48, 0xF7, 0xC1, 1, 2, 3, 4}},
          {"push imm32 (64-bit operand)", {0x68, 1, 2, 3, 4}},
          {"push imm16", {0x66, 0x68, 1, 2}},
          {"REX.B keeps the SIB byte of rm 100: [r12]", {0x41, 0x8B, 0x04, 0x24}},
          {"REX.B keeps mod 01 rm 101 a disp8: [r13+8]", {0x41, 0x8B, 0x45, 0x08}},
          {"several REX: the last counts", {0x40, 0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}},
          {"xchg eax, r8d", {0x41, 0x90}},
          {"endbr64", {0xF3, 0x0F, 0x1E, 0xFA}},
          {"movsxd rax, ecx", {0x48, 0x63, 0xC1}},
      },
      CodeMode::k64);
  const std::vector<std::uint8_t> ignored = {0x48, 0x66, 0x89, 0xC0};  // mov ax, ax after a stray REX.W
  const DecodedInstruction decoded = DecodeInstruction(ignored, CodeMode::k64);
  EXPECT_EQ(decoded.length, 4);
  EXPECT_EQ(decoded.prefix_count, 2);
  EXPECT_EQ(decoded.rex, 0);
  EXPECT_EQ(DecodeInstruction(std::vector<std::uint8_t>{0x66, 0x4C, 0x89, 0xC0}, CodeMode::k64).rex, 0x4C);
  // The same bytes are INC and DEC in 32-bit code.
  EXPECT_EQ(DecodeInstruction(std::vector<std::uint8_t>{0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}).length, 1);
  EXPECT_EQ(DecodeInstruction(std::vector<std::uint8_t>{0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}).rex, 0);
}

TEST(InstructionDecoder64, OpcodesGoneFromLongModeAreInvalid) {
  for (const std::uint8_t opcode : {0x06, 0x07, 0x0E, 0x16, 0x17, 0x1E, 0x1F, 0x27, 0x2F, 0x37,
                                    0x3F, 0x60, 0x61, 0x82, 0x9A, 0xCE, 0xD4, 0xD5, 0xD6, 0xEA}) {
    // Followed by bytes that would make each a whole instruction in 32-bit code.
    const std::vector<std::uint8_t> bytes = {opcode, 0xC0, 1, 2, 3, 4, 5, 6};
    EXPECT_TRUE(DecodeInstruction(bytes, CodeMode::k32).ok()) << int(opcode);
    const DecodedInstruction decoded = DecodeInstruction(bytes, CodeMode::k64);
    EXPECT_EQ(decoded.status, DecodeStatus::kInvalid) << int(opcode);
    EXPECT_EQ(decoded.length, 1) << int(opcode);
  }
  EXPECT_EQ(DecodeInstruction(std::vector<std::uint8_t>{0x0F, 0x24, 0xC0}, CodeMode::k64).status,
            DecodeStatus::kInvalid);  // MOV from a test register
}

TEST(InstructionDecoder64, VectorPrefixesNeedNoRegisterFormAndAddressesAre64Bit) {
  ExpectLengths(
      {
          {"C5 with a memory-form byte is VEX, not LDS", {0xC5, 0x06, 0x28, 0xC1}},
          {"C4 with a memory-form byte is VEX, not LES", {0xC4, 0x02, 0x79, 0x0F, 0xC1}},
          {"62 with a memory-form byte is EVEX, not BOUND", {0x62, 0x01, 0x7C, 0x48, 0x28, 0xC1}},
          {"pop rax via 8F /0 is still no XOP", {0x8F, 0xC0}},
          {"mov eax, [moffs64]", {0xA1, 1, 2, 3, 4, 5, 6, 7, 8}},
          {"mov rax, [moffs64]", {0x48, 0xA1, 1, 2, 3, 4, 5, 6, 7, 8}},
          {"mov eax, [moffs32] after 0x67", {0x67, 0xA1, 1, 2, 3, 4}},
          {"0x67 means 32-bit addressing, with SIB", {0x67, 0x8B, 0x04, 0x24}},
          {"0x67 [ebp+disp32]", {0x67, 0x8B, 0x85, 1, 2, 3, 4}},
          {"SIB base 101 mod 00: absolute disp32", {0x8B, 0x04, 0x25, 1, 2, 3, 4}},
      },
      CodeMode::k64);
  // In 32-bit code the same memory-form bytes are LDS and BOUND.
  ExpectLengths({{"lds eax, [esi]", {0xC5, 0x06}}, {"bound eax, [ecx]", {0x62, 0x01}}});
}

TEST(InstructionDecoder64, NearBranchesKeepTheir32BitDisplacement) {
  struct Branch {
    std::vector<std::uint8_t> bytes;
    RelativeKind relative;
    std::uint8_t displacement_size;
    bool ends_flow;
  };
  const std::vector<Branch> branches = {
      {{0xE8, 1, 2, 3, 4}, RelativeKind::kNear, 4, false},              // call
      {{0x48, 0xE8, 1, 2, 3, 4}, RelativeKind::kNear, 4, false},        // call with a useless REX.W
      {{0x66, 0x48, 0xE8, 1, 2, 3, 4}, RelativeKind::kNear, 4, false},  // REX.W outweighs 0x66
      {{0x66, 0xE8, 1, 2}, RelativeKind::kNear, 2, false},              // callw, as the original 64-bit design has it
      {{0xE9, 1, 2, 3, 4}, RelativeKind::kNear, 4, true},               // jmp
      {{0x0F, 0x85, 1, 2, 3, 4}, RelativeKind::kNear, 4, false},        // jnz
      {{0xEB, 0x10}, RelativeKind::kShort, 1, true},                    // jmp short
      {{0x67, 0xE3, 0x10}, RelativeKind::kShort, 1, false},             // jecxz
      {{0xE3, 0x10}, RelativeKind::kShort, 1, false},                   // jrcxz
      {{0xC7, 0xF8, 1, 2, 3, 4}, RelativeKind::kNear, 4, false},        // xbegin
      {{0xFF, 0x25, 1, 2, 3, 4}, RelativeKind::kNone, 0, true},         // jmp [rip+disp32]
      {{0x41, 0xFF, 0xE3}, RelativeKind::kNone, 0, true},               // jmp r11
      {{0x48, 0xFF, 0x2C, 0x24}, RelativeKind::kNone, 0, true},         // jmp far [rsp]
      {{0xC3}, RelativeKind::kNone, 0, true},                           // ret
  };
  for (const Branch& branch : branches) {
    SCOPED_TRACE(::testing::PrintToString(branch.bytes));
    const DecodedInstruction decoded = DecodeInstruction(branch.bytes, CodeMode::k64);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.length, branch.bytes.size());
    EXPECT_EQ(decoded.relative, branch.relative);
    EXPECT_EQ(decoded.displacement_size, branch.displacement_size);
    EXPECT_EQ(decoded.ends_flow, branch.ends_flow);
  }
}

TEST(InstructionDecoder64, FindsTheDisplacementOfRipRelativeOperands) {
  struct Operand {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint8_t displacement_at;  // 0: no operand relative to the instruction pointer
  };
  const std::vector<Operand> operands = {
      {"mov eax, [rip+d]", {0x8B, 0x05, 1, 2, 3, 4}, 2},
      {"lea rcx, [rip+d]", {0x48, 0x8D, 0x0D, 1, 2, 3, 4}, 3},
      {"with REX.B still rip: mov r8, [rip+d]", {0x49, 0x8B, 0x05, 1, 2, 3, 4}, 3},
      {"cmp dword [rip+d], imm8: the immediate follows", {0x83, 0x3D, 1, 2, 3, 4, 5}, 2},
      {"mov qword [rip+d], imm32", {0x48, 0xC7, 0x05, 1, 2, 3, 4, 5, 6, 7, 8}, 3},
      {"test byte [rip+d], imm8", {0xF6, 0x05, 1, 2, 3, 4, 5}, 2},
      {"call [rip+d]", {0xFF, 0x15, 1, 2, 3, 4}, 2},
      {"prefixes before: lock inc dword fs:[rip+d]", {0x64, 0xF0, 0xFF, 0x05, 1, 2, 3, 4}, 4},
      {"two-byte map: movzx eax, byte [rip+d]", {0x0F, 0xB6, 0x05, 1, 2, 3, 4}, 3},
      {"three-byte map with imm8: palignr xmm0, [rip+d], 8", {0x66, 0x0F, 0x3A, 0x0F, 0x05, 1, 2, 3, 4, 8}, 5},
      {"VEX: vmovaps xmm0, [rip+d]", {0xC5, 0xF8, 0x28, 0x05, 1, 2, 3, 4}, 4},
      {"EVEX: vmovaps zmm0, [rip+d]", {0x62, 0xF1, 0x7C, 0x48, 0x28, 0x05, 1, 2, 3, 4}, 6},
      {"0x67: [eip+d]", {0x67, 0x8B, 0x05, 1, 2, 3, 4}, 3},
      {"SIB base 101 mod 00 is absolute", {0x8B, 0x04, 0x25, 1, 2, 3, 4}, 0},
      {"mod 01 rm 101 is [rbp+disp8]", {0x8B, 0x45, 0x08}, 0},
      {"register form", {0x8B, 0xC5}, 0},
      {"moffs is absolute", {0xA1, 1, 2, 3, 4, 5, 6, 7, 8}, 0},
  };
  for (const Operand& operand : operands) {
    const DecodedInstruction decoded = DecodeInstruction(operand.bytes, CodeMode::k64);
    ASSERT_TRUE(decoded.ok()) << operand.name;
    EXPECT_EQ(decoded.length, operand.bytes.size()) << operand.name;
    EXPECT_EQ(decoded.rip_relative, operand.displacement_at != 0) << operand.name;
    if (operand.displacement_at != 0) {
      EXPECT_EQ(decoded.rip_displacement_offset, operand.displacement_at) << operand.name;
      EXPECT_EQ(operand.bytes[decoded.rip_displacement_offset], 1) << operand.name;
    }
  }
  // 32-bit code has no such operand: mod 00 rm 101 is an absolute address.
  EXPECT_FALSE(DecodeInstruction(std::vector<std::uint8_t>{0x8B, 0x05, 1, 2, 3, 4}).rip_relative);
}

}  // namespace
}  // namespace vellum::exceptlog

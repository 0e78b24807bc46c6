#include "exceptlog/capture/callstack/x64_unwind.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "exceptlog/common/binary/testing/fake_memory_test_support.h"

namespace vellum::exceptlog {
namespace {

using R = X64Register;
using Codes = std::vector<std::uint16_t>;

constexpr std::uint64_t kBase = 0x140000000;  // above 4 GB, as 64-bit images are
constexpr std::uint64_t kOtherBase = 0x7FF800000000;
constexpr std::uint32_t kImageSize = 0x10000;
constexpr std::uint32_t kTable = 0x8000;
constexpr std::uint64_t kStackLow = 0x10000000;
constexpr std::uint32_t kStackSize = 0x100000;
constexpr std::uint64_t kCallerRsp = kStackLow + 0xFF000;  // RSP of the tested function's caller

// Unwind codes written slot by slot, as a linker lays them out.
std::uint16_t Slot(std::uint8_t at, std::uint8_t operation, std::uint8_t info) {
  return static_cast<std::uint16_t>(at | operation << 8 | info << 12);
}
std::uint8_t Number(R reg) {
  return static_cast<std::uint8_t>(reg);
}
Codes Push(std::uint8_t at, R reg) {
  return {Slot(at, 0, Number(reg))};
}
Codes AllocSmall(std::uint8_t at, std::uint32_t size) {
  return {Slot(at, 2, static_cast<std::uint8_t>(size / 8 - 1))};
}
Codes AllocLarge(std::uint8_t at, std::uint32_t size) {
  if (size / 8 <= 0xFFFF) return {Slot(at, 1, 0), static_cast<std::uint16_t>(size / 8)};
  return {Slot(at, 1, 1), static_cast<std::uint16_t>(size), static_cast<std::uint16_t>(size >> 16)};
}
Codes SetFrame(std::uint8_t at) {
  return {Slot(at, 3, 0)};
}
Codes Save(std::uint8_t at, R reg, std::uint32_t offset) {
  if (offset / 8 <= 0xFFFF) return {Slot(at, 4, Number(reg)), static_cast<std::uint16_t>(offset / 8)};
  return {Slot(at, 5, Number(reg)), static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(offset >> 16)};
}
Codes SaveXmm(std::uint8_t at, std::uint8_t xmm, std::uint32_t offset) {
  if (offset / 16 <= 0xFFFF) return {Slot(at, 8, xmm), static_cast<std::uint16_t>(offset / 16)};
  return {Slot(at, 9, xmm), static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(offset >> 16)};
}
Codes MachineFrame(std::uint8_t at, bool error_code) {
  return {Slot(at, 10, error_code ? 1 : 0)};
}

struct Info {
  Info(std::uint8_t prologue_size, std::vector<Codes> code_list, std::uint8_t frame = 0, std::uint8_t offset = 0,
       std::optional<X64FunctionEntry> parent = std::nullopt, std::uint8_t format = 1)
      : prologue(prologue_size),
        codes(std::move(code_list)),
        frame_register(frame),
        frame_offset(offset),
        chained(parent),
        version(format) {}
  std::uint8_t prologue;
  std::vector<Codes> codes;  // last prologue instruction first, as stored
  std::uint8_t frame_register;
  std::uint8_t frame_offset;  // in 16 bytes
  std::optional<X64FunctionEntry> chained;
  std::uint8_t version;
};

// An image with an exception directory, written field by field.
class FakeModule {
 public:
  FakeModule(testing::FakeMemory& memory, std::uint64_t base) : memory_(memory), base_(base) {
    memory.Map(base, kImageSize);
  }
  std::uint32_t AddInfo(const Info& info) {
    Codes slots;
    for (const Codes& code : info.codes) slots.insert(slots.end(), code.begin(), code.end());
    const std::uint32_t rva = next_info_;
    memory_.Write(base_ + rva, {static_cast<std::uint8_t>(info.version | (info.chained ? 4 << 3 : 0)), info.prologue,
                                static_cast<std::uint8_t>(slots.size()),
                                static_cast<std::uint8_t>(info.frame_register | info.frame_offset << 4)});
    for (std::size_t i = 0; i < slots.size(); ++i) {
      memory_.Write(base_ + rva + 4 + 2 * i,
                    {static_cast<std::uint8_t>(slots[i]), static_cast<std::uint8_t>(slots[i] >> 8)});
    }
    next_info_ += 4 + 2 * static_cast<std::uint32_t>((slots.size() + 1) & ~std::size_t{1});
    if (info.chained) {
      WriteEntry(next_info_, *info.chained);
      next_info_ += 12;
    }
    return rva;
  }
  X64FunctionEntry Add(std::uint32_t begin, std::uint32_t end, const Info& info) {
    return AddEntry({begin, end, AddInfo(info)});
  }
  X64FunctionEntry AddEntry(X64FunctionEntry entry) {
    entries_.push_back(entry);
    return entry;
  }
  void Code(std::uint32_t rva, const std::vector<std::uint8_t>& bytes) { memory_.Write(base_ + rva, bytes); }
  // Writes the table in the order the entries were added.
  X64ModuleUnwindData Publish() {
    for (std::size_t i = 0; i < entries_.size(); ++i)
      WriteEntry(kTable + 12 * static_cast<std::uint32_t>(i), entries_[i]);
    return {base_, kImageSize, kTable, 12 * static_cast<std::uint32_t>(entries_.size())};
  }
  std::uint64_t At(std::uint32_t rva) const { return base_ + rva; }

 private:
  void WriteEntry(std::uint32_t rva, X64FunctionEntry entry) {
    memory_.Write32(base_ + rva, entry.begin);
    memory_.Write32(base_ + rva + 4, entry.end);
    memory_.Write32(base_ + rva + 8, entry.unwind_info);
  }
  testing::FakeMemory& memory_;
  std::uint64_t base_;
  std::uint32_t next_info_ = 0x9000;
  std::vector<X64FunctionEntry> entries_;
};

class X64Unwind : public ::testing::Test {
 protected:
  void SetUp() override { memory_.Map(kStackLow, kStackSize); }
  X64ModuleLookup Modules() {
    modules_ = {module_.Publish()};
    return [this](std::uint64_t pc) -> std::optional<X64ModuleUnwindData> {
      for (const X64ModuleUnwindData& module : modules_) {
        if (pc >= module.image_base && pc - module.image_base < module.image_size) return module;
      }
      return std::nullopt;
    };
  }
  X64UnwindStep Unwind(X64Registers& registers, X64FrameKind kind = X64FrameKind::kReturnAddress) {
    return UnwindX64Frame({memory_, memory_}, Modules(), kind, registers);
  }
  X64Registers At(std::uint32_t rva, std::uint64_t rsp) {
    X64Registers registers;
    for (std::size_t i = 0; i < 16; ++i) registers.general[i] = 0xBAD0000 + i;
    registers.rip = module_.At(rva);
    registers.SetRsp(rsp);
    return registers;
  }
  void Stack(std::uint64_t address, std::uint64_t value) { memory_.Write64(address, value); }

  testing::FakeMemory memory_;
  FakeModule module_{memory_, kBase};
  std::vector<X64ModuleUnwindData> modules_;
  const std::uint64_t return_address_ = kBase + 0x7777;
};

TEST(X64FunctionLookup, BinarySearchFindsTheCoveringEntryOnly) {
  testing::FakeMemory memory;
  FakeModule module(memory, kBase);
  for (std::uint32_t i = 0; i < 41; ++i) module.AddEntry({0x1000 + 0x40 * i, 0x1030 + 0x40 * i, 0x9000});
  const X64ModuleUnwindData data = module.Publish();
  for (std::uint32_t i : {0u, 1u, 20u, 39u, 40u}) {
    EXPECT_EQ(FindX64FunctionEntry(memory, data, kBase + 0x1000 + 0x40 * i).entry.begin, 0x1000 + 0x40 * i);
    EXPECT_EQ(FindX64FunctionEntry(memory, data, kBase + 0x102F + 0x40 * i).entry.end, 0x1030 + 0x40 * i);
    EXPECT_EQ(FindX64FunctionEntry(memory, data, kBase + 0x1030 + 0x40 * i).result, X64EntrySearch::kNone) << i;
  }
  for (std::uint64_t pc : {kBase, kBase + 0xFFF, kBase + kImageSize, kBase - 1, std::uint64_t{0}}) {
    EXPECT_EQ(FindX64FunctionEntry(memory, data, pc).result, X64EntrySearch::kNone) << pc;
  }
  EXPECT_EQ(FindX64FunctionEntry(memory, {kBase, kImageSize, kTable, 0}, kBase + 0x1000).result, X64EntrySearch::kNone);
}

TEST(X64FunctionLookup, SharedEntriesAreFollowedAndDamagedTablesReported) {
  testing::FakeMemory memory;
  FakeModule module(memory, kBase);
  module.AddEntry({0x1000, 0x1100, 0x9000});
  module.AddEntry({0x1200, 0x1300, kTable | 1});         // shares the first's unwind data
  module.AddEntry({0x1400, 0x1500, (kTable + 24) | 1});  // refers to itself
  const X64ModuleUnwindData data = module.Publish();
  EXPECT_EQ(FindX64FunctionEntry(memory, data, kBase + 0x1250).entry.begin, 0x1000u);
  EXPECT_EQ(FindX64FunctionEntry(memory, data, kBase + 0x1450).result, X64EntrySearch::kDamaged);

  const auto damaged = [&](std::vector<X64FunctionEntry> entries, std::uint32_t pc_rva) {
    testing::FakeMemory other;
    FakeModule broken(other, kBase);
    for (const X64FunctionEntry& entry : entries) broken.AddEntry(entry);
    return FindX64FunctionEntry(other, broken.Publish(), kBase + pc_rva).result == X64EntrySearch::kDamaged;
  };
  // Out of order where the search looks: the second entry lies above the third.
  EXPECT_TRUE(damaged({{0x1000, 0x1100, 0x9000},
                       {0x5000, 0x5100, 0x9000},
                       {0x3000, 0x3100, 0x9000},
                       {0x4000, 0x4100, 0x9000},
                       {0x6000, 0x6100, 0x9000}},
                      0x1050));
  EXPECT_TRUE(damaged({{0x2000, 0x2000, 0x9000}}, 0x2000)) << "empty";
  EXPECT_TRUE(damaged({{0x2000, 0x1000, 0x9000}}, 0x1800)) << "reversed";
  EXPECT_TRUE(damaged({{0xF000, 0x10001, 0x9000}}, 0xF000)) << "past the image";
  EXPECT_TRUE(damaged({{0x1000, 0x1100, 0xFFFE}}, 0x1050)) << "unwind data past the image";
  EXPECT_EQ(FindX64FunctionEntry(memory, {kBase, kImageSize, 0xFFF4, 24}, kBase + 0x1000).result,
            X64EntrySearch::kDamaged)
      << "directory past the image";
  EXPECT_EQ(FindX64FunctionEntry(memory, {kBase, 0x20000, 0x10000, 24}, kBase + 0x1000).result,
            X64EntrySearch::kDamaged)
      << "directory not mapped";
  EXPECT_EQ(FindX64FunctionEntry(memory, {UINT64_MAX - 0x100, kImageSize, 0, 12}, UINT64_MAX - 0x50).result,
            X64EntrySearch::kDamaged)
      << "image wrapping past the top of memory";
}

// push rbp; push r12; sub rsp, 0x48; mov [rsp+0x20], rbx; movaps [rsp+0x30], xmm6
TEST_F(X64Unwind, PrologueCodesAreUndoneAsFarAsTheyRan) {
  module_.Add(
      0x1000, 0x1100,
      {17, {SaveXmm(17, 6, 0x30), Save(12, R::kRbx, 0x20), AllocSmall(7, 0x48), Push(3, R::kR12), Push(1, R::kRbp)}});
  const std::uint64_t body = kCallerRsp - 0x60;
  Stack(kCallerRsp - 8, return_address_);
  Stack(kCallerRsp - 16, 0x1111);
  Stack(kCallerRsp - 24, 0x2222);
  Stack(body + 0x20, 0x3333);
  Stack(body + 0x30, 0xEEEE);  // xmm6: restores no integer register
  struct Point {
    std::uint32_t offset;
    std::uint64_t rsp;
    std::uint64_t rbp, r12, rbx;
  };
  const Point points[] = {{0, kCallerRsp - 8, 0xBAD0005, 0xBAD000C, 0xBAD0003},
                          {1, kCallerRsp - 16, 0x1111, 0xBAD000C, 0xBAD0003},
                          {3, kCallerRsp - 24, 0x1111, 0x2222, 0xBAD0003},
                          {7, body, 0x1111, 0x2222, 0xBAD0003},
                          {12, body, 0x1111, 0x2222, 0x3333},
                          {0x40, body, 0x1111, 0x2222, 0x3333}};
  for (const Point& point : points) {
    X64Registers registers = At(0x1000 + point.offset, point.rsp);
    const X64UnwindStep step = Unwind(registers);
    ASSERT_EQ(step.result, X64UnwindResult::kUnwound) << point.offset;
    EXPECT_EQ(step.caller_kind, X64FrameKind::kReturnAddress);
    EXPECT_EQ(registers.rip, return_address_) << point.offset;
    EXPECT_EQ(registers.Rsp(), kCallerRsp) << point.offset;
    EXPECT_EQ(registers[R::kRbp], point.rbp) << point.offset;
    EXPECT_EQ(registers[R::kR12], point.r12) << point.offset;
    EXPECT_EQ(registers[R::kRbx], point.rbx) << point.offset;
    EXPECT_EQ(registers[R::kRsi], 0xBAD0006u);
  }
}

TEST_F(X64Unwind, LargeAllocationsInBothFormsAndFarSaves) {
  // push rsi; sub rsp, 0x8010
  module_.Add(0x1000, 0x1100, {8, {AllocLarge(8, 0x8010), Push(1, R::kRsi)}});
  // sub rsp, 0x90008; mov [rsp+0x88000], rdi; movaps [rsp+0x123450], xmm7
  module_.Add(0x2000, 0x2100, {24, {SaveXmm(24, 7, 0x123450), Save(15, R::kRdi, 0x88000), AllocLarge(7, 0x90008)}});
  Stack(kCallerRsp - 8, return_address_);
  Stack(kCallerRsp - 16, 0x5151);
  X64Registers first = At(0x1050, kCallerRsp - 16 - 0x8010);
  ASSERT_EQ(Unwind(first).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(first.Rsp(), kCallerRsp);
  EXPECT_EQ(first[R::kRsi], 0x5151u);

  const std::uint64_t body = kCallerRsp - 8 - 0x90008;
  Stack(body + 0x88000, 0xD1D1);
  X64Registers second = At(0x2050, body);
  ASSERT_EQ(Unwind(second).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(second.rip, return_address_);
  EXPECT_EQ(second.Rsp(), kCallerRsp);
  EXPECT_EQ(second[R::kRdi], 0xD1D1u);
}

// push rbp; push rbx; sub rsp, 0x40; mov [rsp+0x38], rsi; lea rbp, [rsp+0x20];
// then the body moves RSP down by 0x200 (alloca).
TEST_F(X64Unwind, FramePointerGivesTheFrameBaseOnceSet) {
  module_.Add(0x1000, 0x1100,
              {16,
               {SetFrame(16), Save(11, R::kRsi, 0x38), AllocSmall(6, 0x40), Push(2, R::kRbx), Push(1, R::kRbp)},
               Number(R::kRbp),
               2});
  const std::uint64_t frame_base = kCallerRsp - 24 - 0x40;
  Stack(kCallerRsp - 8, return_address_);
  Stack(kCallerRsp - 16, 0xB0B0);
  Stack(kCallerRsp - 24, 0xB1B1);
  Stack(frame_base + 0x38, 0x5151);
  Stack(frame_base - 0x200 + 0x38, 0xDEC0);  // what RSP-relative offsets would find

  X64Registers body = At(0x1060, frame_base - 0x200);
  body[R::kRbp] = frame_base + 0x20;
  ASSERT_EQ(Unwind(body).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(body.rip, return_address_);
  EXPECT_EQ(body.Rsp(), kCallerRsp);
  EXPECT_EQ(body[R::kRsi], 0x5151u);
  EXPECT_EQ(body[R::kRbx], 0xB1B1u);
  EXPECT_EQ(body[R::kRbp], 0xB0B0u);

  // Before the LEA, RBP still holds the caller's value: the save is found
  // from RSP.
  X64Registers before_frame = At(0x100B, frame_base);
  before_frame[R::kRbp] = 0xB0B0;
  ASSERT_EQ(Unwind(before_frame).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(before_frame.Rsp(), kCallerRsp);
  EXPECT_EQ(before_frame[R::kRsi], 0x5151u);
}

// push rbx; push rsi; sub rsp, 0x28, and at 0x40 the epilogue
// add rsp, 0x28; pop rsi; pop rbx; <end> with each ending in turn.
TEST_F(X64Unwind, StoppedInAnEpilogueTheRestOfItIsEmulated) {
  const std::uint64_t body = kCallerRsp - 0x40;
  Stack(kCallerRsp - 8, return_address_);
  Stack(kCallerRsp - 16, 0xB1B1);
  Stack(kCallerRsp - 24, 0x5151);
  struct Ending {
    std::vector<std::uint8_t> bytes;
    bool epilogue;
  };
  const Ending endings[] = {
      {{0xC3}, true},
      {{0xF3, 0xC3}, true},
      {{0xE9, 0x00, 0x10, 0x00, 0x00}, true},  // jump out of the function: a tail call
      {{0xE9, 0xB5, 0xFF, 0xFF, 0xFF}, true},  // jump to its own start: recursion
      {{0xFF, 0x25, 0x00, 0x10, 0x00, 0x00}, true},
      {{0x48, 0xFF, 0xE0}, true},
      {{0xEB, 0xE0}, false},  // a jump inside the function
      {{0xFF, 0xE0}, false},  // jmp rax without REX.W stays inside
  };
  std::uint32_t begin = 0x1000;
  for (const Ending& ending : endings) {
    module_.Add(begin, begin + 0x50, {6, {AllocSmall(6, 0x28), Push(2, R::kRsi), Push(1, R::kRbx)}});
    module_.Code(begin + 0x40, {0x48, 0x83, 0xC4, 0x28, 0x5E, 0x5B});
    module_.Code(begin + 0x46, ending.bytes);
    const std::uint64_t rsp_at[] = {body, body + 0x28, body + 0x30, body + 0x38};
    const std::uint32_t offset_at[] = {0x40, 0x44, 0x45, 0x46};
    for (int i = 0; i < 4; ++i) {
      X64Registers registers = At(begin + offset_at[i], rsp_at[i]);
      ASSERT_EQ(Unwind(registers, X64FrameKind::kStopped).result, X64UnwindResult::kUnwound);
      // The add is where an epilogue and the body agree.
      const bool right = registers.rip == return_address_ && registers.Rsp() == kCallerRsp;
      EXPECT_EQ(right, ending.epilogue || i == 0) << begin << " at " << offset_at[i];
      if (right && i < 3) {
        EXPECT_EQ(registers[R::kRbx], 0xB1B1u);
      }
    }
    begin += 0x100;
  }
}

TEST_F(X64Unwind, EpilogueRestoringRspFromTheFramePointer) {
  // push rbp; mov rbp, rsp (frame offset 0); sub rsp, 0x20 ... lea rsp, [rbp]; pop rbp; ret
  module_.Add(0x1000, 0x1100, {8, {AllocSmall(8, 0x20), SetFrame(4), Push(1, R::kRbp)}, Number(R::kRbp)});
  module_.Code(0x1040, {0x48, 0x8D, 0x65, 0x00, 0x5D, 0xC3});
  // The same with R12 as the frame register, which needs a SIB byte, and a
  // LEA from another register, which is no epilogue.
  module_.Add(0x2000, 0x2100, {8, {AllocSmall(8, 0x20), SetFrame(4), Push(1, R::kR12)}, Number(R::kR12)});
  module_.Code(0x2040, {0x49, 0x8D, 0x64, 0x24, 0x08, 0x41, 0x5C, 0xC3});
  module_.Add(0x3000, 0x3100, {8, {AllocSmall(8, 0x20), SetFrame(4), Push(1, R::kRbp)}, Number(R::kRbp)});
  module_.Code(0x3040, {0x48, 0x8D, 0x63, 0x00, 0x5D, 0xC3});
  Stack(kCallerRsp - 8, return_address_);
  Stack(kCallerRsp - 16, 0xF0F0);

  X64Registers rbp_frame = At(0x1040, kCallerRsp - 0x300);  // RSP moved by alloca
  rbp_frame[R::kRbp] = kCallerRsp - 16;
  ASSERT_EQ(Unwind(rbp_frame, X64FrameKind::kStopped).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(rbp_frame.rip, return_address_);
  EXPECT_EQ(rbp_frame.Rsp(), kCallerRsp);
  EXPECT_EQ(rbp_frame[R::kRbp], 0xF0F0u);

  X64Registers r12_frame = At(0x2040, kCallerRsp - 0x300);
  r12_frame[R::kR12] = kCallerRsp - 24;
  ASSERT_EQ(Unwind(r12_frame, X64FrameKind::kStopped).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(r12_frame.Rsp(), kCallerRsp);
  EXPECT_EQ(r12_frame[R::kR12], 0xF0F0u);

  // Not an epilogue: the codes apply from the frame pointer.
  X64Registers other = At(0x3040, kCallerRsp - 0x300);
  other[R::kRbp] = kCallerRsp - 16;
  other[R::kRbx] = kCallerRsp - 0x200;
  ASSERT_EQ(Unwind(other, X64FrameKind::kStopped).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(other.Rsp(), kCallerRsp);
}

TEST_F(X64Unwind, MachineFramesRestoreTheInterruptedRegisters) {
  // A handler entered with the processor's frame, with and without an error
  // code, then sub rsp, 0x28.
  module_.Add(0x1000, 0x1100, {4, {AllocSmall(4, 0x28), MachineFrame(0, false)}});
  module_.Add(0x2000, 0x2100, {4, {AllocSmall(4, 0x28), MachineFrame(0, true)}});
  const std::uint64_t frame = kCallerRsp - 0x100;
  for (const bool error_code : {false, true}) {
    const std::uint64_t words = frame + (error_code ? 8 : 0);
    for (std::uint64_t word = 0; word < 6; ++word) Stack(frame + 8 * word, 0xE0 + word);
    Stack(words, kOtherBase + 0x123 + error_code);      // RIP
    Stack(words + 24, kCallerRsp + 0x40 + error_code);  // RSP
    X64Registers registers = At(error_code ? 0x2050 : 0x1050, frame - 0x28);
    const X64UnwindStep step = Unwind(registers);
    ASSERT_EQ(step.result, X64UnwindResult::kUnwound);
    EXPECT_EQ(step.caller_kind, X64FrameKind::kStopped);
    EXPECT_EQ(registers.rip, kOtherBase + 0x123 + error_code);
    EXPECT_EQ(registers.Rsp(), kCallerRsp + 0x40 + error_code);
  }
}

TEST_F(X64Unwind, ChainedInfoAppliesTheChildThenTheWholeParent) {
  // The parent: push rbx; sub rsp, 0x20. Its cold part: push rdi, chained.
  const X64FunctionEntry parent = module_.Add(0x1000, 0x1100, {5, {AllocSmall(5, 0x20), Push(1, R::kRbx)}});
  module_.Add(0x3000, 0x3040, {1, {Push(1, R::kRdi)}, 0, 0, parent});
  Stack(kCallerRsp - 8, return_address_);
  Stack(kCallerRsp - 16, 0xB1B1);
  Stack(kCallerRsp - 0x38, 0xD1D1);
  X64Registers child = At(0x3010, kCallerRsp - 0x38);
  ASSERT_EQ(Unwind(child).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(child.rip, return_address_);
  EXPECT_EQ(child.Rsp(), kCallerRsp);
  EXPECT_EQ(child[R::kRdi], 0xD1D1u);
  EXPECT_EQ(child[R::kRbx], 0xB1B1u);
  // At the child's first byte its own push has not run; the parent's has.
  X64Registers child_start = At(0x3000, kCallerRsp - 0x30);
  ASSERT_EQ(Unwind(child_start).result, X64UnwindResult::kUnwound);
  EXPECT_EQ(child_start.Rsp(), kCallerRsp);
  EXPECT_EQ(child_start[R::kRdi], 0xBAD0007u);
}

TEST_F(X64Unwind, LeafOnlyWhereThePcIsWhereTheThreadStopped) {
  module_.Add(0x1000, 0x1100, {1, {Push(1, R::kRbx)}});
  Stack(kCallerRsp - 8, return_address_);
  for (const std::uint64_t pc : {kBase + 0x2000, kOtherBase, std::uint64_t{0}}) {
    X64Registers stopped = At(0, kCallerRsp - 8);
    stopped.rip = pc;
    ASSERT_EQ(Unwind(stopped, X64FrameKind::kStopped).result, X64UnwindResult::kUnwound) << pc;
    EXPECT_EQ(stopped.rip, return_address_);
    EXPECT_EQ(stopped.Rsp(), kCallerRsp);

    X64Registers returned = At(0, kCallerRsp - 8);
    returned.rip = pc;
    EXPECT_EQ(Unwind(returned).result, X64UnwindResult::kNoUnwindData) << pc;
    EXPECT_EQ(returned.Rsp(), kCallerRsp - 8) << "registers kept";
  }
}

TEST_F(X64Unwind, DamagedUnwindDataOrStackEndsTheStepCleanly) {
  const auto info_at = [&](std::uint32_t rva, const Info& info) { module_.Add(rva, rva + 0x100, info); };
  info_at(0x1000, {0, {Push(0, R::kRbx)}, 0, 0, std::nullopt, 3});           // unknown version
  info_at(0x1100, {0, {{Slot(0, 11, 0)}}});                                  // unknown code
  info_at(0x1200, {0, {{Slot(0, 1, 0)}}});                                   // ALLOC_LARGE cut short
  info_at(0x1300, {0, {{Slot(0, 5, 3), 0x10}}});                             // SAVE_NONVOL_FAR cut short
  info_at(0x1400, {0, {{Slot(0, 1, 2), 0, 0}}});                             // ALLOC_LARGE of no form
  info_at(0x1500, {0, {SetFrame(0)}});                                       // no frame register
  info_at(0x1600, {0, {{Slot(0, 10, 2)}}});                                  // machine frame of no form
  info_at(0x1700, {0, {}, 0, 0, X64FunctionEntry{0x1700, 0x1800, 0xFFFE}});  // parent info outside
  info_at(0x1800, {0, {}, 0, 0, X64FunctionEntry{0x1900, 0x1800, 0x9000}});  // parent entry reversed
  const std::uint32_t looping = module_.AddInfo({0, {Push(0, R::kRbx)}, 0, 0, X64FunctionEntry{0x1900, 0x1A00, 0}});
  memory_.Write32(kBase + looping + 4 + 4 + 8, looping);  // its parent is itself
  module_.AddEntry({0x1900, 0x1A00, looping});
  module_.AddEntry({0x1A00, 0x1B00, kImageSize - 6});  // codes run past the image
  memory_.Write(kBase + kImageSize - 6, {1, 0, 4, 0});
  for (std::uint32_t rva = 0x1000; rva <= 0x1A00; rva += 0x100) {
    X64Registers registers = At(rva + 0x10, kCallerRsp - 0x100);
    EXPECT_EQ(Unwind(registers).result, X64UnwindResult::kDamagedUnwindData) << std::hex << rva;
    EXPECT_EQ(registers.rip, kBase + rva + 0x10) << "registers kept";
  }

  module_.Add(0x2000, 0x2100, {1, {Push(1, R::kRbx)}});
  X64Registers unreadable = At(0x2010, kStackLow + kStackSize - 8);
  EXPECT_EQ(Unwind(unreadable).result, X64UnwindResult::kUnreadableStack);
  EXPECT_EQ(unreadable.Rsp(), kStackLow + kStackSize - 8);
}

// Frames of "push rbx; sub rsp, 0x20" calling each other from 0x1050, the
// innermost stopped in a leaf; the outermost returns to `outermost`.
class X64Walk : public X64Unwind {
 protected:
  void SetUp() override {
    X64Unwind::SetUp();
    module_.Add(0x1000, 0x1100, {5, {AllocSmall(5, 0x20), Push(1, R::kRbx)}});
  }
  X64Registers Chain(int depth, std::uint64_t outermost) {
    std::uint64_t rsp = kCallerRsp;
    for (int i = 0; i < depth; ++i) {
      Stack(rsp - 8, i == 0 ? outermost : module_.At(0x1050));
      rsp -= 0x30;
    }
    Stack(rsp - 8, module_.At(0x1050));  // the leaf's return address
    return At(0x2000, rsp - 8);
  }
  X64StackWalk Walk(const X64Registers& start, X64StackBounds bounds = {kStackLow, kStackLow + kStackSize},
                    std::size_t max_frames = kMaxX64Frames) {
    return WalkX64Stack({memory_, memory_}, Modules(), start, bounds, max_frames);
  }
};

TEST_F(X64Walk, ListsEveryFrameUpToTheZeroReturnAddress) {
  const X64Registers start = Chain(3, 0);
  const X64StackWalk walk = Walk(start);
  EXPECT_EQ(walk.end, X64WalkEnd::kZeroReturnAddress);
  ASSERT_EQ(walk.frames.size(), 4u);
  EXPECT_EQ(walk.frames[0].pc, kBase + 0x2000);
  EXPECT_EQ(walk.frames[0].rsp, kCallerRsp - 3 * 0x30 - 8);
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(walk.frames[i].pc, kBase + 0x1050);
    EXPECT_EQ(walk.frames[i].rsp, kCallerRsp - (4 - i) * 0x30);
  }
  EXPECT_EQ(walk.end_rsp, walk.frames.back().rsp);
}

TEST_F(X64Walk, EndsWhereTheStackOrItsDataStopMakingSense) {
  // A return address outside every module: listed, and the scan goes on from there.
  X64StackWalk walk = Walk(Chain(2, kOtherBase + 0x10));
  EXPECT_EQ(walk.end, X64WalkEnd::kNoUnwindData);
  ASSERT_EQ(walk.frames.size(), 4u);
  EXPECT_EQ(walk.end_pc, kOtherBase + 0x10);
  EXPECT_EQ(walk.end_rsp, kCallerRsp);

  EXPECT_EQ(Walk(Chain(5, 0), {kStackLow, kStackLow + kStackSize}, 3).frames.size(), 3u);
  EXPECT_EQ(Walk(Chain(5, 0), {kStackLow, kStackLow + kStackSize}, 3).end, X64WalkEnd::kFrameLimit);
  // Bounds below the outer frames: their words are not read at all.
  walk = Walk(Chain(5, 0), {kStackLow, kCallerRsp - 0x64});
  EXPECT_EQ(walk.end, X64WalkEnd::kUnreadableStack);
  EXPECT_EQ(walk.frames.size(), 4u);
  EXPECT_EQ(Walk(Chain(1, 0), {kCallerRsp, kCallerRsp + 8}).end, X64WalkEnd::kLeftStack);
  EXPECT_TRUE(Walk(Chain(1, 0), {kCallerRsp, kCallerRsp + 8}).frames.empty());

  // A machine frame whose stack pointer goes down, and one that leaves the stack.
  module_.Add(0x3000, 0x3100, {1, {MachineFrame(1, false)}});
  X64Registers trap = At(0x3010, kCallerRsp - 0x100);
  Stack(kCallerRsp - 0x100, kBase + 0x2000);
  Stack(kCallerRsp - 0x100 + 24, kCallerRsp - 0x200);
  EXPECT_EQ(Walk(trap).end, X64WalkEnd::kStackPointerNotIncreasing);
  Stack(kCallerRsp - 0x100 + 24, kStackLow + kStackSize);
  EXPECT_EQ(Walk(trap).end, X64WalkEnd::kLeftStack);
  // Past a machine frame the PC is again where a thread stopped: a leaf there is fine.
  Stack(kCallerRsp - 0x100 + 24, kCallerRsp - 8);
  Stack(kCallerRsp - 8, 0);
  walk = Walk(trap);
  EXPECT_EQ(walk.end, X64WalkEnd::kZeroReturnAddress);
  EXPECT_EQ(walk.frames.size(), 2u);

  // A return address into a module whose table is damaged.
  const X64ModuleLookup modules = [](std::uint64_t pc) -> std::optional<X64ModuleUnwindData> {
    if (pc >= kOtherBase) return X64ModuleUnwindData{kOtherBase, 0x1000, 0x2000, 12};
    return std::nullopt;
  };
  X64Registers stopped = At(0, kCallerRsp - 8);
  stopped.rip = kOtherBase + 0x10;
  EXPECT_EQ(WalkX64Stack({memory_, memory_}, modules, stopped, {kStackLow, kStackLow + kStackSize}).end,
            X64WalkEnd::kDamagedUnwindData);
}

TEST_F(X64Walk, StackWordsComeFromTheStackReaderAndCodeFromTheImages) {
  // The stack as it was, copied; the live memory has moved on since.
  const X64Registers start = Chain(2, 0);
  testing::FakeMemory copy;
  auto& bytes = copy.Map(kStackLow, kStackSize);
  memory_.Read(kStackLow, bytes.data(), kStackSize);
  memory_.Map(kStackLow, kStackSize);
  const X64StackWalk walk =
      WalkX64Stack({memory_, copy}, Modules(), start, {kStackLow, kStackLow + kStackSize}, kMaxX64Frames);
  EXPECT_EQ(walk.end, X64WalkEnd::kZeroReturnAddress);
  EXPECT_EQ(walk.frames.size(), 3u);
}

}  // namespace
}  // namespace vellum::exceptlog

#include "exceptlog/capture/callstack/x64_unwind.h"

#include <algorithm>
#include <span>

#include "exceptlog/common/binary/little_endian.h"

// Failures here are results, not exceptions: throwing in a 64-bit process
// runs the system's own unwinder, which is what this code exists to avoid.

namespace vellum::exceptlog {
namespace {

constexpr std::uint32_t kEntrySize = 12;
constexpr std::uint32_t kUnwindInfoHeaderSize = 4;
constexpr std::uint8_t kChainedInfoFlag = 4;
// An epilogue is at most an 8-byte stack adjustment, 16 two-byte pops and a
// 6-byte jump; more than that is read for nothing.
constexpr std::uint32_t kEpilogueWindow = 64;

enum UnwindOperation : std::uint8_t {
  kPushNonvolatile = 0,
  kAllocLarge = 1,
  kAllocSmall = 2,
  kSetFramePointer = 3,
  kSaveNonvolatile = 4,
  kSaveNonvolatileFar = 5,
  kEpilogue = 6,  // version 2's epilogue descriptions; version 1's obsolete XMM save
  kSpare = 7,     // unused in version 2; version 1's obsolete far XMM save
  kSaveXmm128 = 8,
  kSaveXmm128Far = 9,
  kPushMachineFrame = 10,
};

std::uint8_t CodeOffset(std::uint16_t slot) {
  return static_cast<std::uint8_t>(slot & 0xFF);
}
std::uint8_t Operation(std::uint16_t slot) {
  return static_cast<std::uint8_t>((slot >> 8) & 0x0F);
}
std::uint8_t OperationInfo(std::uint16_t slot) {
  return static_cast<std::uint8_t>(slot >> 12);
}

// The slots a code takes, its own included; 0 for a code that means nothing.
int SlotCount(std::uint16_t slot) {
  switch (Operation(slot)) {
    case kPushNonvolatile:
    case kAllocSmall:
    case kSetFramePointer: return 1;
    case kPushMachineFrame: return OperationInfo(slot) <= 1 ? 1 : 0;
    case kAllocLarge: return OperationInfo(slot) == 0 ? 2 : OperationInfo(slot) == 1 ? 3 : 0;
    case kSaveNonvolatile:
    case kSaveXmm128:
    case kEpilogue: return 2;
    case kSaveNonvolatileFar:
    case kSaveXmm128Far:
    case kSpare: return 3;
    default: return 0;
  }
}

bool InsideImage(const X64ModuleUnwindData& module, std::uint64_t rva, std::uint64_t size) {
  return rva <= module.image_size && size <= module.image_size - rva;
}

// An entry of the table (or embedded in unwind data), checked to describe
// code inside the image.
std::optional<X64FunctionEntry> ReadEntry(const MemoryReader& images, const X64ModuleUnwindData& module,
                                          std::uint64_t rva) {
  std::uint8_t bytes[kEntrySize];
  if (!InsideImage(module, rva, kEntrySize) || !images.Read(module.image_base + rva, bytes, kEntrySize)) {
    return std::nullopt;
  }
  const X64FunctionEntry entry{LoadU32(bytes), LoadU32(bytes + 4), LoadU32(bytes + 8)};
  if (entry.begin >= entry.end || entry.end > module.image_size) return std::nullopt;
  return entry;
}

X64EntryLookup Damaged() {
  return {X64EntrySearch::kDamaged, {}};
}

// Some linkers share one function's unwind data among its pieces through an
// entry whose unwind address, low bit set, names the entry to use instead.
X64EntryLookup FollowSharedEntries(const MemoryReader& images, const X64ModuleUnwindData& module,
                                   X64FunctionEntry entry) {
  for (int link = 0; (entry.unwind_info & 1) != 0; ++link) {
    if (link == kMaxChainedUnwindInfos) return Damaged();
    const auto target = ReadEntry(images, module, entry.unwind_info & ~1u);
    if (!target) return Damaged();
    entry = *target;
  }
  if (!InsideImage(module, entry.unwind_info, kUnwindInfoHeaderSize)) return Damaged();
  return {X64EntrySearch::kFound, entry};
}

struct UnwindInfo {
  std::uint8_t version = 0;
  std::uint8_t flags = 0;
  std::uint8_t prologue_size = 0;
  std::uint8_t code_count = 0;
  std::uint8_t frame_register = 0;
  std::uint8_t frame_offset = 0;  // in units of 16 bytes
  std::array<std::uint16_t, 255> codes{};
  std::optional<X64FunctionEntry> chained;
};

bool ReadUnwindInfo(const MemoryReader& images, const X64ModuleUnwindData& module, std::uint32_t rva,
                    UnwindInfo& info) {
  std::uint8_t header[kUnwindInfoHeaderSize];
  if (!InsideImage(module, rva, sizeof header) || !images.Read(module.image_base + rva, header, sizeof header)) {
    return false;
  }
  info.version = header[0] & 7;
  info.flags = header[0] >> 3;
  info.prologue_size = header[1];
  info.code_count = header[2];
  info.frame_register = header[3] & 0x0F;
  info.frame_offset = header[3] >> 4;
  if (info.version != 1 && info.version != 2) return false;

  const std::uint64_t codes_rva = std::uint64_t{rva} + kUnwindInfoHeaderSize;
  std::array<std::uint8_t, 2 * 255> bytes;
  const std::uint32_t code_bytes = 2u * info.code_count;
  if (!InsideImage(module, codes_rva, code_bytes) ||
      !images.Read(module.image_base + codes_rva, bytes.data(), code_bytes)) {
    return false;
  }
  for (std::size_t i = 0; i < info.code_count; ++i) info.codes[i] = LoadU16(&bytes[2 * i]);

  info.chained.reset();
  if (info.flags & kChainedInfoFlag) {
    // The parent's entry follows the codes, which are padded to an even count.
    info.chained = ReadEntry(images, module, codes_rva + 2u * ((info.code_count + 1u) & ~1u));
    if (!info.chained) return false;
  }
  return true;
}

std::optional<std::uint64_t> ReadStackWord(const MemoryReader& stack, std::uint64_t address) {
  return stack.ReadValue<std::uint64_t>(address);
}

// Whether the prologue has set the frame pointer by `prologue_offset`.
bool FramePointerSet(const UnwindInfo& info, std::uint32_t prologue_offset) {
  for (int i = 0; i < info.code_count;) {
    const std::uint16_t code = info.codes[i];
    if (Operation(code) == kSetFramePointer) return CodeOffset(code) <= prologue_offset;
    const int slots = SlotCount(code);
    if (slots == 0) return false;
    i += slots;
  }
  return false;
}

// The base the save codes' offsets count from: the stack pointer at the end
// of the fixed allocation. Once a frame pointer is set, it keeps that base
// while the function moves RSP further (alloca).
std::uint64_t FrameBase(const UnwindInfo& info, std::optional<std::uint32_t> prologue_offset,
                        const X64Registers& registers) {
  if (info.frame_register == 0) return registers.Rsp();
  if (prologue_offset && !FramePointerSet(info, *prologue_offset)) return registers.Rsp();
  return registers.general[info.frame_register] - std::uint64_t{info.frame_offset} * 16;
}

struct UnwindState {
  X64Registers registers;
  std::uint64_t frame_base = 0;
  bool machine_frame = false;
};

X64UnwindResult Restore(const MemoryReader& stack, std::uint64_t address, std::uint64_t& target) {
  const auto value = ReadStackWord(stack, address);
  if (!value) return X64UnwindResult::kUnreadableStack;
  target = *value;
  return X64UnwindResult::kUnwound;
}

// Undoes one prologue instruction; `code` points at its slots.
X64UnwindResult UndoCode(const UnwindInfo& info, const std::uint16_t* code, const MemoryReader& stack,
                         UnwindState& state) {
  X64Registers& registers = state.registers;
  const std::uint8_t operand = OperationInfo(code[0]);
  switch (Operation(code[0])) {
    case kPushNonvolatile: {
      std::uint64_t value = 0;
      if (const auto result = Restore(stack, registers.Rsp(), value); result != X64UnwindResult::kUnwound) {
        return result;
      }
      registers.SetRsp(registers.Rsp() + 8);
      registers.general[operand] = value;
      return X64UnwindResult::kUnwound;
    }
    case kAllocLarge: {
      const std::uint64_t size =
          operand == 0 ? std::uint64_t{code[1]} * 8 : (std::uint64_t{code[1]} | std::uint64_t{code[2]} << 16);
      registers.SetRsp(registers.Rsp() + size);
      return X64UnwindResult::kUnwound;
    }
    case kAllocSmall: registers.SetRsp(registers.Rsp() + operand * 8u + 8); return X64UnwindResult::kUnwound;
    case kSetFramePointer:
      if (info.frame_register == 0) return X64UnwindResult::kDamagedUnwindData;
      registers.SetRsp(registers.general[info.frame_register] - std::uint64_t{info.frame_offset} * 16);
      return X64UnwindResult::kUnwound;
    case kSaveNonvolatile:
      return Restore(stack, state.frame_base + std::uint64_t{code[1]} * 8, registers.general[operand]);
    case kSaveNonvolatileFar:
      return Restore(stack, state.frame_base + (std::uint64_t{code[1]} | std::uint64_t{code[2]} << 16),
                     registers.general[operand]);
    case kPushMachineFrame: {
      // The processor's frame: [error code,] RIP, CS, EFLAGS, old RSP, SS.
      const std::uint64_t frame = registers.Rsp() + (operand == 1 ? 8 : 0);
      const auto rip = ReadStackWord(stack, frame);
      const auto rsp = ReadStackWord(stack, frame + 24);
      if (!rip || !rsp) return X64UnwindResult::kUnreadableStack;
      registers.rip = *rip;
      registers.SetRsp(*rsp);
      state.machine_frame = true;
      return X64UnwindResult::kUnwound;
    }
    default: return X64UnwindResult::kUnwound;  // XMM saves and epilogue descriptions
  }
}

// Undoes the codes of one unwind info, from the last prologue instruction
// back; in a prologue only those already executed.
X64UnwindResult UndoCodes(const UnwindInfo& info, std::optional<std::uint32_t> prologue_offset,
                          const MemoryReader& stack, UnwindState& state) {
  for (int i = 0; i < info.code_count;) {
    const std::uint16_t code = info.codes[i];
    const int slots = SlotCount(code);
    if (slots == 0 || i + slots > info.code_count) return X64UnwindResult::kDamagedUnwindData;
    if (!prologue_offset || CodeOffset(code) <= *prologue_offset) {
      if (const auto result = UndoCode(info, &info.codes[i], stack, state); result != X64UnwindResult::kUnwound) {
        return result;
      }
    }
    i += slots;
  }
  return X64UnwindResult::kUnwound;
}

// The code from `pc` on, as far as it is readable, the function goes and an
// epilogue can reach.
std::span<const std::uint8_t> ReadCode(const MemoryReader& images, std::uint64_t pc, std::uint64_t function_end,
                                       std::array<std::uint8_t, kEpilogueWindow>& buffer) {
  // A PC beyond the entry's end comes from an entry shared by several pieces.
  const std::uint64_t left = pc < function_end ? function_end - pc : kEpilogueWindow;
  const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(kEpilogueWindow, left));
  if (images.Read(pc, buffer.data(), wanted)) return {buffer.data(), wanted};
  std::uint32_t read = 0;
  while (read < wanted && images.Read(pc + read, &buffer[read], 1)) ++read;
  return {buffer.data(), read};
}

// The rest of an epilogue the PC stands in: its stack pointer restore if
// still ahead, the pops, then the return or tail jump.
struct Epilogue {
  enum class StackRestore : std::uint8_t { kNone, kAdd, kLoadFromFrame } restore = StackRestore::kNone;
  std::int64_t displacement = 0;
  std::uint8_t frame_register = 0;
  std::array<std::uint8_t, kEpilogueWindow> pops{};
  std::size_t pop_count = 0;
};

class CodeBytes {
 public:
  explicit CodeBytes(std::span<const std::uint8_t> code) : code_(code) {}
  // -1 past the end, so that no comparison with an opcode matches there.
  int At(std::size_t offset) const { return offset < code_.size() ? code_[offset] : -1; }
  bool Has(std::size_t offset, std::size_t size) const {
    return offset <= code_.size() && size <= code_.size() - offset;
  }
  std::int64_t Signed8(std::size_t offset) const { return static_cast<std::int8_t>(code_[offset]); }
  std::int64_t Signed32(std::size_t offset) const { return static_cast<std::int32_t>(LoadU32(&code_[offset])); }

 private:
  std::span<const std::uint8_t> code_;
};

// "add rsp, imm8/imm32" or "lea rsp, [frame register + disp8/disp32]", the
// only ways an epilogue may restore RSP; answers the bytes taken, 0 for none
// and nullopt for a "lea" into RSP from elsewhere.
std::optional<std::size_t> DecodeStackRestore(const CodeBytes& code, std::uint8_t frame_register, Epilogue& epilogue) {
  if (code.At(0) == 0x48 && code.At(1) == 0x83 && code.At(2) == 0xC4 && code.Has(3, 1)) {
    epilogue.restore = Epilogue::StackRestore::kAdd;
    epilogue.displacement = code.Signed8(3);
    return 4;
  }
  if (code.At(0) == 0x48 && code.At(1) == 0x81 && code.At(2) == 0xC4 && code.Has(3, 4)) {
    epilogue.restore = Epilogue::StackRestore::kAdd;
    epilogue.displacement = code.Signed32(3);
    return 7;
  }
  if ((code.At(0) & 0xFE) != 0x48 || code.At(1) != 0x8D || code.At(2) < 0) return 0;
  const int modrm = code.At(2);
  const int mode = modrm >> 6;
  const auto base = static_cast<std::uint8_t>(((code.At(0) & 1) << 3) | (modrm & 7));
  if (((modrm >> 3) & 7) != 4 || (mode != 1 && mode != 2) || frame_register == 0 || base != frame_register) {
    return std::nullopt;
  }
  std::size_t at = 3;
  if ((modrm & 7) == 4) {  // R12 as a base needs an index-free SIB byte
    if (code.At(3) != 0x24) return std::nullopt;
    at = 4;
  }
  const std::size_t size = mode == 1 ? 1 : 4;
  if (!code.Has(at, size)) return std::nullopt;
  epilogue.restore = Epilogue::StackRestore::kLoadFromFrame;
  epilogue.frame_register = base;
  epilogue.displacement = mode == 1 ? code.Signed8(at) : code.Signed32(at);
  return at + size;
}

// Whether the instruction at `at` ends an epilogue: a return, or a jump that
// leaves the function (a tail call), which includes a jump to its own start.
bool EndsEpilogue(const CodeBytes& code, std::size_t at, std::uint64_t address, const X64ModuleUnwindData& module,
                  const X64FunctionEntry& entry, const UnwindInfo& info) {
  const int opcode = code.At(at);
  if (opcode == 0xC3 || opcode == 0xC2 || (opcode == 0xF3 && code.At(at + 1) == 0xC3)) return true;
  if (opcode == 0xEB || opcode == 0xE9) {
    const std::size_t size = opcode == 0xEB ? 1 : 4;
    if (!code.Has(at + 1, size)) return false;
    const std::int64_t displacement = size == 1 ? code.Signed8(at + 1) : code.Signed32(at + 1);
    const std::uint64_t target = address + at + 1 + size + static_cast<std::uint64_t>(displacement);
    const std::uint64_t target_rva = target - module.image_base;
    if (target_rva < entry.begin || target_rva >= entry.end) return true;
    return target_rva == entry.begin && !(info.flags & kChainedInfoFlag);
  }
  // "jmp [rip+disp32]", an import's tail call; and "jmp r/m64" with a REX.W
  // prefix, which compilers add only to mark a jump out of the function.
  if (opcode == 0xFF && code.At(at + 1) == 0x25) return true;
  return (opcode & 0xF8) == 0x48 && code.At(at + 1) == 0xFF && code.At(at + 2) >= 0 && (code.At(at + 2) & 0x38) == 0x20;
}

std::optional<Epilogue> FindEpilogue(const MemoryReader& images, const X64ModuleUnwindData& module,
                                     const X64FunctionEntry& entry, const UnwindInfo& info, std::uint64_t pc) {
  std::array<std::uint8_t, kEpilogueWindow> buffer;
  const CodeBytes code(ReadCode(images, pc, module.image_base + entry.end, buffer));
  Epilogue epilogue;
  const auto restore_size = DecodeStackRestore(code, info.frame_register, epilogue);
  if (!restore_size) return std::nullopt;
  std::size_t at = *restore_size;
  for (;;) {
    if ((code.At(at) & 0xF8) == 0x58) {
      epilogue.pops[epilogue.pop_count++] = static_cast<std::uint8_t>(code.At(at) & 7);
      at += 1;
    } else if ((code.At(at) & 0xF0) == 0x40 && (code.At(at + 1) & 0xF8) == 0x58) {
      epilogue.pops[epilogue.pop_count++] = static_cast<std::uint8_t>(((code.At(at) & 1) << 3) | (code.At(at + 1) & 7));
      at += 2;
    } else {
      break;
    }
  }
  if (!EndsEpilogue(code, at, pc, module, entry, info)) return std::nullopt;
  return epilogue;
}

X64UnwindStep Failed(X64UnwindResult result) {
  return {result, X64FrameKind::kReturnAddress};
}

X64UnwindStep ReturnFrom(const MemoryReader& stack, X64Registers& working, X64Registers& registers) {
  const auto return_address = ReadStackWord(stack, working.Rsp());
  if (!return_address) return Failed(X64UnwindResult::kUnreadableStack);
  working.rip = *return_address;
  working.SetRsp(working.Rsp() + 8);
  registers = working;
  return {X64UnwindResult::kUnwound, X64FrameKind::kReturnAddress};
}

X64UnwindStep FinishEpilogue(const Epilogue& epilogue, const MemoryReader& stack, X64Registers& registers) {
  X64Registers working = registers;
  if (epilogue.restore == Epilogue::StackRestore::kAdd) {
    working.SetRsp(working.Rsp() + static_cast<std::uint64_t>(epilogue.displacement));
  } else if (epilogue.restore == Epilogue::StackRestore::kLoadFromFrame) {
    working.SetRsp(working.general[epilogue.frame_register] + static_cast<std::uint64_t>(epilogue.displacement));
  }
  for (std::size_t i = 0; i < epilogue.pop_count; ++i) {
    const auto value = ReadStackWord(stack, working.Rsp());
    if (!value) return Failed(X64UnwindResult::kUnreadableStack);
    working.SetRsp(working.Rsp() + 8);
    working.general[epilogue.pops[i]] = *value;
  }
  return ReturnFrom(stack, working, registers);
}

X64UnwindStep UnwindFunction(const X64UnwindMemory& memory, const X64ModuleUnwindData& module,
                             const X64FunctionEntry& entry, X64FrameKind kind, X64Registers& registers) {
  UnwindInfo info;
  if (!ReadUnwindInfo(memory.images, module, entry.unwind_info, info)) {
    return Failed(X64UnwindResult::kDamagedUnwindData);
  }
  const std::uint64_t rva = registers.rip - module.image_base;
  std::optional<std::uint32_t> prologue_offset;
  if (rva >= entry.begin && rva - entry.begin < info.prologue_size) {
    prologue_offset = static_cast<std::uint32_t>(rva - entry.begin);
  }
  if (!prologue_offset && kind == X64FrameKind::kStopped) {
    if (const auto epilogue = FindEpilogue(memory.images, module, entry, info, registers.rip)) {
      return FinishEpilogue(*epilogue, memory.stack, registers);
    }
  }

  UnwindState state{registers, FrameBase(info, prologue_offset, registers)};
  for (int link = 0;; ++link) {
    // A parent's prologue has run entirely by the time its chained part runs.
    const auto result = UndoCodes(info, link == 0 ? prologue_offset : std::nullopt, memory.stack, state);
    if (result != X64UnwindResult::kUnwound) return Failed(result);
    if (!info.chained) break;
    if (link + 1 == kMaxChainedUnwindInfos || !ReadUnwindInfo(memory.images, module, info.chained->unwind_info, info)) {
      return Failed(X64UnwindResult::kDamagedUnwindData);
    }
  }
  if (state.machine_frame) {
    registers = state.registers;
    return {X64UnwindResult::kUnwound, X64FrameKind::kStopped};
  }
  return ReturnFrom(memory.stack, state.registers, registers);
}

// Stack words outside the walked stack are not the stack's: a damaged frame
// pointer must not lead the walk into other memory.
class BoundedStack final : public MemoryReader {
 public:
  BoundedStack(const MemoryReader& stack, X64StackBounds bounds) : stack_(stack), bounds_(bounds) {}

  bool IsReadable(std::uint64_t address, std::uint32_t size) const override {
    return Inside(address, size) && stack_.IsReadable(address, size);
  }
  bool Read(std::uint64_t address, void* buffer, std::uint32_t size) const override {
    return Inside(address, size) && stack_.Read(address, buffer, size);
  }

 private:
  bool Inside(std::uint64_t address, std::uint32_t size) const {
    return address >= bounds_.low && address <= bounds_.high && size <= bounds_.high - address;
  }

  const MemoryReader& stack_;
  X64StackBounds bounds_;
};

bool InsideStack(X64StackBounds bounds, std::uint64_t rsp) {
  return rsp >= bounds.low && rsp < bounds.high;
}

X64WalkEnd WalkEndOf(X64UnwindResult result) {
  switch (result) {
    case X64UnwindResult::kNoUnwindData: return X64WalkEnd::kNoUnwindData;
    case X64UnwindResult::kDamagedUnwindData: return X64WalkEnd::kDamagedUnwindData;
    default: return X64WalkEnd::kUnreadableStack;
  }
}

}  // namespace

X64EntryLookup FindX64FunctionEntry(const MemoryReader& images, const X64ModuleUnwindData& module, std::uint64_t pc) {
  if (module.image_base > UINT64_MAX - module.image_size) return Damaged();
  if (pc < module.image_base || pc - module.image_base >= module.image_size) return {};
  if (!InsideImage(module, module.exception_directory_rva, module.exception_directory_size)) return Damaged();
  const auto rva = static_cast<std::uint32_t>(pc - module.image_base);

  // Entries in [low, high) must lie between the ends of those already read
  // beside them; one that does not shows the table unsorted.
  std::uint32_t low = 0;
  std::uint32_t high = module.exception_directory_size / kEntrySize;
  std::uint32_t lowest_begin = 0;
  std::uint32_t highest_end = module.image_size;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const auto entry = ReadEntry(images, module, std::uint64_t{module.exception_directory_rva} + middle * kEntrySize);
    if (!entry || entry->begin < lowest_begin || entry->end > highest_end) return Damaged();
    if (rva < entry->begin) {
      high = middle;
      highest_end = entry->begin;
    } else if (rva >= entry->end) {
      low = middle + 1;
      lowest_begin = entry->end;
    } else {
      return FollowSharedEntries(images, module, *entry);
    }
  }
  return {};
}

X64UnwindStep UnwindX64Frame(const X64UnwindMemory& memory, const X64ModuleLookup& modules, X64FrameKind kind,
                             X64Registers& registers) {
  const std::optional<X64ModuleUnwindData> module = modules ? modules(registers.rip) : std::nullopt;
  const X64EntryLookup lookup = module ? FindX64FunctionEntry(memory.images, *module, registers.rip) : X64EntryLookup{};
  switch (lookup.result) {
    case X64EntrySearch::kFound: return UnwindFunction(memory, *module, lookup.entry, kind, registers);
    case X64EntrySearch::kDamaged: return Failed(X64UnwindResult::kDamagedUnwindData);
    case X64EntrySearch::kNone: break;
  }
  // A function without unwind data touches neither RSP nor the nonvolatile
  // registers, so its return address is at [RSP]; but a return address
  // always lies in a function that called, and so has unwind data.
  if (kind != X64FrameKind::kStopped) return Failed(X64UnwindResult::kNoUnwindData);
  X64Registers working = registers;
  return ReturnFrom(memory.stack, working, registers);
}

X64StackWalk WalkX64Stack(const X64UnwindMemory& memory, const X64ModuleLookup& modules, const X64Registers& start,
                          X64StackBounds bounds, std::size_t max_frames) {
  const BoundedStack stack(memory.stack, bounds);
  const X64UnwindMemory bounded{memory.images, stack};
  X64StackWalk walk;
  X64Registers registers = start;
  const auto finish = [&](X64WalkEnd end) {
    walk.end = end;
    walk.end_pc = registers.rip;
    walk.end_rsp = registers.Rsp();
    return std::move(walk);
  };
  if (!InsideStack(bounds, registers.Rsp())) return finish(X64WalkEnd::kLeftStack);

  X64FrameKind kind = X64FrameKind::kStopped;
  for (;;) {
    if (walk.frames.size() >= max_frames) return finish(X64WalkEnd::kFrameLimit);
    walk.frames.push_back({registers.rip, registers.Rsp()});
    X64Registers caller = registers;
    const X64UnwindStep step = UnwindX64Frame(bounded, modules, kind, caller);
    if (step.result != X64UnwindResult::kUnwound) return finish(WalkEndOf(step.result));
    if (caller.rip == 0) return finish(X64WalkEnd::kZeroReturnAddress);
    if (caller.Rsp() <= registers.Rsp()) return finish(X64WalkEnd::kStackPointerNotIncreasing);
    if (!InsideStack(bounds, caller.Rsp())) return finish(X64WalkEnd::kLeftStack);
    registers = caller;
    kind = step.caller_kind;
  }
}

}  // namespace vellum::exceptlog

// Walking a 64-bit thread's stack exactly, with the unwind data every
// non-leaf function of a 64-bit module has (the image's exception directory:
// function entries sorted by address, each with its unwind codes).
//
// The system's own unwinder is no help here: a report walks the stacks of
// threads that run again already, from a copy of their stack taken while
// they were stopped, and the system's lookup takes the loader's lock, which a
// stopped thread may hold. So everything, the unwind data and code bytes as
// well as the stack words, is read through MemoryReaders, and a damaged
// table or stack ends the walk with a reason instead of a fault.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

// The integer registers in the numbering of the unwind codes (and of a
// CONTEXT's Rax..R15).
enum class X64Register : std::uint8_t {
  kRax,
  kRcx,
  kRdx,
  kRbx,
  kRsp,
  kRbp,
  kRsi,
  kRdi,
  kR8,
  kR9,
  kR10,
  kR11,
  kR12,
  kR13,
  kR14,
  kR15,
};

struct X64Registers {
  std::uint64_t rip = 0;
  std::array<std::uint64_t, 16> general{};  // RSP is general[4]

  std::uint64_t& operator[](X64Register reg) { return general[static_cast<std::size_t>(reg)]; }
  std::uint64_t operator[](X64Register reg) const { return general[static_cast<std::size_t>(reg)]; }
  std::uint64_t Rsp() const { return (*this)[X64Register::kRsp]; }
  void SetRsp(std::uint64_t value) { (*this)[X64Register::kRsp] = value; }
};

// Where a loaded module's unwind data lies, from its headers: the image's
// extent bounds every table and every address the data gives.
struct X64ModuleUnwindData {
  std::uint64_t image_base = 0;
  std::uint32_t image_size = 0;
  std::uint32_t exception_directory_rva = 0;
  std::uint32_t exception_directory_size = 0;
};

// The module holding a code address, or nullopt when none holds it (or it
// has no unwind data).
using X64ModuleLookup = std::function<std::optional<X64ModuleUnwindData>(std::uint64_t pc)>;

// A function entry, addresses relative to the image base.
struct X64FunctionEntry {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;  // first byte after the function
  std::uint32_t unwind_info = 0;
};

enum class X64EntrySearch : std::uint8_t {
  kFound,
  kNone,     // no function covers the address: a leaf, or no code at all
  kDamaged,  // the table is unreadable, unsorted or points outside the image
};

struct X64EntryLookup {
  X64EntrySearch result = X64EntrySearch::kNone;
  X64FunctionEntry entry;
};

// The entry covering `pc`, by binary search of the module's exception
// directory. Each entry the search reads is checked (begin < end, inside the
// image, in order with the entries read before it), so an unsorted or
// out-of-image table is reported damaged rather than searched wrongly. An
// entry that only refers to another (unwind address with its low bit set) is
// followed to that one.
X64EntryLookup FindX64FunctionEntry(const MemoryReader& images, const X64ModuleUnwindData& module, std::uint64_t pc);

// The two kinds of memory an unwind reads; they may be one reader, or the
// stack may be a copy taken earlier while the images are the live ones.
struct X64UnwindMemory {
  const MemoryReader& images;  // unwind data and code bytes
  const MemoryReader& stack;   // stack words
};

enum class X64FrameKind : std::uint8_t {
  // The PC is the instruction the thread was stopped at: the innermost frame,
  // or one restored from a machine frame. It may lie in an epilogue, or in a
  // function without unwind data.
  kStopped,
  // The PC is a return address: its function is past its prologue's calls
  // and has unwind data.
  kReturnAddress,
};

enum class X64UnwindResult : std::uint8_t {
  kUnwound,
  kNoUnwindData,       // a return address no unwind data covers
  kDamagedUnwindData,  // truncated, unknown or looping unwind data
  kUnreadableStack,    // a stack word the unwind needs cannot be read
};

struct X64UnwindStep {
  X64UnwindResult result = X64UnwindResult::kUnwound;
  X64FrameKind caller_kind = X64FrameKind::kReturnAddress;
};

// Chained unwind data is followed this many links deep at most.
inline constexpr int kMaxChainedUnwindInfos = 32;

// One virtual unwind: turns the registers of the frame at registers.rip into
// its caller's. Only the prologue codes already executed count when the PC
// lies in the prologue; a stopped frame in an epilogue has the rest of the
// epilogue emulated; a stopped frame without unwind data is a leaf. The
// registers change only when the step succeeds.
X64UnwindStep UnwindX64Frame(const X64UnwindMemory& memory, const X64ModuleLookup& modules, X64FrameKind kind,
                             X64Registers& registers);

// The stack [low, high): every frame's stack pointer lies inside it.
struct X64StackBounds {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
};

struct X64Frame {
  std::uint64_t pc = 0;   // the stopped PC, then return addresses
  std::uint64_t rsp = 0;  // the stack pointer while at that PC
};

enum class X64WalkEnd : std::uint8_t {
  kZeroReturnAddress,  // the thread's first function: the normal end
  kUnreadableStack,
  kLeftStack,  // a stack pointer outside the bounds
  kStackPointerNotIncreasing,
  kNoUnwindData,  // a return address without unwind data: scan on from `end_rsp`
  kDamagedUnwindData,
  kFrameLimit,
};

struct X64StackWalk {
  std::vector<X64Frame> frames;
  X64WalkEnd end = X64WalkEnd::kZeroReturnAddress;
  // The last listed frame's PC and stack pointer: where a scan of the
  // remaining stack words can take over.
  std::uint64_t end_pc = 0;
  std::uint64_t end_rsp = 0;
};

inline constexpr std::size_t kMaxX64Frames = 512;

// The frames of the stack whose innermost registers are `start`. Stack words
// are read only inside `bounds`.
X64StackWalk WalkX64Stack(const X64UnwindMemory& memory, const X64ModuleLookup& modules, const X64Registers& start,
                          X64StackBounds bounds, std::size_t max_frames = kMaxX64Frames);

}  // namespace vellum::exceptlog

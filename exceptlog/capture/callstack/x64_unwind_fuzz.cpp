// A 64-bit image and a stack from the fuzzer's bytes: whatever the unwind
// data and stack words say, the walk ends, lists frames whose stack pointers
// rise inside the stack, and reads nothing outside what is mapped.
//
// Input: a 20-byte header (exception directory RVA and size, image size as
// the lookup declares it, the PC's RVA, all 32-bit; the stack pointer's
// offset in the stack and the image's length in the input, 16-bit), the
// image's bytes, then the stack's. The stack's first 128 bytes are also the
// 16 integer registers, so that frame registers point wherever the fuzzer
// likes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "exceptlog/capture/callstack/x64_unwind.h"
#include "exceptlog/common/binary/little_endian.h"
#include "exceptlog/common/binary/testing/fake_memory_test_support.h"

namespace {

using namespace vellum::exceptlog;
constexpr std::uint64_t kImageBase = 0x7FF600000000;
constexpr std::uint64_t kStackBase = 0x50000000;
constexpr std::size_t kHeaderSize = 20;

void CheckWalk(const X64StackWalk& walk, X64StackBounds bounds, std::size_t max_frames) {
  if (walk.frames.size() > max_frames) __builtin_trap();
  for (std::size_t i = 0; i < walk.frames.size(); ++i) {
    const X64Frame& frame = walk.frames[i];
    if (frame.rsp < bounds.low || frame.rsp >= bounds.high) __builtin_trap();
    if (i > 0 && (frame.rsp <= walk.frames[i - 1].rsp || frame.pc == 0)) __builtin_trap();
  }
  if (!walk.frames.empty() && walk.end_rsp != walk.frames.back().rsp) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize || size > (1u << 20)) return 0;
  const X64ModuleUnwindData module{kImageBase, LoadU32(data + 8), LoadU32(data), LoadU32(data + 4)};
  const std::uint64_t pc = kImageBase + LoadU32(data + 12);
  const std::uint16_t rsp_offset = LoadU16(data + 16);
  const std::size_t image_length = std::min<std::size_t>(LoadU16(data + 18), size - kHeaderSize);
  const std::uint8_t* image = data + kHeaderSize;
  const std::uint8_t* stack = image + image_length;
  const std::size_t stack_length = size - kHeaderSize - image_length;

  testing::FakeMemory memory;
  if (image_length > 0) memory.Map(kImageBase, static_cast<std::uint32_t>(image_length)).assign(image, stack);
  if (stack_length > 0) memory.Map(kStackBase, static_cast<std::uint32_t>(stack_length)).assign(stack, data + size);

  X64Registers registers;
  for (std::size_t i = 0; i < 16 && 8 * (i + 1) <= stack_length; ++i) registers.general[i] = LoadU64(stack + 8 * i);
  registers.rip = pc;
  registers.SetRsp(kStackBase + rsp_offset);
  const X64StackBounds bounds{kStackBase, kStackBase + stack_length};
  const X64ModuleLookup modules = [&](std::uint64_t address) -> std::optional<X64ModuleUnwindData> {
    if (address >= kImageBase && address - kImageBase < module.image_size) return module;
    return std::nullopt;
  };

  const X64EntryLookup lookup = FindX64FunctionEntry(memory, module, pc);
  if (lookup.result == X64EntrySearch::kFound &&
      (lookup.entry.begin >= lookup.entry.end || lookup.entry.end > module.image_size)) {
    __builtin_trap();
  }
  constexpr std::size_t kMaxFrames = 64;
  CheckWalk(WalkX64Stack({memory, memory}, modules, registers, bounds, kMaxFrames), bounds, kMaxFrames);
  return 0;
}

// The exact call stack of a 64-bit thread: its frames from the modules'
// unwind data, and a scan of stack words only where that data runs out.
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "exceptlog/capture/callstack/address_resolution.h"
#include "exceptlog/capture/callstack/call_encodings.h"
#include "exceptlog/capture/callstack/call_stack.h"
#include "exceptlog/capture/callstack/loaded_image.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/callstack/win/x64_registers_win.h"
#include "exceptlog/capture/callstack/x64_unwind.h"

namespace vellum::exceptlog {

namespace {

// The stack as it was: the copy where it covers, the live memory elsewhere.
class StackCopyReader final : public MemoryReader {
 public:
  StackCopyReader(const MemoryReader& live, const StackCopy& copy) : live_(live), copy_(copy) {}

  bool IsReadable(std::uint64_t address, std::uint32_t size) const override {
    if (Inside(address, size)) return true;
    return !Overlaps(address, size) && live_.IsReadable(address, size);
  }
  bool Read(std::uint64_t address, void* buffer, std::uint32_t size) const override {
    if (Inside(address, size)) {
      std::memcpy(buffer, copy_.bytes.data() + (address - copy_.address), size);
      return true;
    }
    return !Overlaps(address, size) && live_.Read(address, buffer, size);
  }

 private:
  bool Inside(std::uint64_t address, std::uint32_t size) const {
    return address >= copy_.address && address - copy_.address <= copy_.bytes.size() &&
           size <= copy_.bytes.size() - (address - copy_.address);
  }
  // A read that straddles the copy's edge: half old, half new would be
  // neither; it is refused.
  bool Overlaps(std::uint64_t address, std::uint32_t size) const {
    const std::uint64_t end = copy_.address + copy_.bytes.size();
    return address < end && address + size > copy_.address;
  }

  const MemoryReader& live_;
  const StackCopy& copy_;
};

// Each module's unwind data is looked up once per walk.
class UnwindDataCache {
 public:
  UnwindDataCache(const MemoryReader& memory, const TRuzadaModulesList& modules) : memory_(memory), modules_(modules) {}

  std::optional<X64ModuleUnwindData> Find(std::uint64_t pc) {
    for (const X64ModuleUnwindData& known : known_) {
      if (pc >= known.image_base && pc - known.image_base < known.image_size) return known;
    }
    const auto listed = modules_.FindInImages(pc);
    HMODULE module =
        listed != nullptr ? ToPointer<std::remove_pointer_t<HMODULE>>(listed->Handle) : ModuleOfAddress(pc);
    if (module == nullptr) return std::nullopt;
    const std::optional<PeLayout> layout = ReadPeLayout(memory_, ToAddress(module), ProcessBits::k64);
    if (!layout || layout->exception_size == 0) return std::nullopt;
    const X64ModuleUnwindData data{ToAddress(module), layout->size_of_image, layout->exception_rva,
                                   layout->exception_size};
    if (known_.size() < 64) known_.push_back(data);
    return data;
  }

 private:
  const MemoryReader& memory_;
  const TRuzadaModulesList& modules_;
  std::vector<X64ModuleUnwindData> known_;
};

// The call instruction that a return address returns from; one byte back
// when the code before it is no call the matcher knows (the line is the
// same).
std::uint64_t CallSiteOf(std::uint64_t return_address, const MemoryReader& memory) {
  CodeTail tail;
  if (return_address >= tail.size() && memory.Read(return_address - tail.size(), tail.data(), tail.size())) {
    const CallMatch match = MatchCall(tail, return_address, memory, ProcessBits::k64);
    if (match.encoding != CallEncoding::kNone) return match.call_site;
  }
  return return_address - 1;
}

}  // namespace

void AddUnwoundStack(TRuzadaStackList& list, TRuzadaModulesList& modules, const UnwindStart& start,
                     const StackCopy& copy, std::uint64_t stack_top, std::uint32_t thread_id) {
  const ProcessMemoryReader live;
  const StackCopyReader stack(live, copy);
  UnwindDataCache unwind_data(live, modules);
  const ModuleLookup lookup = ModuleLookupIn(modules, live);
  const X64Registers registers = X64RegistersOf(start.context);
  const X64StackWalk walk = WalkX64Stack({live, stack}, [&](std::uint64_t pc) { return unwind_data.Find(pc); },
                                         registers, {registers.Rsp(), stack_top});

  const auto add = [&](std::uint64_t address) {
    TRuzadaDebugInfo entry;
    entry.ThreadId = thread_id;
    entry.FromLiveStack = 1;
    entry.Address = address;
    ResolveInModule(entry, lookup(address), live);
    list.Add(std::move(entry));
  };
  if (start.exception_address != 0) add(start.exception_address);
  std::size_t first = start.exception_address != 0 ? 1 : 0;
  if (start.throw_return_address != 0) {
    // The raise hook's frames, up to and with the thrower's own, which the
    // exception address stands for.
    first = walk.frames.size();
    for (std::size_t i = 0; i < walk.frames.size(); ++i) {
      if (walk.frames[i].pc == start.throw_return_address) {
        first = i + 1;
        break;
      }
    }
  }
  for (std::size_t i = first; i < walk.frames.size(); ++i) {
    // The first frame stopped at its instruction; the others are return
    // addresses, named by their call.
    add(i == 0 ? walk.frames[i].pc : CallSiteOf(walk.frames[i].pc, live));
  }
  const bool scan_on = walk.end != X64WalkEnd::kZeroReturnAddress && walk.end != X64WalkEnd::kFrameLimit &&
                       walk.end_rsp != 0 && walk.end_rsp < stack_top;
  if (scan_on) {
    // Past the last frame the unwind data knew, word by word as in a 32-bit
    // process, from that frame's stack pointer (the word below it was its
    // own return address): its caller's return address may be the very
    // first word when the code keeps nothing on the stack.
    AddStack(list, stack, lookup, StackSource{{0, walk.end_rsp, stack_top, ProcessBits::k64}, true, thread_id});
  }
}

}  // namespace vellum::exceptlog

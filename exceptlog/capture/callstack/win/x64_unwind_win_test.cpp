// The portable unwinder against the system's (RtlLookupFunctionEntry and
// RtlVirtualUnwind) on real stacks of this process, frame for frame: a chain
// of functions of different frame shapes probed at each depth and from an
// exception handler below the dispatcher's frames; functions single-stepped
// through their prologues and epilogues; and another thread stopped in a
// wait, walked live and from a copy of its stack after it has gone.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/callstack/win/x64_registers_win.h"
#include "exceptlog/capture/callstack/x64_unwind.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

bool operator==(const X64Frame& left, const X64Frame& right) {
  return left.pc == right.pc && left.rsp == right.rsp;
}
std::ostream& operator<<(std::ostream& out, const X64Frame& frame) {
  return out << std::hex << "{pc " << frame.pc << ", rsp " << frame.rsp << "}" << std::dec;
}

namespace {

// This process's memory, readable where the memory manager says so.
class ThisProcessMemory final : public MemoryReader {
 public:
  bool IsReadable(std::uint64_t address, std::uint32_t size) const override {
    if (size == 0) return true;
    if (!RangeFits(address, size)) return false;
    const std::uint64_t last = address + (size - 1);
    for (std::uint64_t at = address;;) {
      MEMORY_BASIC_INFORMATION region{};
      if (VirtualQuery(ToPointer<const void>(at), &region, sizeof region) == 0) return false;
      const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                             PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
      if (region.State != MEM_COMMIT || (region.Protect & PAGE_GUARD) || !(region.Protect & readable)) return false;
      const std::uint64_t region_last = ToAddress(region.BaseAddress) + (region.RegionSize - 1);
      if (region_last >= last) return true;
      at = region_last + 1;
    }
  }
  bool Read(std::uint64_t address, void* buffer, std::uint32_t size) const override {
    if (!IsReadable(address, size)) return false;
    std::memcpy(buffer, ToPointer<const void>(address), size);
    return true;
  }
};

// A stack copied at `base`; nothing else is readable through it.
class StackCopy final : public MemoryReader {
 public:
  StackCopy(std::uint64_t base, std::vector<std::uint8_t> bytes) : base_(base), bytes_(std::move(bytes)) {}
  bool IsReadable(std::uint64_t address, std::uint32_t size) const override {
    return address >= base_ && address - base_ <= bytes_.size() && size <= bytes_.size() - (address - base_);
  }
  bool Read(std::uint64_t address, void* buffer, std::uint32_t size) const override {
    if (!IsReadable(address, size)) return false;
    std::memcpy(buffer, bytes_.data() + (address - base_), size);
    return true;
  }

 private:
  std::uint64_t base_;
  std::vector<std::uint8_t> bytes_;
};

std::optional<X64ModuleUnwindData> UnwindDataOf(std::uint64_t pc) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          ToPointer<const wchar_t>(pc), &module)) {
    return std::nullopt;
  }
  const std::uint64_t base = ToAddress(module);
  const auto* nt = ToPointer<const IMAGE_NT_HEADERS64>(base + ToPointer<const IMAGE_DOS_HEADER>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& exceptions = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
  return X64ModuleUnwindData{base, nt->OptionalHeader.SizeOfImage, exceptions.VirtualAddress, exceptions.Size};
}

// The system's walk under the same rules as the portable one: a leaf only
// for the first frame, and the same reasons to stop.
std::vector<X64Frame> SystemWalk(CONTEXT context, X64StackBounds bounds) {
  std::vector<X64Frame> frames;
  while (frames.size() < kMaxX64Frames && context.Rsp >= bounds.low && context.Rsp < bounds.high) {
    frames.push_back({context.Rip, context.Rsp});
    const DWORD64 rsp = context.Rsp;
    DWORD64 image_base = 0;
    if (PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr)) {
      void* handler_data = nullptr;
      DWORD64 establisher = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data, &establisher,
                       nullptr);
    } else if (frames.size() == 1) {
      context.Rip = *ToPointer<const DWORD64>(context.Rsp);
      context.Rsp += 8;
    } else {
      break;
    }
    if (context.Rip == 0 || context.Rsp <= rsp) break;
  }
  return frames;
}

// The start of the function holding each frame's PC, as the system finds it.
std::vector<std::uint64_t> FunctionsOf(const std::vector<X64Frame>& frames) {
  std::vector<std::uint64_t> functions;
  for (const X64Frame& frame : frames) {
    DWORD64 image_base = 0;
    const PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(frame.pc, &image_base, nullptr);
    functions.push_back(function ? image_base + function->BeginAddress : 0);
  }
  return functions;
}

struct WalkPair {
  std::string where;
  std::vector<X64Frame> system;
  X64StackWalk own;
};

// What a chain run does: probe at every depth and in an exception handler,
// or (another thread's run) wait at the bottom to be stopped.
struct ChainRun {
  std::vector<WalkPair> pairs;
  HANDLE ready = nullptr;
  HANDLE go = nullptr;
  std::uint64_t stack_base = 0;
};

// Registered for one test's duration.
class ScopedVectoredHandler {
 public:
  explicit ScopedVectoredHandler(PVECTORED_EXCEPTION_HANDLER handler)
      : handle_(AddVectoredExceptionHandler(1, handler)) {}
  ~ScopedVectoredHandler() {
    if (handle_ != nullptr) RemoveVectoredExceptionHandler(handle_);
  }
  ScopedVectoredHandler(const ScopedVectoredHandler&) = delete;
  ScopedVectoredHandler& operator=(const ScopedVectoredHandler&) = delete;
  bool Installed() const { return handle_ != nullptr; }

 private:
  PVOID handle_ = nullptr;
};

// Handlers get no argument of their own: the run they probe for.
thread_local ChainRun* handler_run = nullptr;

__attribute__((noinline, noclone)) void ProbeHere(ChainRun& run, const char* where) {
  if (run.go != nullptr) return;
  CONTEXT context{};
  RtlCaptureContext(&context);
  const ThisProcessMemory memory;
  const X64StackBounds bounds{context.Rsp, CurrentStackBase()};
  run.pairs.push_back({where, SystemWalk(context, bounds),
                       WalkX64Stack({memory, memory}, UnwindDataOf, X64RegistersOf(context), bounds)});
  asm volatile("" ::: "memory");
}

LONG CALLBACK ProbeInHandler(EXCEPTION_POINTERS* exception) {
  if (handler_run == nullptr || exception->ExceptionRecord->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ProbeHere(*handler_run, "exception handler");
  exception->ContextRecord->Rip += 2;  // past the UD2
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Each level probes, then calls the next and uses what it returns, so that
// no call becomes a jump and every level keeps its frame.
__attribute__((noinline, noclone)) int Bottom(ChainRun& run, int seed) {
  if (run.go != nullptr) {
    run.stack_base = CurrentStackBase();
    return SignalObjectAndWait(run.ready, run.go, 30000, FALSE) == WAIT_OBJECT_0 ? seed : -1;
  }
  ProbeHere(run, "bottom");
  handler_run = &run;
  asm volatile("ud2");
  handler_run = nullptr;
  return seed + 1;
}

__attribute__((noinline, noclone)) int XmmRegistersSaved(ChainRun& run, int seed) {
  volatile double source = seed;
  const double a = source * 1.5, b = source + 2.25, c = a * b, d = c - source, e = d * 0.5, f = e + a, g = f * f;
  ProbeHere(run, "xmm registers saved");
  const int below = Bottom(run, seed);
  return below + static_cast<int>(a + b + c + d + e + f + g);
}

__attribute__((noinline, noclone)) int HugeLocals(ChainRun& run, int seed) {
  volatile char buffer[600 * 1024];  // past 512 KB: the allocation's 32-bit form
  buffer[0] = static_cast<char>(seed);
  buffer[sizeof buffer - 1] = 1;
  ProbeHere(run, "huge locals");
  return XmmRegistersSaved(run, seed) + buffer[0] + buffer[sizeof buffer - 1];
}

__attribute__((noinline, noclone)) int LargeLocals(ChainRun& run, int seed) {
  volatile char buffer[70000];
  buffer[0] = static_cast<char>(seed);
  ProbeHere(run, "large locals");
  return HugeLocals(run, seed) + buffer[0];
}

__attribute__((noinline, noclone)) int ManySavedRegisters(ChainRun& run, int seed) {
  volatile int source = seed;
  const int a = source * 3, b = source + 7, c = a ^ b, d = source * 11, e = c + d, f = a * e, g = f ^ b, h = g + c;
  ProbeHere(run, "many saved registers");
  const int below = LargeLocals(run, seed);
  return below + a + b + c + d + e + f + g + h + source;
}

__attribute__((noinline, noclone)) int WithAlloca(ChainRun& run, int size) {
  auto* buffer = static_cast<volatile char*>(__builtin_alloca(size));
  for (int i = 0; i < size; i += 64) buffer[i] = static_cast<char>(i);
  ProbeHere(run, "alloca");
  return ManySavedRegisters(run, size) + buffer[size / 2];
}

DWORD WINAPI RunChain(void* parameter) {
  auto& run = *static_cast<ChainRun*>(parameter);
  return static_cast<DWORD>(WithAlloca(run, 3000));
}

// RunChain is left out: its call may become a jump.
const void* const kChain[] = {
    reinterpret_cast<const void*>(&WithAlloca),        reinterpret_cast<const void*>(&ManySavedRegisters),
    reinterpret_cast<const void*>(&LargeLocals),       reinterpret_cast<const void*>(&HugeLocals),
    reinterpret_cast<const void*>(&XmmRegistersSaved), reinterpret_cast<const void*>(&Bottom)};

// How many levels of the chain, outermost first, the frames pass through
// in order.
std::size_t ChainLevelsIn(const std::vector<X64Frame>& frames) {
  std::vector<std::uint64_t> functions = FunctionsOf(frames);
  std::reverse(functions.begin(), functions.end());
  std::size_t level = 0;
  for (std::uint64_t function : functions) {
    if (level < std::size(kChain) && function == ToAddress(kChain[level])) ++level;
  }
  return level;
}

win::UniqueKernelHandle StartChain(ChainRun& run) {
  // The huge frame needs more than the default stack.
  return win::UniqueKernelHandle(
      CreateThread(nullptr, 16 << 20, &RunChain, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
}

TEST(X64UnwindOracle, EveryDepthOfAChainWalksAsTheSystemWalksIt) {
  ChainRun run;
  const ScopedVectoredHandler handler(&ProbeInHandler);
  ASSERT_TRUE(handler.Installed());
  win::UniqueKernelHandle thread = StartChain(run);
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.get(), 60000), WAIT_OBJECT_0);

  ASSERT_EQ(run.pairs.size(), 7u);
  std::size_t depth = 1;
  for (const WalkPair& pair : run.pairs) {
    SCOPED_TRACE(pair.where);
    EXPECT_EQ(pair.own.frames, pair.system);
    EXPECT_EQ(pair.own.end, X64WalkEnd::kZeroReturnAddress);
    EXPECT_EQ(ChainLevelsIn(pair.own.frames), std::min(depth++, std::size(kChain)))
        << "the chain's functions down to this depth";
  }
}

// Single steps through prologues, bodies and epilogues: every instruction of
// these functions is a place a thread can be stopped at.
struct Stepping {
  bool active = false;
  int steps = 0;
  int leaf_steps = 0;
  std::vector<WalkPair> mismatches;
};
Stepping* stepping = nullptr;

LONG CALLBACK CompareAtEachStep(EXCEPTION_POINTERS* exception) {
  if (stepping == nullptr || exception->ExceptionRecord->ExceptionCode != EXCEPTION_SINGLE_STEP) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const CONTEXT& context = *exception->ContextRecord;
  const ThisProcessMemory memory;
  const X64StackBounds bounds{context.Rsp, CurrentStackBase()};
  WalkPair pair{"step", SystemWalk(context, bounds),
                WalkX64Stack({memory, memory}, UnwindDataOf, X64RegistersOf(context), bounds)};
  ++stepping->steps;
  if (pair.own.frames != pair.system && stepping->mismatches.size() < 3) stepping->mismatches.push_back(pair);
  if (stepping->active && stepping->steps < 5000) exception->ContextRecord->EFlags |= 0x100;  // trap flag
  return EXCEPTION_CONTINUE_EXECUTION;
}

__attribute__((noinline, noclone)) int SteppedLeaf(int value) {
  volatile int copy = value;
  return copy + 1;
}

__attribute__((noinline, noclone)) int SteppedFramePointer(int size) {
  auto* buffer = static_cast<volatile char*>(__builtin_alloca(size));
  buffer[0] = static_cast<char>(size);
  buffer[size - 1] = 2;
  return SteppedLeaf(buffer[0]) + buffer[size - 1];
}

__attribute__((noinline, noclone)) int SteppedSavedRegisters(int seed) {
  volatile int source = seed;
  volatile double real_source = seed;
  const int a = source * 3, b = source + 7, c = a ^ b, d = source * 11, e = c + d, f = a * e, g = f ^ b;
  const double x = real_source * 1.5, y = real_source + 0.25, z = x * y;
  const int below = SteppedLeaf(a);
  return below + a + b + c + d + e + f + g + static_cast<int>(x + y + z);
}

__attribute__((noinline, noclone)) int StepThrough(Stepping& state, int seed) {
  state.active = true;
  asm volatile("pushfq; orq $0x100, (%%rsp); popfq" ::: "memory", "cc");
  const int result = SteppedFramePointer(seed) + SteppedSavedRegisters(seed);
  state.active = false;
  asm volatile("pushfq; andq $-0x101, (%%rsp); popfq" ::: "memory", "cc");
  return result;
}

TEST(X64UnwindOracle, StoppedAtEveryInstructionOfProloguesAndEpilogues) {
  Stepping state;
  stepping = &state;
  {
    const ScopedVectoredHandler handler(&CompareAtEachStep);
    ASSERT_TRUE(handler.Installed());
    StepThrough(state, 100);
  }
  stepping = nullptr;

  EXPECT_GT(state.steps, 60) << "the trap flag stepped through the functions";
  for (const WalkPair& pair : state.mismatches) {
    ADD_FAILURE() << "stopped at " << pair.system.front() << ": " << ::testing::PrintToString(pair.own.frames)
                  << " against " << ::testing::PrintToString(pair.system);
  }
}

TEST(X64UnwindOracle, AnotherThreadStoppedInAWaitWalksLiveAndFromACopy) {
  win::UniqueKernelHandle ready(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  win::UniqueKernelHandle go(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ChainRun run;
  run.ready = ready.get();
  run.go = go.get();
  win::UniqueKernelHandle thread = StartChain(run);
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);

  ASSERT_NE(SuspendThread(thread.get()), static_cast<DWORD>(-1));
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  const bool got_context = GetThreadContext(thread.get(), &context);
  const X64StackBounds stack{context.Rsp, run.stack_base};
  const ThisProcessMemory memory;
  std::vector<std::uint8_t> bytes(stack.high - stack.low);
  const bool copied = memory.Read(stack.low, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  const std::vector<X64Frame> system = SystemWalk(context, stack);
  const X64StackWalk live = WalkX64Stack({memory, memory}, UnwindDataOf, X64RegistersOf(context), stack);
  ResumeThread(thread.get());
  SetEvent(go.get());
  ASSERT_EQ(WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0);
  ASSERT_TRUE(got_context);
  ASSERT_TRUE(copied);

  EXPECT_EQ(live.frames, system);
  EXPECT_EQ(live.end, X64WalkEnd::kZeroReturnAddress);
  EXPECT_EQ(ChainLevelsIn(system), std::size(kChain));
  // The thread has run on and ended; its stack lives on only in the copy.
  const StackCopy copy(stack.low, std::move(bytes));
  const X64StackWalk from_copy = WalkX64Stack({memory, copy}, UnwindDataOf, X64RegistersOf(context), stack);
  EXPECT_EQ(from_copy.frames, system);
  EXPECT_EQ(from_copy.end, X64WalkEnd::kZeroReturnAddress);
}

}  // namespace
}  // namespace vellum::exceptlog

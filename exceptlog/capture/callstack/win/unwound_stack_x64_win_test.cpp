// The exact walk of 64-bit stacks through real frames: the probe's chain
// with its unwind data, walked from registers taken inside it, from a copy
// of the stack after its thread has gone, in another thread stopped in a
// wait, and through code without unwind data, where the word scan takes over.
// Where the test's own and the system's frames are concerned, the system's
// unwinder from the same registers says which frames there are.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "exceptlog/capture/callstack/testing/win/module_test_support_win.h"
#include "exceptlog/capture/callstack/testing/win/probe_code_win.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/hooking/instruction_decoder.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {
namespace {

using testing::AddressOf;
using testing::ExportAddress;
using testing::kProbeCode;

using Chain = void(__cdecl*)(void (*callback)());

// The return addresses of the frames the system's unwinder finds from
// `context` (the first: the context's own instruction, where a leaf without
// unwind data may stand), up to the next frame without unwind data.
std::vector<std::uint64_t> SystemFrames(CONTEXT context, std::uint64_t stack_top) {
  std::vector<std::uint64_t> frames;
  while (frames.size() < 256 && context.Rsp < stack_top) {
    frames.push_back(context.Rip);
    const DWORD64 rsp = context.Rsp;
    DWORD64 image_base = 0;
    if (const PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr)) {
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

// Whether a call instruction starts at `site` and ends at `return_address`,
// by the instruction decoder's reading of the bytes.
bool IsCallReturningTo(std::uint64_t site, std::uint64_t return_address) {
  const auto* code = ToPointer<const std::uint8_t>(site);
  const DecodedInstruction call = DecodeInstruction({code, kMaxInstructionLength}, CodeMode::k64);
  const std::uint8_t opcode = code[call.prefix_count];
  const bool is_call = opcode == 0xE8 || (opcode == 0xFF && (code[call.prefix_count + 1] >> 3 & 7) == 2);
  return call.ok() && is_call && site + call.length == return_address;
}

// The start of the function holding `address`, by the system's lookup.
std::uint64_t FunctionOf(std::uint64_t address) {
  DWORD64 image_base = 0;
  const PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(address, &image_base, nullptr);
  return function != nullptr ? image_base + function->BeginAddress : 0;
}

std::vector<std::uint64_t> AddressesIn(const TRuzadaStackList& list, DWORD thread_id) {
  std::vector<std::uint64_t> addresses;
  for (const TRuzadaDebugInfo& entry : list.Entries()) {
    if (entry.ThreadId == thread_id) addresses.push_back(entry.Address);
  }
  return addresses;
}

std::string Describe(const TRuzadaStackList& list) {
  std::ostringstream text;
  for (const TRuzadaDebugInfo& entry : list.Entries()) {
    text << std::hex << entry.Address << std::dec << " " << (entry.Module ? entry.Module->FileName : "?") << " "
         << entry.ProcedureName << "\n";
  }
  return text.str();
}

// What the callback takes inside the chain: its registers, the system's
// frames from there, the exact walk of the live stack and a copy of the
// stack from the registers' stack pointer up.
struct ChainWalk {
  TRuzadaModulesList* modules = nullptr;
  Chain chain = nullptr;
  CONTEXT context{};
  std::uint64_t stack_top = 0;
  DWORD thread_id = 0;
  std::vector<std::uint64_t> system;
  std::unique_ptr<TRuzadaStackList> live;
  std::vector<std::uint8_t> stack;
  bool returned = false;
};

// The callback takes no argument: the walk it fills.
ChainWalk* walking = nullptr;

__attribute__((noinline, noclone)) void WalkInsideChain() {
  ChainWalk& walk = *walking;
  RtlCaptureContext(&walk.context);
  walk.stack_top = CurrentStackBase();
  walk.thread_id = GetCurrentThreadId();
  walk.system = SystemFrames(walk.context, walk.stack_top);
  walk.live = std::make_unique<TRuzadaStackList>();
  AddUnwoundStack(*walk.live, *walk.modules, {walk.context}, {}, walk.stack_top, walk.thread_id);
  walk.stack.resize(walk.stack_top - walk.context.Rsp);
  std::memcpy(walk.stack.data(), ToPointer(walk.context.Rsp), walk.stack.size());
  asm volatile("" ::: "memory");
}

__attribute__((noinline, noclone)) DWORD WINAPI RunChain(void* parameter) {
  auto& walk = *static_cast<ChainWalk*>(parameter);
  walk.chain(&WalkInsideChain);
  walk.returned = true;  // after the call: it stays a call, with its frame
  return 0;
}

class UnwoundStack : public ::testing::Test {
 protected:
  void SetUp() override {
    probe_.reset(LoadLibraryA("callstack_probe.dll"));
    ASSERT_TRUE(probe_);
    for (int i = 0; i < 3; ++i) sites_[i] = ExportAddress(probe_.get(), kChainNames[i]) + kProbeCode.chain_call;
  }

  Chain Export(const char* name) const {
    return reinterpret_cast<Chain>(reinterpret_cast<void*>(GetProcAddress(probe_.get(), name)));
  }

  // Runs `chain` with the callback on a thread of its own, which has ended
  // when this returns.
  ChainWalk Run(const char* chain) {
    ChainWalk walk;
    walk.modules = &modules_;
    walk.chain = Export(chain);
    if (walk.chain == nullptr) {
      ADD_FAILURE() << "no export " << chain;
      return walk;
    }
    walking = &walk;
    win::UniqueKernelHandle thread(CreateThread(nullptr, 0, &RunChain, &walk, 0, nullptr));
    EXPECT_TRUE(thread);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0);
    walking = nullptr;
    EXPECT_TRUE(walk.returned);
    return walk;
  }

  // The chain's call sites, innermost first, each named by its procedure.
  void ExpectChainAt(const TRuzadaStackList& list, int first) const {
    for (int i = 0; i < 3; ++i) {
      const TRuzadaDebugInfo& entry = list.Items(first + i);
      EXPECT_EQ(entry.Address, sites_[i]) << "the call in " << kChainNames[i];
      EXPECT_EQ(entry.ProcedureName, kChainNames[i]);
      ASSERT_NE(entry.Module, nullptr);
      EXPECT_EQ(entry.Module->Handle, AddressOf(probe_.get()));
    }
  }

  static constexpr const char* kChainNames[3] = {"ChainInner", "ChainMiddle", "ChainOuter"};
  win::UniqueModule probe_;
  TRuzadaModulesList modules_;
  std::uint64_t sites_[3] = {};
};

TEST_F(UnwoundStack, ChainFromCapturedRegistersListsEveryFrameOnceAtItsCall) {
  const ChainWalk walk = Run("ChainOuter");
  ASSERT_NE(walk.live, nullptr);
  const TRuzadaStackList& list = *walk.live;
  SCOPED_TRACE(Describe(list));

  // The callback, the chain, RunChain, then the system's thread start.
  ASSERT_GE(walk.system.size(), 6u);
  ASSERT_EQ(list.Count(), static_cast<int>(walk.system.size())) << "one entry per frame, and nothing scanned";
  EXPECT_EQ(list.Items(0).Address, walk.context.Rip) << "the first frame where it stands";
  EXPECT_EQ(FunctionOf(list.Items(0).Address), AddressOf(reinterpret_cast<const void*>(&WalkInsideChain)));
  ExpectChainAt(list, 1);
  EXPECT_EQ(FunctionOf(list.Items(4).Address), AddressOf(reinterpret_cast<const void*>(&RunChain)));
  for (int i = 1; i < list.Count(); ++i) {
    EXPECT_TRUE(IsCallReturningTo(list.Items(i).Address, walk.system[i])) << "frame " << i;
  }
  for (const TRuzadaDebugInfo& entry : list.Entries()) {
    EXPECT_EQ(entry.ThreadId, walk.thread_id);
    EXPECT_EQ(entry.FromLiveStack, 1);
  }
  const auto last = list.Items(list.Count() - 1).Module;
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->Handle, AddressOf(GetModuleHandleA("ntdll.dll"))) << "the thread's first frame";
}

TEST_F(UnwoundStack, CopyOfTheStackAfterItsThreadEndedWalksAsTheLiveStackDid) {
  const ChainWalk walk = Run("ChainOuter");
  ASSERT_NE(walk.live, nullptr);
  ASSERT_FALSE(walk.stack.empty());
  // Only the copy knows the frames now: the thread and its stack are gone.
  TRuzadaStackList from_copy;
  AddUnwoundStack(from_copy, modules_, {walk.context}, {walk.stack, walk.context.Rsp}, walk.stack_top, walk.thread_id);
  SCOPED_TRACE(Describe(from_copy));
  EXPECT_EQ(AddressesIn(from_copy, walk.thread_id), AddressesIn(*walk.live, walk.thread_id));
  ASSERT_GE(from_copy.Count(), 4);
  ExpectChainAt(from_copy, 1);
}

TEST_F(UnwoundStack, CodeWithoutUnwindDataHandsOverToTheScanWhichReachesTheOuterFrames) {
  // The same thread start above the chain, exactly, to compare with.
  const ChainWalk exact = Run("ChainOuter");
  const ChainWalk walk = Run("UnwindlessOuter");
  ASSERT_NE(exact.live, nullptr);
  ASSERT_NE(walk.live, nullptr);
  const TRuzadaStackList& list = *walk.live;
  SCOPED_TRACE(Describe(list));

  ASSERT_GE(list.Count(), 5);
  EXPECT_EQ(list.Items(0).Address, walk.context.Rip);
  ExpectChainAt(list, 1);
  const TRuzadaDebugInfo& unwindless = list.Items(4);
  EXPECT_EQ(unwindless.Address, ExportAddress(probe_.get(), "UnwindlessOuter") + 4) << "its call, found all the same";
  EXPECT_EQ(unwindless.ProcedureName, "UnwindlessOuter");

  // From here the stack words are scanned: every real frame above is among
  // the entries, in order (with whatever stale return addresses lie between).
  const std::vector<std::uint64_t> exact_frames = AddressesIn(*exact.live, exact.thread_id);
  ASSERT_GE(exact_frames.size(), 6u);
  const std::vector<std::uint64_t> outer(exact_frames.begin() + 4, exact_frames.end());
  std::size_t found = 0;
  for (int i = 5; i < list.Count() && found < outer.size(); ++i) {
    if (list.Items(i).Address == outer[found]) ++found;
  }
  EXPECT_EQ(found, outer.size()) << "RunChain's call and the thread start's, in order";
}

// Parks a thread inside the chain, waiting in a system call.
struct Parked {
  HANDLE ready = nullptr;
  HANDLE go = nullptr;
};
Parked* parking = nullptr;

__attribute__((noinline, noclone)) void WaitInsideChain() {
  SignalObjectAndWait(parking->ready, parking->go, 30000, FALSE);
  asm volatile("" ::: "memory");
}

DWORD WINAPI ParkInChain(void* chain) {
  reinterpret_cast<Chain>(chain)(&WaitInsideChain);
  return 0;
}

TEST_F(UnwoundStack, ThreadStoppedInAWaitIsListedFrameByFrame) {
  win::UniqueKernelHandle ready(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  win::UniqueKernelHandle go(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  Parked parked{ready.get(), go.get()};
  parking = &parked;
  DWORD id = 0;
  win::UniqueKernelHandle thread(
      CreateThread(nullptr, 0, &ParkInChain, reinterpret_cast<void*>(Export("ChainOuter")), 0, &id));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);

  // It waits until told: stopped twice, it stands where it stood.
  CapturedThread captured;
  const bool got = CaptureThread(thread.get(), 0, captured);
  const std::vector<std::uint64_t> system =
      got ? SystemFrames(captured.Context, captured.StackBase) : std::vector<std::uint64_t>{};
  TRuzadaThreadsList threads;
  ThreadRecordPtr record = NewThreadRecord();
  record->ThreadId = id;
  record->Handle = DuplicateThreadHandle(thread.get());
  threads.Add(std::move(record));
  TRuzadaStackList list;
  AddThreadStacks(list, modules_, threads);
  SetEvent(go.get());
  ASSERT_EQ(WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0);
  parking = nullptr;
  ASSERT_TRUE(got);
  SCOPED_TRACE(Describe(list));

  const std::vector<std::uint64_t> listed = AddressesIn(list, id);
  ASSERT_EQ(listed.size(), system.size()) << "one entry per frame, and nothing scanned";
  ASSERT_EQ(list.Count(), static_cast<int>(listed.size())) << "no other thread's";
  EXPECT_EQ(listed[0], system[0]);
  for (std::size_t i = 1; i < listed.size(); ++i) {
    EXPECT_TRUE(IsCallReturningTo(listed[i], system[i])) << "frame " << i;
  }
  // The chain, right above the wait's frames.
  std::size_t waiting = 0;
  while (waiting < listed.size() &&
         FunctionOf(listed[waiting]) != AddressOf(reinterpret_cast<const void*>(&WaitInsideChain))) {
    ++waiting;
  }
  ASSERT_LT(waiting + 4, listed.size()) << "WaitInsideChain's frame";
  ExpectChainAt(list, static_cast<int>(waiting) + 1);
  EXPECT_EQ(FunctionOf(listed[waiting + 4]), AddressOf(reinterpret_cast<const void*>(&ParkInChain)));
}

}  // namespace
}  // namespace vellum::exceptlog

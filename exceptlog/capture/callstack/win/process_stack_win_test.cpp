#include "exceptlog/capture/callstack/win/process_stack_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/capture/callstack/testing/win/module_test_support_win.h"
#include "exceptlog/capture/callstack/testing/win/probe_code_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "runtime/win/cpu_context_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {
namespace {

using testing::AddressOf;
using testing::ExportAddress;
using testing::kProbeCode;
using testing::kRegisterCallLength;
using testing::kRelativeCallLength;

using Chain = void(__cdecl*)(void (*callback)());

// A word of this process's stack.
using StackWord = std::uintptr_t;

// Named entries of one module, with consecutive repeats of a name left out
// (a relative call lists its target before its call site).
std::vector<std::string> NamesIn(const TRuzadaStackList& list, std::uint64_t module_handle) {
  std::vector<std::string> names;
  for (const TRuzadaDebugInfo& entry : list.Entries()) {
    if (!entry.Named() || !entry.Module || entry.Module->Handle != module_handle) continue;
    if (names.empty() || names.back() != entry.ProcedureName) names.push_back(entry.ProcedureName);
  }
  return names;
}

const TRuzadaDebugInfo* EntryAt(const TRuzadaStackList& list, std::uint64_t address) {
  for (const TRuzadaDebugInfo& entry : list.Entries()) {
    if (entry.Address == address) return &entry;
  }
  return nullptr;
}

class ProcessStack : public ::testing::Test {
 protected:
  void SetUp() override {
    probe_.reset(LoadLibraryA("callstack_probe.dll"));
    ASSERT_TRUE(probe_);
    handle_ = AddressOf(probe_.get());
  }
  win::UniqueModule probe_;
  std::uint64_t handle_ = 0;
  TRuzadaModulesList modules_;
};

TRuzadaModulesList* chain_modules = nullptr;
std::unique_ptr<TRuzadaStackList> chain_stack;

void CaptureStackHere() {
  chain_stack = BuildStack(*chain_modules, 0, CurrentStackPointer(), CurrentStackBase(), true, GetCurrentThreadId());
}

TEST_F(ProcessStack, CallChainOnTheLiveStackIsFoundInOrder) {
  const auto outer = reinterpret_cast<Chain>(reinterpret_cast<void*>(GetProcAddress(probe_.get(), "ChainOuter")));
  ASSERT_NE(outer, nullptr);
  chain_modules = &modules_;
  outer(&CaptureStackHere);
  ASSERT_NE(chain_stack, nullptr);
  const TRuzadaStackList& stack = *chain_stack;

  EXPECT_EQ(NamesIn(stack, handle_), (std::vector<std::string>{"ChainInner", "ChainMiddle", "ChainOuter"}));
  for (const char* name : {"ChainInner", "ChainMiddle", "ChainOuter"}) {
    const TRuzadaDebugInfo* site = EntryAt(stack, ExportAddress(probe_.get(), name) + kProbeCode.chain_call);
    ASSERT_NE(site, nullptr) << "the call site in " << name;
    EXPECT_EQ(site->Kind, dkExportedName);
    EXPECT_EQ(site->ProcedureName, name);
    EXPECT_EQ(site->ThreadId, GetCurrentThreadId());
    EXPECT_EQ(site->FromLiveStack, 1);
  }
  // The relative calls list their targets too.
  EXPECT_NE(EntryAt(stack, ExportAddress(probe_.get(), "ChainInner")), nullptr);
  EXPECT_NE(EntryAt(stack, ExportAddress(probe_.get(), "ChainMiddle")), nullptr);
  // And the program's own frames follow: the test body called the chain.
  const auto program = modules_.Find(GetModuleHandleA(nullptr));
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->Kind, mkProgram);
  chain_stack.reset();
}

TEST_F(ProcessStack, RelativeCallIntoAnImportThunkGivesTheThunksTargetAndTheCallSite) {
  // ThunkCaller calls Sleep through the linker's thunk "jmp [__imp_Sleep]"
  // (in 64-bit code relative to the next instruction) padded with two NOPs.
  // Its return address alone on a stack.
  const std::uint64_t caller = ExportAddress(probe_.get(), "ThunkCaller");
  const std::uint64_t site = caller + kProbeCode.thunk_call;
  StackWord stack[] = {0, static_cast<StackWord>(site + kRelativeCallLength), 0};
  const auto list = BuildStack(modules_, 0, AddressOf(stack), AddressOf(stack) + sizeof stack, false, 42);
  ASSERT_EQ(list->Count(), 2);
  const std::uint64_t sleep = ExportAddress(GetModuleHandleA("kernel32.dll"), "Sleep");
  EXPECT_EQ(list->Items(0).Address, sleep);
  EXPECT_EQ(list->Items(0).ProcedureName, "Sleep");
  EXPECT_EQ(list->Items(0).Module->Handle, AddressOf(ModuleOfAddress(sleep)));
  EXPECT_EQ(list->Items(1).Address, site);
  EXPECT_EQ(list->Items(1).ProcedureName, "ThunkCaller");
  EXPECT_EQ(list->Items(1).ThreadId, 42u);
  EXPECT_EQ(list->Items(1).FromLiveStack, 0);
}

TEST_F(ProcessStack, MangledExportNamesUnitClassAndMethod) {
  // The exception address comes first, even with nothing on the stack.
  const std::uint64_t address = ExportAddress(probe_.get(), "@Probeunit@TProbe@Run$qqrv") + 3;
  StackWord empty = 0;
  const auto list = BuildStack(modules_, address, AddressOf(&empty), AddressOf(&empty), true, 1);
  ASSERT_EQ(list->Count(), 1);
  const TRuzadaDebugInfo& entry = list->Items(0);
  EXPECT_EQ(entry.Kind, dkExportedUnit);
  EXPECT_EQ(entry.UnitName, "Probeunit.pas");
  EXPECT_EQ(entry.ClassName, "TProbe");
  EXPECT_EQ(entry.ProcedureName, "Run");
}

// In a thread with a large stack: a 1 MB array on it, two return addresses
// inside, one in the lowest 100 KB and one above.
struct DeepStackResult {
  TRuzadaModulesList* modules = nullptr;
  StackWord return_address = 0;  // preceded by a call in the probe
  std::unique_ptr<TRuzadaStackList> from_bottom;
  std::unique_ptr<TRuzadaStackList> from_above_bound;
  std::unique_ptr<TRuzadaStackList> from_top;
  std::uint32_t used = 0;
};

DWORD WINAPI DeepStackThread(void* parameter) {
  auto& result = *static_cast<DeepStackResult*>(parameter);
  constexpr std::uint32_t kWords = (1 << 20) / sizeof(StackWord);
  volatile StackWord* words = static_cast<StackWord*>(__builtin_alloca(kWords * sizeof(StackWord)));
  for (std::uint32_t i = 0; i < kWords; ++i) words[i] = 0;
  constexpr std::uint32_t kInside = 10;
  constexpr std::uint32_t kAbove = kMaxScannedStackBytes / sizeof(StackWord) + 10;
  words[kInside] = result.return_address;
  words[kAbove] = result.return_address;
  const std::uint64_t bottom = AddressOf(const_cast<StackWord*>(words));
  result.used = CurrentStackBase() - bottom;
  result.from_bottom = BuildStack(*result.modules, 0, bottom, CurrentStackBase(), true, GetCurrentThreadId());
  result.from_above_bound =
      BuildStack(*result.modules, 0, bottom + kMaxScannedStackBytes, CurrentStackBase(), true, GetCurrentThreadId());
  result.from_top = BuildStack(*result.modules, 0, bottom + kWords * sizeof(StackWord), CurrentStackBase(), true,
                               GetCurrentThreadId());
  return 0;
}

TEST_F(ProcessStack, DeepStackIsScannedOnlyInItsLowest100KB) {
  DeepStackResult result;
  result.modules = &modules_;
  const std::uint64_t site = ExportAddress(probe_.get(), "ChainInner") + kProbeCode.chain_call;
  result.return_address = static_cast<StackWord>(site + kRegisterCallLength);
  win::UniqueKernelHandle thread(
      CreateThread(nullptr, 4 << 20, &DeepStackThread, &result, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.get(), 60000), WAIT_OBJECT_0);
  ASSERT_GT(result.used, 1u << 20);
  auto count_sites = [&](const TRuzadaStackList& list) {
    int count = 0;
    for (const TRuzadaDebugInfo& entry : list.Entries()) count += entry.Address == site;
    return count;
  };
  EXPECT_EQ(count_sites(*result.from_bottom), 1) << "the copy above the first 100 KB is not reached";
  EXPECT_EQ(result.from_bottom->Count(), 1) << "nor the thread's real frames";
  EXPECT_EQ(count_sites(*result.from_above_bound), 1) << "it is a return address all the same";
  EXPECT_GT(result.from_top->Count(), 0) << "the real frames above the array";
}

}  // namespace
}  // namespace vellum::exceptlog

namespace vellum::exceptlog {
namespace {

struct Parked {
  HANDLE ready = nullptr;
  HANDLE release = nullptr;
  std::uintptr_t stack_base = 0;
  std::uintptr_t marker = 0;  // an address on the parked thread's stack
};

DWORD WINAPI EndAtOnce(void*) {
  return 0;
}

DWORD WINAPI Park(void* parameter) {
  auto& parked = *static_cast<Parked*>(parameter);
  volatile std::uintptr_t here = 0;
  parked.stack_base = CurrentStackBase();
  parked.marker = reinterpret_cast<std::uintptr_t>(&here);
  SetEvent(parked.ready);
  WaitForSingleObject(parked.release, INFINITE);
  return static_cast<DWORD>(here);
}

// Threads stopped together each give their own registers and stack, a
// thread that is gone gives nothing, and all run on afterwards.
TEST(CaptureThreads, EachStoppedThreadGivesItsOwnStackAndAllRunOn) {
  const win::UniqueKernelHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::vector<Parked> parked(3);
  std::vector<win::UniqueKernelHandle> ready;
  std::vector<win::UniqueKernelHandle> threads;
  for (Parked& one : parked) {
    ready.emplace_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    one.ready = ready.back().get();
    one.release = release.get();
    threads.emplace_back(CreateThread(nullptr, 0, &Park, &one, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(one.ready, 10000), WAIT_OBJECT_0);
  }
  const win::UniqueKernelHandle ended(CreateThread(nullptr, 0, &EndAtOnce, nullptr, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(ended.get(), 10000), WAIT_OBJECT_0);

  std::vector<ThreadToCapture> to_capture;
  for (std::size_t i = 0; i < parked.size(); ++i) {
    // The middle one's stack base comes from its own information block.
    to_capture.push_back({threads[i].get(), i == 1 ? 0 : parked[i].stack_base});
  }
  to_capture.push_back({ended.get(), 0});
  std::vector<CapturedThread> captured;
  const std::vector<char> taken = CaptureThreads(to_capture, captured);
  ASSERT_EQ(taken.size(), 4u);
  ASSERT_EQ(captured.size(), 4u);
  for (std::size_t i = 0; i < parked.size(); ++i) {
    ASSERT_NE(taken[i], 0) << i;
    EXPECT_EQ(captured[i].StackBase, parked[i].stack_base) << i;
    const std::uintptr_t stack_pointer = win::StackPointer(captured[i].Context);
    EXPECT_LT(stack_pointer, parked[i].marker) << i;
    EXPECT_EQ(stack_pointer + captured[i].Stack.size(),
              std::min<std::uintptr_t>(parked[i].stack_base, stack_pointer + kMaxScannedStackBytes))
        << i;
  }
  EXPECT_EQ(taken[3], 0) << "a thread that has ended is not taken";
  EXPECT_TRUE(captured[3].Stack.empty());

  SetEvent(release.get());
  for (std::size_t i = 0; i < parked.size(); ++i) {
    EXPECT_EQ(WaitForSingleObject(threads[i].get(), 10000), WAIT_OBJECT_0) << "resumed: " << i;
  }
}

}  // namespace
}  // namespace vellum::exceptlog

// What the full report of one exception costs under Wine, with the raising
// thread and 8 others waiting a few calls deep, every section on: taking the
// other threads' stacks, scanning them, naming what the scans find, asking
// the system its facts, and laying the text out.
#define CATCH_CONFIG_MAIN
#include <windows.h>

#include <array>
#include <catch2/catch.hpp>
#include <cstdio>
#include <memory>
#include <vector>

#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/capture/callstack/win/modules_list_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/callstack/win/threads_list_win.h"
#include "exceptlog/report/system/report_entry_win.h"
#include "exceptlog/report/system/system_facts_win.h"
#include "runtime/win/cpu_context_win.h"
#include "runtime/win/unique_handle_win.h"

using namespace vellum::exceptlog;

namespace {

constexpr int kOtherThreads = 8;

std::uint32_t AddressOf(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

struct Waiter {
  HANDLE release = nullptr;
  HANDLE ready = nullptr;
  std::uint32_t stack_base = 0;
};

__attribute__((noinline)) void WaitDeep(Waiter& waiter, int depth) {
  volatile char frame[64];
  frame[0] = static_cast<char>(depth);
  if (depth > 0) {
    WaitDeep(waiter, depth - 1);
  } else {
    SetEvent(waiter.ready);
    WaitForSingleObject(waiter.release, INFINITE);
  }
  (void)frame[0];
}

DWORD WINAPI WaiterRoutine(void* parameter) {
  auto& waiter = *static_cast<Waiter*>(parameter);
  waiter.stack_base = CurrentStackBase();
  WaitDeep(waiter, 6);
  return 0;
}

// Eight threads stopped in a wait, a few frames deep, and their records.
class WaitingThreads {
 public:
  WaitingThreads() : release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    for (int i = 0; i < kOtherThreads; ++i) {
      waiters_[i].release = release_.get();
      ready_[i].reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
      waiters_[i].ready = ready_[i].get();
      handles_[i].reset(CreateThread(nullptr, 0, &WaiterRoutine, &waiters_[i], 0, &ids_[i]));
      WaitForSingleObject(ready_[i].get(), INFINITE);
    }
    TRuzadaThreadRecord* own = list_.NewRecord();
    own->ThreadId = GetCurrentThreadId();
    own->Handle = DuplicateThreadHandle(GetCurrentThread());
    for (int i = 0; i < kOtherThreads; ++i) {
      TRuzadaThreadRecord* record = list_.NewRecord();
      record->ThreadId = ids_[i];
      record->Handle = DuplicateThreadHandle(handles_[i].get());
      record->StackBase = waiters_[i].stack_base;
    }
  }
  ~WaitingThreads() {
    SetEvent(release_.get());
    for (auto& handle : handles_) WaitForSingleObject(handle.get(), INFINITE);
  }
  WaitingThreads(const WaitingThreads&) = delete;
  WaitingThreads& operator=(const WaitingThreads&) = delete;

  HANDLE Handle(int i) const { return handles_[i].get(); }
  std::uint32_t StackBase(int i) const { return waiters_[i].stack_base; }
  std::uint32_t Id(int i) const { return ids_[i]; }
  TRuzadaThreadsList& List() { return list_; }

 private:
  vellum::win::UniqueKernelHandle release_;
  std::array<Waiter, kOtherThreads> waiters_{};
  std::array<vellum::win::UniqueKernelHandle, kOtherThreads> ready_;
  std::array<vellum::win::UniqueKernelHandle, kOtherThreads> handles_;
  std::array<DWORD, kOtherThreads> ids_{};
  TRuzadaThreadsList list_;
};

std::vector<CapturedThread> CaptureAll(const WaitingThreads& threads) {
  std::vector<CapturedThread> captured(kOtherThreads);
  for (int i = 0; i < kOtherThreads; ++i) CaptureThread(threads.Handle(i), threads.StackBase(i), captured[i]);
  return captured;
}

// The raising thread's stack from here up, then each captured copy.
std::unique_ptr<TRuzadaStackList> NameAll(TRuzadaModulesList& modules, const WaitingThreads& threads,
                                          const std::vector<CapturedThread>& captured) {
  auto list = BuildStack(modules, 0, CurrentStackPointer(), CurrentStackBase(), true, GetCurrentThreadId());
  for (int i = 0; i < kOtherThreads; ++i) {
    const std::uint32_t copy = AddressOf(captured[i].Stack.data());
    AddStack(*list, modules, static_cast<std::uint32_t>(vellum::win::InstructionPointer(captured[i].Context)), copy,
             copy + static_cast<std::uint32_t>(captured[i].Stack.size()), true, threads.Id(i));
  }
  return list;
}

}  // namespace

TEST_CASE("full report of a raising thread and 8 others") {
  WaitingThreads threads;
  TRuzadaModulesList modules;
  modules.CollectAll();
  const std::vector<CapturedThread> captured = CaptureAll(threads);
  const auto stack = NameAll(modules, threads, captured);

  TRuzadaModuleOptions options("report_benchmark.exe", false);
  options.SetLogFlags(TLogFlags{lfModulesSection, lfCpuSection});
  options.SetStackFlags(TStackFlags{skLibraryFrames, skPackageFrames, skRuntimeThreads, skOtherThreads});
  PipelineReport report;
  report.record.RaiseAddress = AddressOf(reinterpret_cast<const void*>(&WaitDeep));
  report.record.RaiseThreadId = GetCurrentThreadId();
  report.record.Modules = &modules;
  report.record.StackEntries = stack.get();
  report.record.Options = &options;
  report.class_name = "EBenchmark";
  report.message = "Benchmark";
  report.stack_pointer = CurrentStackPointer();
  report.main_thread_id = GetCurrentThreadId();
  report.subsystem_module = AddressOf(GetModuleHandleA(nullptr));
  report.threads = &threads.List();
  const ReportTexts texts = BuildReportTexts(report);
  int shown = 0;
  for (const TRuzadaDebugInfo& entry : stack->Entries()) shown += entry.Kind == dkDebugData;
  std::printf("report of %d threads: %d call stack entries (%d with lines), %d modules, %zu characters\n",
              kOtherThreads + 1, stack->Count(), shown, modules.Count(), texts.full.size());

  BENCHMARK("1: stop the 8 other threads and copy their stacks") {
    return CaptureAll(threads).size();
  };
  BENCHMARK("2: scan the 9 stacks") {
    ProcessMemoryReader memory;
    int found = 0;
    ScanStack(memory, {0, CurrentStackPointer(), CurrentStackBase()}, [&](std::uint32_t) { ++found; });
    for (const CapturedThread& thread : captured) {
      const std::uint32_t copy = AddressOf(thread.Stack.data());
      ScanStack(memory, {0, copy, copy + static_cast<std::uint32_t>(thread.Stack.size())},
                [&](std::uint32_t) { ++found; });
    }
    return found;
  };
  BENCHMARK("3: scan and name the 9 stacks") {
    return NameAll(modules, threads, captured)->Count();
  };
  BENCHMARK("4: report text with the system's facts") {
    return BuildReportTexts(report).full.size();
  };
  BENCHMARK("4a: system facts: network adapters") {
    return NetworkAdapters().size();
  };
  BENCHMARK("4b: system facts: language") {
    return SystemLanguageName().size();
  };
  BENCHMARK("4c: system facts: processor, display, disk, version") {
    return ProcessorName().size() + DisplayMode().size() + MainModuleVersion().version.size() +
           ModuleDrive(GetModuleHandleA(nullptr)).total.value_or(0);
  };
}

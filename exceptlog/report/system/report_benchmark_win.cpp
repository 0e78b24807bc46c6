// What the full report of one exception costs under Wine, with the raising
// thread and 8 others waiting a few calls deep, every section on: taking the
// other threads' stacks, finding their frames, naming them, asking the
// system its facts, and laying the text out. The stacks are taken as a
// report of this process takes them: scanned word by word in a 32-bit
// process, walked with the modules' unwind data in a 64-bit one (scanned
// only where that data runs out).
#define CATCH_CONFIG_MAIN
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <catch2/catch.hpp>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "exceptlog/capture/callstack/loaded_image.h"
#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/capture/callstack/win/modules_list_win.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/callstack/win/threads_list_win.h"
#include "exceptlog/capture/callstack/x64_unwind.h"
#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/report/system/machine_facts_win.h"
#include "exceptlog/report/system/report_entry_win.h"
#include "exceptlog/report/system/system_facts_win.h"
#include "runtime/exception.h"
#include "runtime/win/cpu_context_win.h"
#include "runtime/win/unique_handle_win.h"

using namespace vellum::exceptlog;

namespace {

constexpr int kOtherThreads = 8;

struct Waiter {
  HANDLE release = nullptr;
  HANDLE ready = nullptr;
  std::uintptr_t stack_base = 0;
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
  std::uintptr_t StackBase(int i) const { return waiters_[i].stack_base; }
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

// As a report takes them: all stopped at once.
std::vector<CapturedThread> CaptureAll(const WaitingThreads& threads) {
  std::vector<ThreadToCapture> to_capture;
  for (int i = 0; i < kOtherThreads; ++i) to_capture.push_back({threads.Handle(i), threads.StackBase(i)});
  std::vector<CapturedThread> captured;
  CaptureThreads(to_capture, captured);
  return captured;
}

// The raising thread's stack from here up: walked from its registers in a
// 64-bit process, scanned from its stack pointer in a 32-bit one.
void AddOwnStack(TRuzadaStackList& list, TRuzadaModulesList& modules) {
  CONTEXT context{};
  RtlCaptureContext(&context);
  AddUnwoundStack(list, modules, {context}, {{}, vellum::win::StackPointer(context)}, CurrentStackBase(),
                  GetCurrentThreadId());
}

// A stopped thread's stack as AddThreadStacks takes it into a report.
void AddCapturedStack(TRuzadaStackList& list, TRuzadaModulesList& modules, const CapturedThread& captured,
                      std::uint32_t thread_id) {
  if constexpr (kThisProcessBits == ProcessBits::k64) {
    AddUnwoundStack(list, modules, {captured.Context}, {captured.Stack, vellum::win::StackPointer(captured.Context)},
                    captured.StackBase, thread_id);
  } else {
    const std::uint64_t copy = ToAddress(captured.Stack.data());
    AddStack(list, modules, 0, copy, copy + captured.Stack.size(), true, thread_id);
  }
}

// The raising thread's stack, then each captured thread's.
std::unique_ptr<TRuzadaStackList> NameAll(TRuzadaModulesList& modules, const WaitingThreads& threads,
                                          const std::vector<CapturedThread>& captured) {
  auto list = std::make_unique<TRuzadaStackList>();
  AddOwnStack(*list, modules);
  for (int i = 0; i < kOtherThreads; ++i) AddCapturedStack(*list, modules, captured[i], threads.Id(i));
  return list;
}

#if defined(__x86_64__)
// The frames a 64-bit report walks (AddUnwoundStack), without naming them:
// each module's unwind data looked up once per walk, the words from the last
// frame the data knew scanned.
int CountFrames(const ProcessMemoryReader& memory, const CONTEXT& context, std::uint64_t stack_top) {
  std::vector<X64ModuleUnwindData> known;
  const X64ModuleLookup unwind_data = [&](std::uint64_t pc) -> std::optional<X64ModuleUnwindData> {
    for (const X64ModuleUnwindData& data : known) {
      if (pc >= data.image_base && pc - data.image_base < data.image_size) return data;
    }
    HMODULE module = ModuleOfAddress(pc);
    const auto layout = module != nullptr ? ReadPeLayout(memory, ToAddress(module), ProcessBits::k64) : std::nullopt;
    if (!layout || layout->exception_size == 0) return std::nullopt;
    known.push_back({ToAddress(module), layout->size_of_image, layout->exception_rva, layout->exception_size});
    return known.back();
  };
  X64Registers registers;
  registers.rip = context.Rip;
  registers.general = {context.Rax, context.Rcx, context.Rdx, context.Rbx, context.Rsp, context.Rbp,
                       context.Rsi, context.Rdi, context.R8,  context.R9,  context.R10, context.R11,
                       context.R12, context.R13, context.R14, context.R15};
  const X64StackWalk walk = WalkX64Stack({memory, memory}, unwind_data, registers, {registers.Rsp(), stack_top});
  int found = static_cast<int>(walk.frames.size());
  if (walk.end != X64WalkEnd::kZeroReturnAddress && walk.end != X64WalkEnd::kFrameLimit && walk.end_rsp != 0 &&
      walk.end_rsp < stack_top) {
    ScanStack(memory, {0, walk.end_rsp, stack_top, ProcessBits::k64}, [&](std::uint64_t) { ++found; });
  }
  return found;
}
#endif

// The frames of the raising thread and of the stopped ones, not named. The
// other threads still wait where they were stopped, so a 64-bit walk reads
// their live stacks, which hold what the copies hold.
int FindAllFrames(const std::vector<CapturedThread>& captured) {
  const ProcessMemoryReader memory;
  int found = 0;
#if defined(__x86_64__)
  CONTEXT context{};
  RtlCaptureContext(&context);
  found += CountFrames(memory, context, CurrentStackBase());
  for (const CapturedThread& thread : captured) found += CountFrames(memory, thread.Context, thread.StackBase);
#else
  const auto count = [&](std::uint64_t) { ++found; };
  ScanStack(memory, {0, CurrentStackPointer(), CurrentStackBase(), kThisProcessBits}, count);
  for (const CapturedThread& thread : captured) {
    const std::uint64_t copy = ToAddress(thread.Stack.data());
    ScanStack(memory, {0, copy, copy + thread.Stack.size(), kThisProcessBits}, count);
  }
#endif
  return found;
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
  report.record.RaiseAddress = ToAddress(reinterpret_cast<const void*>(&WaitDeep));
  report.record.RaiseThreadId = GetCurrentThreadId();
  report.record.Modules = &modules;
  report.record.StackEntries = stack.get();
  report.record.Options = &options;
  report.class_name = "EBenchmark";
  report.message = "Benchmark";
  report.wide = kThisProcessBits == ProcessBits::k64;
  report.stack_pointer = CurrentStackPointer();
  report.main_thread_id = GetCurrentThreadId();
  report.subsystem_module = ToAddress(GetModuleHandleA(nullptr));
  report.threads = &threads.List();
  const ReportTexts texts = BuildReportTexts(report);
  int shown = 0;
  for (const TRuzadaDebugInfo& entry : stack->Entries()) shown += entry.Kind == dkDebugData;
  // Every stopped thread's frames are in it, or the figures below leave some out.
  for (int i = 0; i < kOtherThreads; ++i) {
    CHECK(std::any_of(stack->Entries().begin(), stack->Entries().end(),
                      [&](const TRuzadaDebugInfo& entry) { return entry.ThreadId == threads.Id(i); }));
  }
  std::printf("report of %d threads (%zu-bit): %d call stack entries (%d with lines), %d modules, %zu characters\n",
              kOtherThreads + 1, sizeof(void*) * 8, stack->Count(), shown, modules.Count(), texts.full.size());

  BENCHMARK("1: stop the 8 other threads and copy their stacks") {
    return CaptureAll(threads).size();
  };
  BENCHMARK("2: find the frames of the 9 stacks") {
    return FindAllFrames(captured);
  };
  BENCHMARK("3: find and name the frames of the 9 stacks") {
    return NameAll(modules, threads, captured)->Count();
  };
  MachineFacts asked_now;
  BENCHMARK("4: report text with the system's facts, all asked now") {
    return BuildReportTexts(report, asked_now).full.size();
  };
  MachineFacts kept;
  kept.Warm(GetModuleHandleA(nullptr));
  BENCHMARK("4: report text with the system's facts, rare ones gathered ahead") {
    return BuildReportTexts(report, kept).full.size();
  };
  BENCHMARK("4a: system facts: network adapters") {
    return NetworkAdapters().size();
  };
  BENCHMARK("4b: system facts: language") {
    return SystemLanguageName().size();
  };
  BENCHMARK("4c: system facts: processor") {
    return ProcessorName().size();
  };
  BENCHMARK("4d: system facts: display") {
    return DisplayMode().size();
  };
  BENCHMARK("4e: system facts: disk") {
    return ModuleDrive(GetModuleHandleA(nullptr)).total.value_or(0);
  };
  BENCHMARK("4f: system facts: program version") {
    return MainModuleVersion().version.size();
  };
  BENCHMARK("4g: system facts: computer, user, memory, system version") {
    return ComputerName().size() + UserName().size() + PhysicalMemory().total +
           OperatingSystemVersion().service_pack.size();
  };
}

namespace {

DWORD WINAPI IdleUntilStopped(void* flag) {
  while (!static_cast<std::atomic<bool>*>(flag)->load()) Sleep(1);
  return 0;
}

}  // namespace

// The whole road in this program's own subsystem: the throw, the catch
// point, the dispatcher's worker, the pipeline with the report text (the
// module's real step), and back, with 8 other threads listed and the
// machine's rare facts gathered ahead as the subsystem does it (aim: at most
// 10 ms under Wine).
TEST_CASE("throw to finished report with its text") {
  StartExceptionLog({GetModuleHandleA(nullptr), false, true});
  REQUIRE(ExceptionLogActive());
  std::atomic<int> reports{0};
  std::atomic<std::size_t> characters{0};
  PipelineSteps steps;
  steps.build_report = &BuildReportStep;
  steps.gather_ahead = &GatherMachineFactsAhead;
  steps.reported = [&](const PipelineReport& report, PipelineContext&) {
    characters.store(report.record.ReportText.size());
    reports.fetch_add(1);
  };
  SetPipelineSteps(steps);
  // The end of a program's initialisation starts the gathering.
  SetModuleInitializing(false);
  std::atomic<bool> stop{false};
  std::vector<HANDLE> threads;
  for (int i = 0; i < kOtherThreads; ++i)
    threads.push_back(CreateThread(nullptr, 0, &IdleUntilStopped, &stop, 0, nullptr));
  for (int waited = 0; waited < 10000 && !MachineFacts::Shared().IsWarm(); ++waited) Sleep(1);
  CHECK(MachineFacts::Shared().IsWarm());

  BENCHMARK("report with its text") {
    try {
      throw vellum::EConvertError("reported");
    } catch (...) {
      return ReportEscapedException(std::current_exception(), rkGeneral);
    }
  };
  stop = true;
  WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
  SetPipelineSteps({});
  StopExceptionLog();
  std::printf("\nreports with text (%zu-bit): %d, the last %zu characters\n", sizeof(void*) * 8, reports.load(),
              characters.load());
  REQUIRE(reports.load() > 0);
}

#include "exceptlog/capture/callstack/win/process_stack_win.h"

#include <memory>
#include <vector>

#include "exceptlog/capture/callstack/call_stack.h"
#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "runtime/win/cpu_context_win.h"

namespace vellum::exceptlog {

namespace {

// Pairs SuspendThread with ResumeThread.
class SuspendedThread {
 public:
  explicit SuspendedThread(HANDLE thread) : thread_(thread), suspended_(SuspendThread(thread) != DWORD(-1)) {}
  ~SuspendedThread() {
    if (suspended_) ResumeThreadDirectly(thread_);
  }
  SuspendedThread(const SuspendedThread&) = delete;
  SuspendedThread& operator=(const SuspendedThread&) = delete;
  bool Suspended() const { return suspended_; }

 private:
  HANDLE thread_;
  bool suspended_;
};

// The thread's stack base from its information block, found through the
// FS selector of its context in a 32-bit process; a 64-bit one has no
// selectors to ask, the system names the block instead.
std::uintptr_t StackBaseFromBlock(HANDLE thread, const CONTEXT& context, const MemoryReader& memory) {
#if defined(__x86_64__)
  (void)context;
  struct BasicInformation {
    LONG ExitStatus;
    void* TebBaseAddress;
    void* ClientIdProcess;
    void* ClientIdThread;
    ULONG_PTR AffinityMask;
    LONG Priority;
    LONG BasePriority;
  } information{};
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
  if (query == nullptr || query(thread, 0, &information, sizeof information, nullptr) < 0) return 0;
  const auto base =
      memory.ReadValue<std::uint64_t>(ToAddress(information.TebBaseAddress) + offsetof(NT_TIB, StackBase));
  return base ? static_cast<std::uintptr_t>(*base) : 0;
#else
  LDT_ENTRY entry{};
  if (!GetThreadSelectorEntry(thread, context.SegFs, &entry)) return 0;
  const std::uint32_t block = entry.BaseLow | std::uint32_t{entry.HighWord.Bytes.BaseMid} << 16 |
                              std::uint32_t{entry.HighWord.Bytes.BaseHi} << 24;
  const auto base = memory.ReadValue<std::uint32_t>(block + offsetof(NT_TIB, StackBase));
  return base ? *base : 0;
#endif
}

}  // namespace

ModuleLookup ModuleLookupIn(TRuzadaModulesList& modules, const ProcessMemoryReader& memory) {
  // Each module's code section is told to the reader: the procedures' first
  // bytes that naming reads then need no memory query. Two references: the
  // function object holds them without an allocation.
  return [&modules, &memory](std::uint64_t address) -> std::shared_ptr<const TRuzadaModuleInfo> {
    std::shared_ptr<const TRuzadaModuleInfo> record = modules.FindByAddress(address);
    if (record != nullptr) memory.KnowReadable(record->CodeStart, record->CodeEnd);
    return record;
  };
}

void AddStack(TRuzadaStackList& list, TRuzadaModulesList& modules, std::uint64_t exception_address,
              std::uint64_t stack_position, std::uint64_t stack_top, bool live, std::uint32_t thread_id) {
  const ProcessMemoryReader memory;
  AddStack(list, memory, ModuleLookupIn(modules, memory),
           StackSource{{exception_address, stack_position, stack_top, kThisProcessBits}, live, thread_id});
}

std::unique_ptr<TRuzadaStackList> BuildStack(TRuzadaModulesList& modules, std::uint64_t exception_address,
                                             std::uint64_t stack_position, std::uint64_t stack_top, bool live,
                                             std::uint32_t thread_id) {
  auto list = std::make_unique<TRuzadaStackList>();
  AddStack(*list, modules, exception_address, stack_position, stack_top, live, thread_id);
  return list;
}

bool CaptureThread(HANDLE thread, std::uintptr_t stack_base, CapturedThread& captured) {
  captured.Stack.assign(kMaxScannedStackBytes, 0);
  const ProcessMemoryReader memory;
  std::uint32_t copied = 0;
  {
    const SuspendedThread stopped(thread);
    if (!stopped.Suspended()) return false;
    captured.Context = CONTEXT{};
    captured.Context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
    if (!GetThreadContext(thread, &captured.Context)) return false;
    if (win::InstructionPointer(captured.Context) == 0 || win::StackPointer(captured.Context) == 0) return false;
    if (stack_base == 0) stack_base = StackBaseFromBlock(thread, captured.Context, memory);
    const std::uintptr_t position = win::StackPointer(captured.Context);
    // A stack pointer above its stack base is no stack to walk.
    if (stack_base <= position) return false;
    const auto length = static_cast<std::uint32_t>(ScannedStackEnd({0, position, stack_base}) - position);
    // Window by window, so that an unreadable page (a guard page the thread
    // has not reached) ends the copy instead of losing all of it.
    while (copied < length) {
      const std::uint32_t count = std::min(kStackReadabilityWindow, length - copied);
      if (!memory.Read(position + copied, captured.Stack.data() + copied, count)) break;
      copied += count;
    }
  }
  captured.StackBase = stack_base;
  captured.Stack.resize(copied);
  return true;
}

void AddThreadStacks(TRuzadaStackList& list, TRuzadaModulesList& modules, TRuzadaThreadsList& threads,
                     const std::function<bool(const TRuzadaThreadRecord&)>& include) {
  const DWORD current = GetCurrentThreadId();
  // Written: the records get their priority.
  ScopedWriteLock guard(threads.Lock());
  CapturedThread captured;
  for (int i = 0; i < threads.Count(); ++i) {
    TRuzadaThreadRecord& record = *threads.Items(i);
    if (record.ThreadId == current || (include && !include(record))) continue;
    if (record.Handle != nullptr && CaptureThread(record.Handle, record.StackBase, captured)) {
      const int priority = GetThreadPriority(record.Handle);
      if (priority != THREAD_PRIORITY_ERROR_RETURN) record.Priority = priority;
      if constexpr (kThisProcessBits == ProcessBits::k64) {
        AddUnwoundStack(list, modules, {captured.Context}, {captured.Stack, win::StackPointer(captured.Context)},
                        captured.StackBase, record.ThreadId);
      } else {
        const std::uint64_t copy = ToAddress(captured.Stack.data());
        AddStack(list, modules, 0, copy, copy + captured.Stack.size(), true, record.ThreadId);
      }
    }
    if (record.CallerStack != nullptr && record.CallerStackSize != 0) {
      const std::uint64_t copy = ToAddress(record.CallerStack);
      AddStack(list, modules, 0, copy, copy + record.CallerStackSize, false, record.CallerThreadId);
    }
  }
}

}  // namespace vellum::exceptlog

#include "exceptlog/capture/callstack/win/process_stack_win.h"

#include <memory>
#include <vector>

#include "exceptlog/capture/callstack/call_stack.h"
#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "runtime/win/cpu_context_win.h"

namespace vellum::exceptlog {

namespace {

std::uint32_t AddressOf(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// One scan asks about the same few code sections again and again; each
// answer holds for its whole section for the scan's life (as the memory
// reader's answers do), so the memory manager is asked once per section.
ModuleLookup LookupIn(TRuzadaModulesList& modules) {
  struct Section {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::shared_ptr<const TRuzadaModuleInfo> record;
  };
  auto sections = std::make_shared<std::vector<Section>>();
  return [&modules, sections](std::uint32_t address) -> std::shared_ptr<const TRuzadaModuleInfo> {
    for (const Section& section : *sections) {
      if (address >= section.start && address < section.end) return section.record;
    }
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), &info, sizeof info) == 0 ||
        info.State != MEM_COMMIT || info.Type != MEM_IMAGE || info.AllocationBase == nullptr) {
      return nullptr;
    }
    std::shared_ptr<const TRuzadaModuleInfo> record = modules.FindOrCreate(static_cast<HMODULE>(info.AllocationBase));
    const auto start = AddressOf(info.BaseAddress);
    const std::uint64_t end = std::uint64_t{start} + info.RegionSize;
    if (record != nullptr && sections->size() < 64) {
      sections->push_back({start, end > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(end), record});
    }
    return record;
  };
}

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
// FS selector of its context.
std::uint32_t StackBaseFromBlock(HANDLE thread, const CONTEXT& context, const MemoryReader& memory) {
  LDT_ENTRY entry{};
  if (!GetThreadSelectorEntry(thread, context.SegFs, &entry)) return 0;
  const std::uint32_t block = entry.BaseLow | std::uint32_t{entry.HighWord.Bytes.BaseMid} << 16 |
                              std::uint32_t{entry.HighWord.Bytes.BaseHi} << 24;
  const auto base = memory.ReadValue<std::uint32_t>(block + offsetof(NT_TIB, StackBase));
  return base ? *base : 0;
}

}  // namespace

void AddStack(TRuzadaStackList& list, TRuzadaModulesList& modules, std::uint32_t exception_address,
              std::uint32_t stack_position, std::uint32_t stack_top, bool live, std::uint32_t thread_id) {
  const ProcessMemoryReader memory;
  AddStack(list, memory, LookupIn(modules),
           StackSource{{exception_address, stack_position, stack_top}, live, thread_id});
}

std::unique_ptr<TRuzadaStackList> BuildStack(TRuzadaModulesList& modules, std::uint32_t exception_address,
                                             std::uint32_t stack_position, std::uint32_t stack_top, bool live,
                                             std::uint32_t thread_id) {
  auto list = std::make_unique<TRuzadaStackList>();
  AddStack(*list, modules, exception_address, stack_position, stack_top, live, thread_id);
  return list;
}

bool CaptureThread(HANDLE thread, std::uint32_t stack_base, CapturedThread& captured) {
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
    const auto position = static_cast<std::uint32_t>(win::StackPointer(captured.Context));
    // A stack pointer above its stack base is no stack to walk.
    if (stack_base <= position) return false;
    const std::uint32_t end = ScannedStackEnd({0, position, stack_base});
    // Window by window, so that an unreadable page (a guard page the thread
    // has not reached) ends the copy instead of losing all of it.
    while (copied < end - position) {
      const std::uint32_t count = std::min(kStackReadabilityWindow, end - position - copied);
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
      const std::uint32_t copy = AddressOf(captured.Stack.data());
      AddStack(list, modules, 0, copy, copy + static_cast<std::uint32_t>(captured.Stack.size()), true, record.ThreadId);
    }
    if (record.CallerStack != nullptr && record.CallerStackSize != 0) {
      const std::uint32_t copy = AddressOf(record.CallerStack);
      AddStack(list, modules, 0, copy, copy + record.CallerStackSize, false, record.CallerThreadId);
    }
  }
}

}  // namespace vellum::exceptlog

#include "exceptlog/capture/callstack/win/process_stack_win.h"

#include <memory>
#include <optional>
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

// The thread's stack base from its information block, which the system
// names. (The FS selector of a 32-bit thread's context would name it too,
// but Wine answers no selector entries for other threads.)
std::uintptr_t StackBaseFromBlock(HANDLE thread, const MemoryReader& memory) {
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
      memory.ReadValue<std::uintptr_t>(ToAddress(information.TebBaseAddress) + offsetof(NT_TIB, StackBase));
  return base ? *base : 0;
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

namespace {

// The registers and stack copy of a thread that is stopped now; false when
// it cannot be read or its stack pointer lies outside its stack. `copied`:
// how much of the copy's buffer holds the stack.
bool ReadStoppedThread(HANDLE thread, std::uintptr_t stack_base, const ProcessMemoryReader& memory,
                       CapturedThread& captured, std::uint32_t& copied) {
  copied = 0;
  captured.Context = CONTEXT{};
  captured.Context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
  if (!GetThreadContext(thread, &captured.Context)) return false;
  if (win::InstructionPointer(captured.Context) == 0 || win::StackPointer(captured.Context) == 0) return false;
  if (stack_base == 0) stack_base = StackBaseFromBlock(thread, memory);
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
  captured.StackBase = stack_base;
  return true;
}

}  // namespace

bool CaptureThread(HANDLE thread, std::uintptr_t stack_base, CapturedThread& captured) {
  std::vector<CapturedThread> one(1);
  const bool taken = CaptureThreads({{thread, stack_base}}, one).front() != 0;
  if (taken) captured = std::move(one.front());
  return taken;
}

std::vector<char> CaptureThreads(const std::vector<ThreadToCapture>& threads, std::vector<CapturedThread>& captured) {
  // Everything that allocates comes before the first thread stops: a thread
  // stopped inside the heap would hold its lock for the rest of the capture.
  captured.assign(threads.size(), CapturedThread{});
  for (CapturedThread& thread : captured) thread.Stack.assign(kMaxScannedStackBytes, 0);
  std::vector<char> taken(threads.size(), 0);
  std::vector<std::uint32_t> copied(threads.size(), 0);
  const auto stopped = std::make_unique<std::optional<SuspendedThread>[]>(threads.size());
  const ProcessMemoryReader memory;
  // All are asked to stop first: each takes a while to stop (under Wine a
  // round trip through the thread's own signal handler), and those waits
  // overlap instead of adding up. They are resumed together too, as the
  // array's elements are destroyed.
  for (std::size_t i = 0; i < threads.size(); ++i) stopped[i].emplace(threads[i].handle);
  for (std::size_t i = 0; i < threads.size(); ++i) {
    taken[i] = stopped[i]->Suspended() &&
               ReadStoppedThread(threads[i].handle, threads[i].stack_base, memory, captured[i], copied[i]);
  }
  for (std::size_t i = 0; i < threads.size(); ++i) stopped[i].reset();
  for (std::size_t i = 0; i < threads.size(); ++i) captured[i].Stack.resize(taken[i] ? copied[i] : 0);
  return taken;
}

void AddThreadStacks(TRuzadaStackList& list, TRuzadaModulesList& modules, TRuzadaThreadsList& threads,
                     const std::function<bool(const TRuzadaThreadRecord&)>& include) {
  const DWORD current = GetCurrentThreadId();
  // Written: the records get their priority.
  ScopedWriteLock guard(threads.Lock());
  std::vector<TRuzadaThreadRecord*> listed;
  std::vector<ThreadToCapture> to_capture;
  for (int i = 0; i < threads.Count(); ++i) {
    TRuzadaThreadRecord& record = *threads.Items(i);
    if (record.ThreadId == current || (include && !include(record))) continue;
    listed.push_back(&record);
    if (record.Handle != nullptr) to_capture.push_back({record.Handle, record.StackBase});
  }
  std::vector<CapturedThread> captured;
  const std::vector<char> taken = CaptureThreads(to_capture, captured);
  std::size_t next = 0;
  for (TRuzadaThreadRecord* record : listed) {
    if (record->Handle != nullptr && taken[next++] != 0) {
      const CapturedThread& thread = captured[next - 1];
      const int priority = GetThreadPriority(record->Handle);
      if (priority != THREAD_PRIORITY_ERROR_RETURN) record->Priority = priority;
      if constexpr (kThisProcessBits == ProcessBits::k64) {
        AddUnwoundStack(list, modules, {thread.Context}, {thread.Stack, win::StackPointer(thread.Context)},
                        thread.StackBase, record->ThreadId);
      } else {
        const std::uint64_t copy = ToAddress(thread.Stack.data());
        AddStack(list, modules, 0, copy, copy + thread.Stack.size(), true, record->ThreadId);
      }
    }
    if (record->CallerStack != nullptr && record->CallerStackSize != 0) {
      const std::uint64_t copy = ToAddress(record->CallerStack);
      AddStack(list, modules, 0, copy, copy + record->CallerStackSize, false, record->CallerThreadId);
    }
  }
}

}  // namespace vellum::exceptlog

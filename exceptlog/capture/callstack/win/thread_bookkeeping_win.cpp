#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <typeinfo>
#include <utility>
#include <vector>

#include "exceptlog/capture/callstack/class_names.h"
#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/capture/hooking/win/method_hooks_win.h"
#include "runtime/exception.h"
#include "runtime/threading/critical_section_win.h"

namespace vellum::exceptlog {

namespace {

// How runtime threads run their Execute: a member function, called with the
// object in ECX.
using ExecuteMethod = void(__attribute__((thiscall)) *)(Thread* self);

struct ThreadStartup {
  LPTHREAD_START_ROUTINE start = nullptr;
  void* parameter = nullptr;
  bool runtime = false;  // started at the runtime thread class's procedure
};

struct HookedClass {
  void* const* table = nullptr;
  void* previous = nullptr;
};

struct HookedClasses {
  CriticalSection lock;
  std::vector<HookedClass> items;
};

HookedClasses& Classes() {
  static HookedClasses classes;
  return classes;
}

ThreadBookkeeping& Settings() {
  static ThreadBookkeeping settings;
  return settings;
}

std::atomic<TRuzadaThreadsList*> active_threads{nullptr};

// Taken from Thread's own declaration, so that a change of the class's
// virtual functions cannot leave a hard-wired slot number behind.
struct ExecuteSlotProbe : Thread {
  static std::size_t Slot() {
    const auto member = &ExecuteSlotProbe::Execute;
    // The C++ ABI's member-function pointer: for a virtual function, 1 plus
    // the byte offset of its slot, then the this-adjustment.
    struct {
      std::intptr_t pointer;
      std::intptr_t adjustment;
    } raw;
    static_assert(sizeof member == sizeof raw);
    std::memcpy(&raw, &member, sizeof raw);
    return static_cast<std::size_t>(raw.pointer - 1) / sizeof(void*);
  }
};

void* const* VirtualTableOf(const Thread* object) {
  return *reinterpret_cast<void* const* const*>(object);
}

void Report(std::exception_ptr error) {
  const ThreadBookkeeping& settings = Settings();
  if (!settings.report_escaped) return;
  try {
    settings.report_escaped(std::move(error));
  } catch (...) {
    // The reporter failing must not replace the exception being reported.
  }
}

void* PreviousExecute(void* const* table);

void __attribute__((thiscall)) HookedExecute(Thread* self) {
  const auto previous = reinterpret_cast<ExecuteMethod>(PreviousExecute(VirtualTableOf(self)));
  try {
    previous(self);
  } catch (...) {
    Report(std::current_exception());
    throw;
  }
}

void* HookAddress() {
  return reinterpret_cast<void*>(&HookedExecute);
}

void* PreviousExecute(void* const* table) {
  {
    HookedClasses& classes = Classes();
    CriticalSectionLock guard(classes.lock);
    for (const HookedClass& hooked : classes.items) {
      if (hooked.table == table) return hooked.previous;
    }
  }
  // Not hooked through this list (it cannot happen while the slot holds the
  // hook): the method hooks' own record knows the previous method.
  return exceptlog::HookVirtualMethod(table, ExecuteSlot(), HookAddress());
}

// Hooks the Execute slot of the object's class, once per class; answers the
// Execute the hook calls on to, nullptr when the class is not hooked.
void* HookExecuteOf(const Thread& object) {
  // A never-started thread whose object is being destroyed runs out with
  // the abstract class's table.
  if (typeid(object) == typeid(Thread)) return nullptr;
  void* const* table = VirtualTableOf(&object);
  HookedClasses& classes = Classes();
  CriticalSectionLock guard(classes.lock);
  void* previous = nullptr;
  try {
    previous = exceptlog::HookVirtualMethod(table, ExecuteSlot(), HookAddress());
  } catch (const Exception&) {
    return nullptr;  // hooking not started: the thread runs unhooked
  }
  if (previous == nullptr || previous == HookAddress()) return nullptr;
  const auto known = std::find_if(classes.items.begin(), classes.items.end(),
                                  [&](const HookedClass& hooked) { return hooked.table == table; });
  if (known != classes.items.end()) {
    known->previous = previous;
  } else {
    classes.items.push_back({table, previous});
  }
  return previous;
}

// The calling thread's used stack, from its stack pointer up, as much as a
// scan would read of it.
std::pair<std::unique_ptr<std::uint8_t[]>, std::uint32_t> CopyOwnStack() {
  const std::uintptr_t position = CurrentStackPointer();
  const std::uintptr_t base = CurrentStackBase();
  const auto size = static_cast<std::uint32_t>(
      base > position ? std::min<std::uintptr_t>(base - position, kMaxScannedStackBytes) : 0);
  auto copy = std::make_unique<std::uint8_t[]>(size);
  std::memcpy(copy.get(), reinterpret_cast<const void*>(static_cast<std::uintptr_t>(position)), size);
  return {std::move(copy), size};
}

void GiveCallerStack(TRuzadaThreadRecord& record, std::pair<std::unique_ptr<std::uint8_t[]>, std::uint32_t>& copy) {
  std::unique_ptr<std::uint8_t[]> old(record.CallerStack);
  record.CallerStack = copy.first.release();
  record.CallerStackSize = copy.second;
  copy.first = std::move(old);  // freed by the caller, outside the lock
  record.CallerThreadId = GetCurrentThreadId();
}

// In the new thread, before its routine: answers whether it stays listed.
bool NoteThreadStarted(const ThreadStartup& startup) {
  TRuzadaThreadsList* threads = active_threads.load();
  if (threads == nullptr) return false;
  ScopedWriteLock guard(threads->Lock());
  const int index = threads->IndexOfThreadId(GetCurrentThreadId());
  if (index < 0) return false;
  TRuzadaThreadRecord& record = *threads->Items(index);
  record.StackBase = CurrentStackBase();
  if (startup.runtime && record.ThreadObject != nullptr) {
    // The class is known only now: CreateThread ran inside the base class's
    // constructor, before the object had its final class.
    if (IsSubsystemThreadClass(*record.ThreadObject)) {
      threads->Delete(index);
      return false;
    }
    record.ExecuteRoutine = HookExecuteOf(*record.ThreadObject);
  }
  return true;
}

DWORD WINAPI WrappedStart(void* parameter) {
  const ThreadStartup startup = *static_cast<const ThreadStartup*>(parameter);
  std::unique_ptr<ThreadStartup>(static_cast<ThreadStartup*>(parameter)).reset();
  bool listed = false;
  try {
    listed = NoteThreadStarted(startup);
  } catch (...) {
    // No memory for the bookkeeping: the thread still runs its routine.
  }
  DWORD result = 0;
  if (startup.runtime) {
    // The runtime's thread procedure keeps whatever escapes Execute; the
    // hooked Execute has reported it by then.
    result = startup.start(startup.parameter);
  } else {
    try {
      result = startup.start(startup.parameter);
    } catch (...) {
      Report(std::current_exception());
      // Nothing above this frame catches: the exception ends the thread as
      // any uncaught one does, through the terminate handler. (Thrown on, a
      // 64-bit program's exception would reach the system unhandled and end
      // the whole process.)
      std::terminate();
    }
  }
  // The routine returned instead of calling ExitThread.
  if (TRuzadaThreadsList* threads = active_threads.load(); listed && threads != nullptr) threads->DeleteCurrent();
  return result;
}

}  // namespace

ThreadBookkeeping SetThreadBookkeeping(ThreadBookkeeping settings) {
  active_threads.store(nullptr);
  ThreadBookkeeping previous = std::exchange(Settings(), std::move(settings));
  active_threads.store(Settings().threads);
  return previous;
}

bool ThreadBookkeepingActive() {
  return active_threads.load() != nullptr;
}

bool IsSubsystemThreadClass(const Thread& thread) {
  return ClassOrAncestorNamed(typeid(thread),
                              {"TExceptionThread", "TFreezeThread", "TSendDialogThread", "TSendThread"});
}

std::size_t ExecuteSlot() {
  static const std::size_t slot = ExecuteSlotProbe::Slot();
  return slot;
}

DWORD ResumeThreadDirectly(HANDLE thread) {
  static const auto resume = reinterpret_cast<ResumeThreadProcedure>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ResumeThread")));
  return resume(thread);
}

std::uintptr_t CurrentStackBase() {
  // NT_TIB.StackBase: FS:4 in a 32-bit thread, GS:8 in a 64-bit one. (The
  // headers' own readers trip the compiler's array-bounds check.)
  std::uintptr_t base;
#if defined(__x86_64__)
  asm volatile("movq %%gs:8, %0" : "=r"(base));
#else
  asm volatile("movl %%fs:4, %0" : "=r"(base));
#endif
  return base;
}

std::uintptr_t CurrentStackPointer() {
  std::uintptr_t position;
#if defined(__x86_64__)
  asm volatile("movq %%rsp, %0" : "=r"(position));
#else
  asm volatile("movl %%esp, %0" : "=r"(position));
#endif
  return position;
}

HANDLE BookkeptCreateThread(CreateThreadProcedure previous, LPSECURITY_ATTRIBUTES security, SIZE_T stack_size,
                            LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD thread_id) {
  TRuzadaThreadsList* threads = active_threads.load();
  if (threads == nullptr || start == nullptr) return previous(security, stack_size, start, parameter, flags, thread_id);
  const bool runtime = start == Thread::StartRoutine();
  auto startup = std::make_unique<ThreadStartup>(ThreadStartup{start, parameter, runtime});
  DWORD id = 0;
  HANDLE handle = previous(security, stack_size, &WrappedStart, startup.get(), flags | CREATE_SUSPENDED, &id);
  if (handle == nullptr) return nullptr;
  startup.release();  // the new thread's wrapper frees it

  try {
    ThreadRecordPtr record = NewThreadRecord();
    record->ThreadId = id;
    record->Handle = DuplicateThreadHandle(handle);
    record->ThreadParameter = parameter;
    if (runtime) {
      record->ThreadObject = Thread::FromStartParameter(parameter);
      record->ThreadFunction = start;
    } else {
      record->StartRoutine = start;
    }
    // Whoever creates a thread is the first to let it run.
    auto creator_stack = CopyOwnStack();
    GiveCallerStack(*record, creator_stack);
    threads->Add(std::move(record));
  } catch (...) {
    // No memory for the record: the thread runs unlisted.
  }
  if (thread_id != nullptr) *thread_id = id;
  // Only a caller that asked for a suspended thread resumes it itself; other
  // flags (a stack reservation size) say nothing about that. The creation
  // has recorded the caller already.
  if ((flags & CREATE_SUSPENDED) == 0) ResumeThreadDirectly(handle);
  return handle;
}

DWORD BookkeptResumeThread(ResumeThreadProcedure previous, HANDLE thread) {
  TRuzadaThreadsList* threads = active_threads.load();
  const ThreadBookkeeping& settings = Settings();
  if (threads != nullptr && !(settings.inside_pipeline && settings.inside_pipeline())) {
    try {
      auto copy = CopyOwnStack();
      ScopedWriteLock guard(threads->Lock());
      const int index = threads->IndexOfHandle(thread);
      if (index >= 0) GiveCallerStack(*threads->Items(index), copy);
    } catch (...) {
      // Without memory for the copy the thread is resumed all the same.
    }
  }
  return previous(thread);
}

void BookkeptExitThread(ExitThreadProcedure previous, DWORD exit_code) {
  if (TRuzadaThreadsList* threads = active_threads.load()) {
    try {
      threads->DeleteCurrent();
    } catch (...) {
    }
  }
  previous(exit_code);
  __builtin_unreachable();
}

}  // namespace vellum::exceptlog

#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "exceptlog/capture/callstack/testing/win/module_test_support_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/hooking/win/hooking_win.h"
#include "exceptlog/capture/hooking/win/import_hooks_win.h"
#include "runtime/exception.h"
#include "runtime/win/unique_handle_win.h"

// The subsystem's own thread classes live in a later layer; these stand-ins
// carry the names the bookkeeping recognises.
namespace later_layer {
class TSendThread : public vellum::Thread {
 protected:
  void Execute() override { ran = true; }

 public:
  ~TSendThread() override { TerminateAndWait(); }
  std::atomic<bool> ran{false};
  bool listed_while_running = true;
};
class TCustomSendThread : public TSendThread {};
}  // namespace later_layer

namespace vellum::exceptlog {
namespace {

using testing::AddressOf;

CreateThreadProcedure real_create = nullptr;
ResumeThreadProcedure real_resume = nullptr;
ExitThreadProcedure real_exit = nullptr;

HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                 LPVOID parameter, DWORD flags, LPDWORD id) {
  return BookkeptCreateThread(real_create, security, stack, start, parameter, flags, id);
}
DWORD WINAPI HookedResumeThread(HANDLE thread) {
  return BookkeptResumeThread(real_resume, thread);
}
void WINAPI HookedExitThread(DWORD code) {
  BookkeptExitThread(real_exit, code);
}

// A copy of the record of `id`, taken under the lock, owning nothing;
// nullopt when there is none.
std::optional<TRuzadaThreadRecord> CopyOfRecord(TRuzadaThreadsList& threads, DWORD id) {
  ScopedReadLock guard(threads.Lock());
  const int index = threads.IndexOfThreadId(id);
  if (index < 0) return std::nullopt;
  TRuzadaThreadRecord copy = *threads.Items(index);
  copy.Handle = nullptr;
  copy.CallerStack = nullptr;
  return copy;
}

template <typename Procedure>
Procedure KernelProcedure(const char* name) {
  return reinterpret_cast<Procedure>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

template <typename Procedure>
void* AsPointer(Procedure procedure) {
  return reinterpret_cast<void*>(procedure);
}

// The program's own imports of the three procedures are hooked, as the
// exception manager hooks them in the runtime's module.
class ThreadBookkeepingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exceptlog::StartHooking();
    real_create = KernelProcedure<CreateThreadProcedure>("CreateThread");
    real_resume = KernelProcedure<ResumeThreadProcedure>("ResumeThread");
    real_exit = KernelProcedure<ExitThreadProcedure>("ExitThread");
    HMODULE program = GetModuleHandleA(nullptr);
    ASSERT_NE(exceptlog::HookImport(program, "kernel32.dll", AsPointer(real_create), false, false, "CreateThread",
                                    AsPointer(&HookedCreateThread)),
              nullptr);
    ASSERT_NE(exceptlog::HookImport(program, "kernel32.dll", AsPointer(real_resume), false, false, "ResumeThread",
                                    AsPointer(&HookedResumeThread)),
              nullptr);
    ASSERT_NE(exceptlog::HookImport(program, "kernel32.dll", AsPointer(real_exit), false, false, "ExitThread",
                                    AsPointer(&HookedExitThread)),
              nullptr);
    ThreadBookkeeping settings;
    settings.threads = &threads_;
    settings.inside_pipeline = [this] { return inside_pipeline_.load(); };
    settings.report_escaped = [this](std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        reported_.push_back(e.what());
      }
    };
    SetThreadBookkeeping(std::move(settings));
  }
  void TearDown() override {
    SetThreadBookkeeping({});
    exceptlog::StopHooking();
  }

  std::optional<TRuzadaThreadRecord> RecordOf(DWORD id) { return CopyOfRecord(threads_, id); }

  TRuzadaThreadsList threads_;
  std::atomic<bool> inside_pipeline_{false};
  std::vector<std::string> reported_;
};

// A runtime thread that looks at its own record while it runs.
class ProbeThread : public Thread {
 public:
  explicit ProbeThread(TRuzadaThreadsList* threads) : threads_(threads) {}
  ~ProbeThread() override { TerminateAndWait(); }
  std::optional<TRuzadaThreadRecord> seen;
  std::uintptr_t stack_base = 0;
  void* slot_while_running = nullptr;

 protected:
  void Execute() override {
    stack_base = CurrentStackBase();
    slot_while_running = (*reinterpret_cast<void* const* const*>(this))[ExecuteSlot()];
    ScopedReadLock guard(threads_->Lock());
    const int index = threads_->IndexOfObject(this);
    if (index >= 0) {
      seen = *threads_->Items(index);
      seen->Handle = nullptr;
      seen->CallerStack = nullptr;
    }
  }

 private:
  TRuzadaThreadsList* threads_;
};

class ThrowingThread : public Thread {
 public:
  ~ThrowingThread() override { TerminateAndWait(); }

 protected:
  void Execute() override { throw EConvertError("escaped from Execute"); }
};

void* const* VirtualTable(const Thread& thread) {
  return *reinterpret_cast<void* const* const*>(&thread);
}

TEST_F(ThreadBookkeepingTest, ExecuteSlotIsTakenFromTheClassDeclaration) {
  EXPECT_EQ(ExecuteSlot(), 2u) << "after the two destructor slots of the C++ ABI";
}

TEST_F(ThreadBookkeepingTest, RuntimeThreadIsListedWithItsObjectAndItsClassHookedOnce) {
  auto first = std::make_unique<ProbeThread>(&threads_);
  const auto created = RecordOf(first->ThreadID());
  ASSERT_TRUE(created) << "listed from its creation";
  EXPECT_EQ(created->ThreadObject, first.get());
  EXPECT_EQ(created->ThreadFunction, Thread::StartRoutine());
  EXPECT_EQ(created->ThreadParameter, first.get());
  EXPECT_EQ(created->CallerThreadId, GetCurrentThreadId());
  EXPECT_EQ(created->StackBase, 0u) << "not running yet";
  void* const original_execute = VirtualTable(*first)[ExecuteSlot()];

  first->Start();
  first->WaitFor();
  ASSERT_TRUE(first->seen);
  EXPECT_EQ(first->seen->StackBase, first->stack_base);
  EXPECT_EQ(first->seen->ExecuteRoutine, original_execute);
  EXPECT_NE(first->slot_while_running, original_execute) << "Execute ran through the hook";
  EXPECT_FALSE(RecordOf(first->ThreadID())) << "removed when its routine returned";

  auto second = std::make_unique<ProbeThread>(&threads_);
  second->Start();
  second->WaitFor();
  ASSERT_TRUE(second->seen);
  EXPECT_EQ(second->seen->ExecuteRoutine, original_execute) << "the class was hooked once";
  EXPECT_EQ(second->stack_base, second->seen->StackBase);
}

TEST_F(ThreadBookkeepingTest, ExceptionEscapingExecuteIsReportedAndStillKeptByTheThread) {
  ThrowingThread thread;
  thread.Start();
  thread.WaitFor();
  ASSERT_EQ(reported_, std::vector<std::string>{"escaped from Execute"});
  EXPECT_NE(thread.FatalException(), nullptr);
}

TEST_F(ThreadBookkeepingTest, SubsystemThreadClassesAreNeitherListedNorHooked) {
  later_layer::TSendThread own;
  later_layer::TCustomSendThread derived;
  void* const slot = VirtualTable(own)[ExecuteSlot()];
  own.Start();
  derived.Start();
  own.WaitFor();
  derived.WaitFor();
  EXPECT_TRUE(own.ran);
  EXPECT_TRUE(derived.ran);
  EXPECT_EQ(VirtualTable(own)[ExecuteSlot()], slot);
  EXPECT_FALSE(RecordOf(own.ThreadID()));
  EXPECT_FALSE(RecordOf(derived.ThreadID()));
  EXPECT_EQ(threads_.IndexOfObject(&own), -1);
}

struct PlainResult {
  explicit PlainResult(TRuzadaThreadsList& list) : threads(&list) {}
  TRuzadaThreadsList* threads;
  std::uintptr_t stack_base = 0;
  std::optional<TRuzadaThreadRecord> seen;
};

DWORD WINAPI PlainRoutine(void* parameter) {
  auto& result = *static_cast<PlainResult*>(parameter);
  result.stack_base = CurrentStackBase();
  result.seen = CopyOfRecord(*result.threads, GetCurrentThreadId());
  return 5;
}

DWORD WINAPI ExitingRoutine(void*) {
  ExitThread(3);
}

using PlainThreads = ThreadBookkeepingTest;

TEST_F(PlainThreads, AreListedWithTheirStackAndRemovedOnReturnOrExit) {
  PlainResult result(threads_);
  DWORD id = 0;
  win::UniqueKernelHandle thread(CreateThread(nullptr, 0, &PlainRoutine, &result, 0, &id));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread.get(), &code);
  EXPECT_EQ(code, 5u);
  ASSERT_TRUE(result.seen);
  EXPECT_EQ(result.seen->ThreadId, id);
  EXPECT_EQ(result.seen->StartRoutine, &PlainRoutine);
  EXPECT_EQ(result.seen->ThreadParameter, &result);
  EXPECT_EQ(result.seen->ThreadObject, nullptr);
  EXPECT_EQ(result.seen->StackBase, result.stack_base);
  EXPECT_FALSE(RecordOf(id));

  win::UniqueKernelHandle exiting(CreateThread(nullptr, 0, &ExitingRoutine, nullptr, 0, &id));
  ASSERT_EQ(WaitForSingleObject(exiting.get(), 10000), WAIT_OBJECT_0);
  GetExitCodeThread(exiting.get(), &code);
  EXPECT_EQ(code, 3u);
  EXPECT_FALSE(RecordOf(id)) << "ExitThread removed it";
  EXPECT_EQ(threads_.Count(), 0);
}

DWORD WINAPI Resumer(void* thread) {
  ResumeThread(static_cast<HANDLE>(thread));
  return 0;
}

TEST_F(PlainThreads, CreationFlagsAndResumesRecordTheCaller) {
  PlainResult result(threads_);
  // A stack reservation alone is no request to stay suspended.
  win::UniqueKernelHandle reserved(
      CreateThread(nullptr, 1 << 20, &PlainRoutine, &result, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  ASSERT_EQ(WaitForSingleObject(reserved.get(), 10000), WAIT_OBJECT_0);

  PlainResult suspended_result(threads_);
  DWORD id = 0;
  win::UniqueKernelHandle suspended(CreateThread(nullptr, 0, &PlainRoutine, &suspended_result, CREATE_SUSPENDED, &id));
  EXPECT_EQ(WaitForSingleObject(suspended.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(RecordOf(id));
  EXPECT_EQ(RecordOf(id)->CallerThreadId, GetCurrentThreadId()) << "the creator";
  EXPECT_GT(RecordOf(id)->CallerStackSize, 0u);

  // A report's own resume records nothing.
  inside_pipeline_ = true;
  SuspendThread(suspended.get());
  DWORD resumer_id = 0;
  win::UniqueKernelHandle resumer(CreateThread(nullptr, 0, &Resumer, suspended.get(), 0, &resumer_id));
  WaitForSingleObject(resumer.get(), INFINITE);
  EXPECT_EQ(RecordOf(id)->CallerThreadId, GetCurrentThreadId());
  inside_pipeline_ = false;

  // Another thread resumes it: that thread is its caller now.
  resumer.reset(CreateThread(nullptr, 0, &Resumer, suspended.get(), 0, &resumer_id));
  WaitForSingleObject(resumer.get(), INFINITE);
  ASSERT_EQ(WaitForSingleObject(suspended.get(), 10000), WAIT_OBJECT_0);
  ASSERT_TRUE(suspended_result.seen);
  EXPECT_EQ(suspended_result.seen->CallerThreadId, resumer_id);
}

// A plain thread parked inside the probe's call chain, for the stacks of
// other threads.
HANDLE park_event = nullptr;
HANDLE parked_event = nullptr;
void ParkHere() {
  SetEvent(parked_event);
  WaitForSingleObject(park_event, INFINITE);
}
DWORD WINAPI ParkInChain(void* chain) {
  reinterpret_cast<void(__cdecl*)(void (*)())>(chain)(&ParkHere);
  return 0;
}

TEST_F(ThreadBookkeepingTest, StacksOfOtherThreadsAndTheirCallersAreScanned) {
  win::UniqueModule probe(LoadLibraryA("callstack_probe.dll"));
  ASSERT_TRUE(probe);
  win::UniqueKernelHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  win::UniqueKernelHandle parked_signal(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  park_event = event.get();
  parked_event = parked_signal.get();
  DWORD id = 0;
  win::UniqueKernelHandle parked(CreateThread(
      nullptr, 0, &ParkInChain, reinterpret_cast<void*>(GetProcAddress(probe.get(), "ChainOuter")), 0, &id));
  ASSERT_TRUE(parked);
  ASSERT_EQ(WaitForSingleObject(parked_signal.get(), 10000), WAIT_OBJECT_0) << "inside the chain";

  inside_pipeline_ = true;
  TRuzadaThreadsList snapshot(threads_);
  TRuzadaModulesList modules;
  TRuzadaStackList list;
  AddThreadStacks(list, modules, snapshot);
  inside_pipeline_ = false;
  SetEvent(event.get());
  WaitForSingleObject(parked.get(), INFINITE);

  std::vector<std::string> live_names;
  bool caller_entries = false;
  for (const TRuzadaDebugInfo& entry : list.Entries()) {
    if (entry.ThreadId == id && entry.FromLiveStack == 1 && entry.Named() &&
        entry.Module->Handle == AddressOf(probe.get()) &&
        (live_names.empty() || live_names.back() != entry.ProcedureName)) {
      live_names.push_back(entry.ProcedureName);
    }
    if (entry.ThreadId == GetCurrentThreadId() && entry.FromLiveStack == 0 && entry.Module &&
        entry.Module->Handle == AddressOf(GetModuleHandleA(nullptr))) {
      caller_entries = true;
    }
  }
  EXPECT_EQ(live_names, (std::vector<std::string>{"ChainInner", "ChainMiddle", "ChainOuter"}));
  EXPECT_TRUE(caller_entries) << "the creator's stack, attributed to the creator";
  ASSERT_EQ(snapshot.Count(), 1);
  EXPECT_NE(snapshot.Items(0)->Priority, kNoPriority);
}

}  // namespace
}  // namespace vellum::exceptlog

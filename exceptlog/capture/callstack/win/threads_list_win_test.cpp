#include "exceptlog/capture/callstack/win/threads_list_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {
namespace {

DWORD WINAPI WaitForEvent(void* event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 0;
}

// A thread that waits for its event; ended by the destructor.
class ParkedThread {
 public:
  ParkedThread() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    thread_.reset(CreateThread(nullptr, 0, &WaitForEvent, event_.get(), 0, &id_));
  }
  ~ParkedThread() { End(); }
  void End() {
    SetEvent(event_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
  }
  HANDLE Handle() const { return thread_.get(); }
  DWORD Id() const { return id_; }

 private:
  win::UniqueKernelHandle event_;
  win::UniqueKernelHandle thread_;
  DWORD id_ = 0;
};

ThreadRecordPtr RecordOf(DWORD id, HANDLE handle, Thread* object = nullptr) {
  ThreadRecordPtr record = NewThreadRecord();
  record->ThreadId = id;
  record->Handle = handle != nullptr ? DuplicateThreadHandle(handle) : nullptr;
  record->ThreadObject = object;
  return record;
}

TEST(ThreadsList, RecordStartsEmptyWithNoPriority) {
  const ThreadRecordPtr record = NewThreadRecord();
  EXPECT_EQ(record->Priority, static_cast<LONG>(0x80000000));
  EXPECT_EQ(record->CallerStack, nullptr);
  EXPECT_EQ(record->ThreadObject, nullptr);
}

TEST(ThreadsList, LookupsSearchFromTheEnd) {
  TRuzadaThreadsList list;
  ParkedThread first;
  ParkedThread second;
  auto* object = reinterpret_cast<Thread*>(0x1000);
  list.Add(RecordOf(first.Id(), first.Handle(), object));
  list.Add(RecordOf(second.Id(), second.Handle()));
  list.Add(RecordOf(first.Id(), first.Handle(), object));
  EXPECT_EQ(list.IndexOfThreadId(first.Id()), 2);
  EXPECT_EQ(list.IndexOfThreadId(second.Id()), 1);
  EXPECT_EQ(list.IndexOfThreadId(1), -1);
  EXPECT_EQ(list.IndexOfObject(object), 2);
  EXPECT_EQ(list.IndexOfHandle(second.Handle()), 1) << "the caller's handle finds the record's own duplicate";
  EXPECT_EQ(list.IndexOfHandle(list.Items(0)->Handle), 2) << "the same thread again, later in the list";
  list.Delete(2);
  EXPECT_EQ(list.IndexOfObject(object), 0);
}

TEST(ThreadsList, DeleteCurrentRemovesOnlyTheCallingThreadsLastRecord) {
  TRuzadaThreadsList list;
  ParkedThread other;
  list.Add(RecordOf(GetCurrentThreadId(), GetCurrentThread()));
  list.Add(RecordOf(other.Id(), other.Handle()));
  list.Add(RecordOf(GetCurrentThreadId(), GetCurrentThread()));
  EXPECT_TRUE(list.DeleteCurrent());
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(1)->ThreadId, other.Id());
  EXPECT_TRUE(list.DeleteCurrent());
  EXPECT_FALSE(list.DeleteCurrent());
  EXPECT_EQ(list.Count(), 1);
}

TEST(ThreadsList, PurgeDropsEndedThreadsAndInvalidHandles) {
  TRuzadaThreadsList list;
  ParkedThread running;
  ParkedThread ended;
  list.Add(RecordOf(running.Id(), running.Handle()));
  list.Add(RecordOf(ended.Id(), ended.Handle()));
  list.Add(RecordOf(12345, nullptr));
  ended.End();
  list.Purge();
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->ThreadId, running.Id());
}

TEST(ThreadsList, SnapshotOwnsItsCopiesAndOutlivesTheSource) {
  auto source = std::make_unique<TRuzadaThreadsList>();
  ParkedThread thread;
  TRuzadaThreadRecord* original = source->Add(RecordOf(thread.Id(), thread.Handle()));
  const std::uint8_t stack[] = {1, 2, 3, 4, 5};
  SetCallerStack(*original, stack, sizeof stack);
  original->CallerThreadId = 99;

  TRuzadaThreadsList snapshot(*source);
  ASSERT_EQ(snapshot.Count(), 1);
  const TRuzadaThreadRecord& copy = *snapshot.Items(0);
  EXPECT_EQ(copy.ThreadId, thread.Id());
  EXPECT_EQ(copy.CallerThreadId, 99u);
  EXPECT_NE(copy.Handle, original->Handle);
  EXPECT_NE(copy.CallerStack, original->CallerStack);
  source.reset();  // the thread's records leave the source; the snapshot keeps its own
  ASSERT_EQ(copy.CallerStackSize, sizeof stack);
  EXPECT_EQ(std::vector<std::uint8_t>(copy.CallerStack, copy.CallerStack + copy.CallerStackSize),
            std::vector<std::uint8_t>(stack, stack + sizeof stack));
  EXPECT_EQ(GetThreadId(copy.Handle), thread.Id());
}

}  // namespace
}  // namespace vellum::exceptlog

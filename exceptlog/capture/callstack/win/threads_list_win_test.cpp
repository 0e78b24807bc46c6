#include "exceptlog/capture/callstack/win/threads_list_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

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

bool HandleOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(ThreadsList, SnapshotCopiesRecordsAndKeepsTheirHandlesOpenWhileItLives) {
  auto source = std::make_unique<TRuzadaThreadsList>();
  ParkedThread thread;
  ParkedThread leaving;
  TRuzadaThreadRecord* original = source->Add(RecordOf(thread.Id(), thread.Handle()));
  const std::uint8_t stack[] = {1, 2, 3, 4, 5};
  SetCallerStack(*original, stack, sizeof stack);
  original->CallerThreadId = 99;
  source->Add(RecordOf(leaving.Id(), leaving.Handle()));

  auto snapshot = std::make_unique<TRuzadaThreadsList>(*source);
  ASSERT_EQ(snapshot->Count(), 2);
  const TRuzadaThreadRecord& copy = *snapshot->Items(0);
  const HANDLE kept = copy.Handle;
  const HANDLE left = snapshot->Items(1)->Handle;
  EXPECT_EQ(copy.ThreadId, thread.Id());
  EXPECT_EQ(copy.CallerThreadId, 99u);
  EXPECT_NE(copy.CallerStack, original->CallerStack);

  // A record that leaves the source (its thread ended) leaves its handle to
  // the snapshot; a record that comes and goes after it closes its own.
  source->Delete(1);
  EXPECT_TRUE(HandleOpen(left));
  TRuzadaThreadRecord* late = source->Add(RecordOf(leaving.Id(), leaving.Handle()));
  const HANDLE late_handle = late->Handle;
  source.reset();  // the source goes first: the snapshot keeps its records and handles
  ASSERT_EQ(copy.CallerStackSize, sizeof stack);
  EXPECT_EQ(std::vector<std::uint8_t>(copy.CallerStack, copy.CallerStack + copy.CallerStackSize),
            std::vector<std::uint8_t>(stack, stack + sizeof stack));
  EXPECT_EQ(GetThreadId(kept), thread.Id());
  EXPECT_EQ(GetThreadId(left), leaving.Id());

  snapshot.reset();
  EXPECT_FALSE(HandleOpen(kept)) << "closed with the last user";
  EXPECT_FALSE(HandleOpen(left));
  EXPECT_FALSE(HandleOpen(late_handle));
}

TEST(ThreadsList, HandlesCloseAsRecordsLeaveWhenNoSnapshotIsTaken) {
  TRuzadaThreadsList list;
  ParkedThread first;
  ParkedThread second;
  const HANDLE deleted = list.Add(RecordOf(first.Id(), first.Handle()))->Handle;
  const HANDLE purged = list.Add(RecordOf(second.Id(), second.Handle()))->Handle;
  {
    const TRuzadaThreadsList over(list);  // taken and gone: nothing stays shelved
  }
  EXPECT_TRUE(HandleOpen(deleted));
  list.Delete(0);
  EXPECT_FALSE(HandleOpen(deleted));
  second.End();
  {
    // Two snapshots at once: the handle stays open until both are gone.
    auto one = std::make_unique<TRuzadaThreadsList>(list);
    auto two = std::make_unique<TRuzadaThreadsList>(list);
    list.Purge();
    ASSERT_EQ(list.Count(), 0);
    one.reset();
    EXPECT_TRUE(HandleOpen(purged));
    EXPECT_EQ(two->Items(0)->Handle, purged);
  }
  EXPECT_FALSE(HandleOpen(purged));
}

}  // namespace
}  // namespace vellum::exceptlog

// The threads the subsystem knows about: every thread created, resumed or
// ended through the thread hooks, with what a report needs to list its call
// stack - its handle, its stack base, the thread object of a runtime thread,
// and a copy of the stack of the thread that last resumed it.
//
// The hooks of all threads write the list; the pipeline reads it (copying it
// into a snapshot). A multi-reader, single-writer lock guards it.
#pragma once

#include <windows.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/threading/critical_section_win.h"
#include "runtime/threading/multi_read_exclusive_write_sync_win.h"
#include "runtime/threading/thread_win.h"

namespace vellum::exceptlog {

inline constexpr LONG kNoPriority = LONG_MIN;  // 0x80000000: not read

struct TRuzadaThreadRecord {
  DWORD ThreadId = 0;
  // A duplicate owned by the record: the creator may close its own handle
  // long before the thread ends.
  HANDLE Handle = nullptr;
  DWORD CallerThreadId = 0;  // the thread that last resumed this one
  LONG Priority = kNoPriority;
  Thread* ThreadObject = nullptr;                   // runtime threads only
  std::uintptr_t StackBase = 0;                     // set when the thread starts running
  void* ExecuteRoutine = nullptr;                   // the Execute the class's hook calls on to
  LPTHREAD_START_ROUTINE ThreadFunction = nullptr;  // runtime threads: routine...
  void* ThreadParameter = nullptr;                  // ...and its parameter
  LPTHREAD_START_ROUTINE StartRoutine = nullptr;    // plain threads
  std::uint32_t CallerStackSize = 0;
  std::uint8_t* CallerStack = nullptr;  // owned by the record
};
static_assert(sizeof(void*) != 4 || sizeof(TRuzadaThreadRecord) == 48,
              "the thread record keeps its 48-byte layout in the 32-bit process");

// Frees what a record owns: its handle and its caller-stack copy.
struct ThreadRecordDeleter {
  void operator()(TRuzadaThreadRecord* record) const;
};
using ThreadRecordPtr = std::unique_ptr<TRuzadaThreadRecord, ThreadRecordDeleter>;

// A record with no thread yet; Handle and CallerStack become the record's.
ThreadRecordPtr NewThreadRecord();
// A handle to `thread` with the rights a report needs (suspend and resume,
// context, information), or nullptr.
HANDLE DuplicateThreadHandle(HANDLE thread);
// Gives `record` a copy of `size` bytes at `stack` as its caller stack.
void SetCallerStack(TRuzadaThreadRecord& record, const void* stack, std::uint32_t size);

// The handles of records that left a list while a snapshot of it still uses
// them: closed when the last snapshot taken before is gone.
class HandleShelf {
 public:
  HandleShelf() = default;
  ~HandleShelf();
  HandleShelf(const HandleShelf&) = delete;
  HandleShelf& operator=(const HandleShelf&) = delete;

  void BeginBorrow();
  void EndBorrow();
  // Closes `handle`, or keeps it open while a snapshot may use it.
  void Release(HANDLE handle);

 private:
  CriticalSection lock_;
  int borrowers_ = 0;
  std::vector<HANDLE> shelved_;
};

class TRuzadaThreadsList {
 public:
  TRuzadaThreadsList() = default;
  // The snapshot: a copy of every record of `source`, taken under its read
  // lock. The records' handles are the source's own, kept open while the
  // snapshot lives (duplicating and closing them cost two calls to Wine's
  // server each, per report); caller stacks are copied. So the snapshot stays
  // valid while threads end and leave the source, and after the source.
  explicit TRuzadaThreadsList(TRuzadaThreadsList& source);
  ~TRuzadaThreadsList();
  TRuzadaThreadsList(const TRuzadaThreadsList&) = delete;
  TRuzadaThreadsList& operator=(const TRuzadaThreadsList&) = delete;

  void BeginRead() { lock_.BeginRead(); }
  void EndRead() { lock_.EndRead(); }
  bool BeginWrite() { return lock_.BeginWrite(); }
  void EndWrite() { lock_.EndWrite(); }
  MultiReadExclusiveWriteSync& Lock() { return lock_; }

  // Count and Items belong inside BeginRead/EndRead (or a write): a record
  // may be deleted by its thread's exit at any other time.
  int Count() const { return static_cast<int>(items_.size()); }
  TRuzadaThreadRecord* Items(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }

  TRuzadaThreadRecord* Add(ThreadRecordPtr record);
  // A new empty record, added.
  TRuzadaThreadRecord* NewRecord();
  void Delete(int index);
  // Removes the calling thread's record; false when it has none.
  bool DeleteCurrent();
  // Last index first; -1 when none. IndexOfHandle also finds the record of
  // the thread `handle` stands for, since records hold their own handles.
  int IndexOfThreadId(DWORD thread_id);
  int IndexOfHandle(HANDLE handle);
  int IndexOfObject(const Thread* object);
  // Deletes the records whose handle is no longer valid or whose thread has
  // ended without leaving the list.
  void Purge();

 private:
  // Gives up the record's handle: a snapshot's borrowed one is left alone,
  // a list's own goes to its shelf.
  void ReleaseHandle(TRuzadaThreadRecord& record);

  MultiReadExclusiveWriteSync lock_;
  std::vector<ThreadRecordPtr> items_;
  std::shared_ptr<HandleShelf> shelf_ = std::make_shared<HandleShelf>();
  // A snapshot's: the shelf of the list its handles belong to.
  std::shared_ptr<HandleShelf> borrowed_from_;
};

}  // namespace vellum::exceptlog

// A multi-reader, single-writer lock for lists that many threads read and few
// change (the exception subsystem's thread list).
//
// It is taken while a crash report is being built, possibly in a process
// whose heap is damaged, so the lock paths never allocate: the wait events
// exist from construction and readers are tracked in a fixed table.
//
// Rules: readers share, a writer is alone. A thread may nest reads and nest
// writes, may read while it writes, and may ask to write while it reads (its
// reads step aside while it waits, so two such threads cannot wait for each
// other forever; BeginWrite then answers false when another writer got in
// first and what was read may have changed). Waiting writers hold back new
// readers, except threads that already read (which would otherwise deadlock).
#pragma once

#include <windows.h>

#include "runtime/threading/critical_section_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum {

class MultiReadExclusiveWriteSync {
 public:
  // Threads that hold read locks at the same time beyond this count are
  // still admitted, but without the nesting bookkeeping: they do not yield
  // to waiting writers, and one of them must not ask to write while reading.
  static constexpr int kTrackedReaders = 64;

  MultiReadExclusiveWriteSync();
  ~MultiReadExclusiveWriteSync() = default;
  MultiReadExclusiveWriteSync(const MultiReadExclusiveWriteSync&) = delete;
  MultiReadExclusiveWriteSync& operator=(const MultiReadExclusiveWriteSync&) = delete;

  void BeginRead();
  void EndRead();
  // True when no other thread wrote between the call and getting the lock.
  bool BeginWrite();
  void EndWrite();

  // The thread that writes now, 0 when none, and how many threads wait to
  // write or to read (for diagnostics and tests).
  DWORD WriterThreadId();
  int WaitingWriters();
  int WaitingReaders();

 private:
  struct ReaderSlot {
    DWORD thread_id = 0;  // 0 marks a free slot: no thread has that id
    int count = 0;
  };

  ReaderSlot* FindSlot(DWORD thread_id);
  void UpdateEvents();
  static void SetState(HANDLE event, bool signalled, bool& current);

  CriticalSection state_lock_;
  win::UniqueKernelHandle writer_free_;        // signalled while nobody writes
  win::UniqueKernelHandle readers_may_enter_;  // ...and no writer waits
  win::UniqueKernelHandle no_readers_;         // signalled while nobody reads
  bool writer_free_set_ = true;
  bool readers_may_enter_set_ = true;
  bool no_readers_set_ = true;

  int active_readers_ = 0;
  int untracked_readers_ = 0;
  int waiting_writers_ = 0;
  int waiting_readers_ = 0;
  DWORD writer_thread_ = 0;
  int write_depth_ = 0;
  unsigned write_sequence_ = 0;
  ReaderSlot slots_[kTrackedReaders];
};

class ScopedReadLock {
 public:
  explicit ScopedReadLock(MultiReadExclusiveWriteSync& sync) : sync_(sync) { sync_.BeginRead(); }
  ~ScopedReadLock() { sync_.EndRead(); }
  ScopedReadLock(const ScopedReadLock&) = delete;
  ScopedReadLock& operator=(const ScopedReadLock&) = delete;

 private:
  MultiReadExclusiveWriteSync& sync_;
};

class ScopedWriteLock {
 public:
  explicit ScopedWriteLock(MultiReadExclusiveWriteSync& sync) : sync_(sync), undisturbed_(sync_.BeginWrite()) {}
  ~ScopedWriteLock() { sync_.EndWrite(); }
  ScopedWriteLock(const ScopedWriteLock&) = delete;
  ScopedWriteLock& operator=(const ScopedWriteLock&) = delete;
  // What BeginWrite answered.
  bool Undisturbed() const { return undisturbed_; }

 private:
  MultiReadExclusiveWriteSync& sync_;
  bool undisturbed_;
};

}  // namespace vellum

#include "runtime/threading/multi_read_exclusive_write_sync_win.h"

#include "runtime/exception.h"
#include "runtime/win/win_error_win.h"

namespace vellum {

namespace {

win::UniqueKernelHandle NewSignalledEvent() {
  win::UniqueKernelHandle event(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  if (!event) win::RaiseLastOSError("CreateEventA");
  return event;
}

}  // namespace

MultiReadExclusiveWriteSync::MultiReadExclusiveWriteSync()
    : writer_free_(NewSignalledEvent()), readers_may_enter_(NewSignalledEvent()), no_readers_(NewSignalledEvent()) {}

MultiReadExclusiveWriteSync::ReaderSlot* MultiReadExclusiveWriteSync::FindSlot(DWORD thread_id) {
  for (ReaderSlot& slot : slots_) {
    if (slot.thread_id == thread_id) return &slot;
  }
  return nullptr;
}

void MultiReadExclusiveWriteSync::SetState(HANDLE event, bool signalled, bool& current) {
  if (signalled == current) return;
  if (signalled) {
    SetEvent(event);
  } else {
    ResetEvent(event);
  }
  current = signalled;
}

// Called with the state lock held after every change, so that each event
// tells the truth whenever the lock is free; a waiter that saw the old state
// and has not yet waited then finds the event already set.
void MultiReadExclusiveWriteSync::UpdateEvents() {
  SetState(writer_free_.get(), writer_thread_ == 0, writer_free_set_);
  SetState(readers_may_enter_.get(), writer_thread_ == 0 && waiting_writers_ == 0, readers_may_enter_set_);
  SetState(no_readers_.get(), active_readers_ == 0, no_readers_set_);
}

void MultiReadExclusiveWriteSync::BeginRead() {
  const DWORD me = GetCurrentThreadId();
  state_lock_.Enter();
  for (;;) {
    ReaderSlot* slot = FindSlot(me);
    const bool nested = slot != nullptr || writer_thread_ == me;
    if (slot == nullptr) slot = FindSlot(0);
    const bool writer_active = writer_thread_ != 0 && writer_thread_ != me;
    const bool yield_to_writers = waiting_writers_ > 0 && !nested && slot != nullptr;
    if (!writer_active && !yield_to_writers) {
      if (slot != nullptr) {
        slot->thread_id = me;
        ++slot->count;
      } else {
        ++untracked_readers_;
      }
      ++active_readers_;
      UpdateEvents();
      state_lock_.Leave();
      return;
    }
    HANDLE event = writer_active ? writer_free_.get() : readers_may_enter_.get();
    ++waiting_readers_;
    state_lock_.Leave();
    WaitForSingleObject(event, INFINITE);
    state_lock_.Enter();
    --waiting_readers_;
  }
}

void MultiReadExclusiveWriteSync::EndRead() {
  const DWORD me = GetCurrentThreadId();
  CriticalSectionLock guard(state_lock_);
  if (ReaderSlot* slot = FindSlot(me)) {
    if (--slot->count == 0) slot->thread_id = 0;
  } else if (untracked_readers_ > 0) {
    --untracked_readers_;
  } else {
    throw EInvalidOperation("EndRead without a matching BeginRead");
  }
  --active_readers_;
  UpdateEvents();
}

bool MultiReadExclusiveWriteSync::BeginWrite() {
  const DWORD me = GetCurrentThreadId();
  state_lock_.Enter();
  if (writer_thread_ == me) {
    ++write_depth_;
    state_lock_.Leave();
    return true;
  }
  ReaderSlot* slot = FindSlot(me);
  const int own_reads = slot != nullptr ? slot->count : 0;
  active_readers_ -= own_reads;
  ++waiting_writers_;
  const unsigned sequence_at_call = write_sequence_;
  UpdateEvents();
  while (writer_thread_ != 0 || active_readers_ != 0) {
    HANDLE events[2] = {writer_free_.get(), no_readers_.get()};
    state_lock_.Leave();
    WaitForMultipleObjects(2, events, TRUE, INFINITE);
    state_lock_.Enter();
  }
  --waiting_writers_;
  writer_thread_ = me;
  write_depth_ = 1;
  active_readers_ += own_reads;
  UpdateEvents();
  const bool undisturbed = write_sequence_ == sequence_at_call;
  state_lock_.Leave();
  return undisturbed;
}

void MultiReadExclusiveWriteSync::EndWrite() {
  CriticalSectionLock guard(state_lock_);
  if (writer_thread_ != GetCurrentThreadId()) throw EInvalidOperation("EndWrite without a matching BeginWrite");
  if (--write_depth_ > 0) return;
  writer_thread_ = 0;
  ++write_sequence_;
  UpdateEvents();
}

DWORD MultiReadExclusiveWriteSync::WriterThreadId() {
  CriticalSectionLock guard(state_lock_);
  return writer_thread_;
}

int MultiReadExclusiveWriteSync::WaitingWriters() {
  CriticalSectionLock guard(state_lock_);
  return waiting_writers_;
}

int MultiReadExclusiveWriteSync::WaitingReaders() {
  CriticalSectionLock guard(state_lock_);
  return waiting_readers_;
}

}  // namespace vellum

#include "exceptlog/capture/callstack/win/threads_list_win.h"

#include <cstring>

namespace vellum::exceptlog {

namespace {

constexpr DWORD kThreadRights = THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | SYNCHRONIZE;

template <typename Matches>
int LastIndexWhere(TRuzadaThreadsList& list, Matches matches) {
  ScopedReadLock guard(list.Lock());
  for (int i = list.Count() - 1; i >= 0; --i) {
    if (matches(*list.Items(i))) return i;
  }
  return -1;
}

bool ThreadStillValid(const TRuzadaThreadRecord& record) {
  if (record.Handle == nullptr) return false;
  DWORD flags = 0;
  if (!GetHandleInformation(record.Handle, &flags)) return false;
  if (GetThreadId(record.Handle) != record.ThreadId) return false;
  return WaitForSingleObject(record.Handle, 0) == WAIT_TIMEOUT;
}

}  // namespace

void ThreadRecordDeleter::operator()(TRuzadaThreadRecord* record) const {
  if (record == nullptr) return;
  if (record->Handle != nullptr) CloseHandle(record->Handle);
  // The caller stack and the record were made by NewThreadRecord and
  // SetCallerStack with the array and object forms of new.
  std::unique_ptr<std::uint8_t[]>(record->CallerStack).reset();
  std::unique_ptr<TRuzadaThreadRecord>(record).reset();
}

ThreadRecordPtr NewThreadRecord() {
  return ThreadRecordPtr(std::make_unique<TRuzadaThreadRecord>().release());
}

HANDLE DuplicateThreadHandle(HANDLE thread) {
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &duplicate, kThreadRights, FALSE, 0)) {
    return nullptr;
  }
  return duplicate;
}

void SetCallerStack(TRuzadaThreadRecord& record, const void* stack, std::uint32_t size) {
  std::unique_ptr<std::uint8_t[]> copy;
  if (size != 0) {
    copy = std::make_unique<std::uint8_t[]>(size);
    std::memcpy(copy.get(), stack, size);
  }
  std::unique_ptr<std::uint8_t[]>(record.CallerStack).reset();
  record.CallerStack = copy.release();
  record.CallerStackSize = size;
}

HandleShelf::~HandleShelf() {
  for (HANDLE handle : shelved_) CloseHandle(handle);
}

void HandleShelf::BeginBorrow() {
  CriticalSectionLock guard(lock_);
  ++borrowers_;
}

void HandleShelf::EndBorrow() {
  std::vector<HANDLE> closing;
  {
    CriticalSectionLock guard(lock_);
    if (--borrowers_ == 0) closing.swap(shelved_);
  }
  for (HANDLE handle : closing) CloseHandle(handle);
}

void HandleShelf::Release(HANDLE handle) {
  {
    CriticalSectionLock guard(lock_);
    if (borrowers_ > 0) {
      shelved_.push_back(handle);
      return;
    }
  }
  CloseHandle(handle);
}

TRuzadaThreadsList::TRuzadaThreadsList(TRuzadaThreadsList& source) {
  ScopedReadLock guard(source.lock_);
  // Borrowed before the first handle is: a record leaving the source from
  // now on leaves its handle open.
  borrowed_from_ = source.shelf_;
  borrowed_from_->BeginBorrow();
  items_.reserve(source.items_.size());
  for (const ThreadRecordPtr& original : source.items_) {
    ThreadRecordPtr copy = NewThreadRecord();
    *copy = *original;
    copy->CallerStack = nullptr;
    copy->CallerStackSize = 0;
    SetCallerStack(*copy, original->CallerStack, original->CallerStackSize);
    items_.push_back(std::move(copy));
  }
}

TRuzadaThreadsList::~TRuzadaThreadsList() {
  for (ThreadRecordPtr& record : items_) ReleaseHandle(*record);
  items_.clear();
  if (borrowed_from_) borrowed_from_->EndBorrow();
}

void TRuzadaThreadsList::ReleaseHandle(TRuzadaThreadRecord& record) {
  if (record.Handle == nullptr) return;
  if (!borrowed_from_) shelf_->Release(record.Handle);
  record.Handle = nullptr;
}

TRuzadaThreadRecord* TRuzadaThreadsList::Add(ThreadRecordPtr record) {
  ScopedWriteLock guard(lock_);
  items_.push_back(std::move(record));
  return items_.back().get();
}

TRuzadaThreadRecord* TRuzadaThreadsList::NewRecord() {
  return Add(NewThreadRecord());
}

void TRuzadaThreadsList::Delete(int index) {
  ScopedWriteLock guard(lock_);
  ReleaseHandle(*items_.at(static_cast<std::size_t>(index)));
  items_.erase(items_.begin() + index);
}

bool TRuzadaThreadsList::DeleteCurrent() {
  const DWORD current = GetCurrentThreadId();
  ThreadRecordPtr removed;  // freed after the lock is left
  {
    ScopedWriteLock guard(lock_);
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
      if ((*it)->ThreadId == current) {
        ReleaseHandle(**it);
        removed = std::move(*it);
        items_.erase(std::next(it).base());
        break;
      }
    }
  }
  return removed != nullptr;
}

int TRuzadaThreadsList::IndexOfThreadId(DWORD thread_id) {
  return LastIndexWhere(*this, [&](const TRuzadaThreadRecord& r) { return r.ThreadId == thread_id; });
}

int TRuzadaThreadsList::IndexOfHandle(HANDLE handle) {
  const DWORD thread_id = handle != nullptr ? GetThreadId(handle) : 0;
  return LastIndexWhere(*this, [&](const TRuzadaThreadRecord& r) {
    return r.Handle == handle || (thread_id != 0 && r.ThreadId == thread_id);
  });
}

int TRuzadaThreadsList::IndexOfObject(const Thread* object) {
  return LastIndexWhere(*this, [&](const TRuzadaThreadRecord& r) { return r.ThreadObject == object; });
}

void TRuzadaThreadsList::Purge() {
  std::vector<ThreadRecordPtr> removed;
  ScopedWriteLock guard(lock_);
  for (auto it = items_.begin(); it != items_.end();) {
    if (ThreadStillValid(**it)) {
      ++it;
    } else {
      ReleaseHandle(**it);
      removed.push_back(std::move(*it));
      it = items_.erase(it);
    }
  }
}

}  // namespace vellum::exceptlog

// A list of pointers shared between threads: every access goes through a
// critical section, either one call at a time (Add, Remove...) or through a
// locked view that holds the section until it is unlocked or destroyed.
// The list does not own what its pointers point to.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "runtime/exception.h"
#include "runtime/strings/duplicates.h"
#include "runtime/threading/critical_section_win.h"

namespace vellum {

template <typename T>
class ThreadList {
 public:
  class LockedView {
   public:
    explicit LockedView(ThreadList& owner) : owner_(&owner) { owner_->section_.Enter(); }
    ~LockedView() { UnlockList(); }
    LockedView(LockedView&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
    LockedView& operator=(LockedView&&) = delete;
    LockedView(const LockedView&) = delete;
    LockedView& operator=(const LockedView&) = delete;

    // Ends the lock before the view goes out of scope; the view is then
    // unusable.
    void UnlockList() {
      if (owner_ != nullptr) std::exchange(owner_, nullptr)->section_.Leave();
    }

    std::vector<T*>& Items() { return List().items_; }
    int Count() { return static_cast<int>(Items().size()); }
    T* operator[](int index) {
      if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
      return Items()[static_cast<std::size_t>(index)];
    }
    void Add(T* item) { List().AddLocked(item); }
    void Remove(T* item) { List().RemoveLocked(item); }
    int IndexOf(const T* item) {
      const auto found = std::find(Items().begin(), Items().end(), item);
      return found == Items().end() ? -1 : static_cast<int>(found - Items().begin());
    }
    void Clear() { Items().clear(); }
    auto begin() { return Items().begin(); }
    auto end() { return Items().end(); }

   private:
    ThreadList& List() {
      if (owner_ == nullptr) throw EInvalidOperation("The list was already unlocked");
      return *owner_;
    }
    ThreadList* owner_;
  };

  explicit ThreadList(DuplicatesMode duplicates = dupIgnore) : duplicates_(duplicates) {}
  ThreadList(const ThreadList&) = delete;
  ThreadList& operator=(const ThreadList&) = delete;

  [[nodiscard]] LockedView LockList() { return LockedView(*this); }

  void Add(T* item) {
    CriticalSectionLock guard(section_);
    AddLocked(item);
  }
  // Removes the first occurrence; a pointer that is not there is no error.
  void Remove(T* item) {
    CriticalSectionLock guard(section_);
    RemoveLocked(item);
  }
  void Clear() {
    CriticalSectionLock guard(section_);
    items_.clear();
  }
  int Count() {
    CriticalSectionLock guard(section_);
    return static_cast<int>(items_.size());
  }
  bool Contains(const T* item) {
    CriticalSectionLock guard(section_);
    return std::find(items_.begin(), items_.end(), item) != items_.end();
  }
  // Empties the list and hands its contents over, in one locked step.
  std::vector<T*> TakeAll() {
    CriticalSectionLock guard(section_);
    return std::exchange(items_, {});
  }

  DuplicatesMode Duplicates() const { return duplicates_; }
  void SetDuplicates(DuplicatesMode mode) {
    CriticalSectionLock guard(section_);
    duplicates_ = mode;
  }

 private:
  void AddLocked(T* item) {
    if (duplicates_ != dupAccept && std::find(items_.begin(), items_.end(), item) != items_.end()) {
      if (duplicates_ == dupError) throw EListError("List does not allow duplicates");
      return;
    }
    items_.push_back(item);
  }
  void RemoveLocked(T* item) {
    const auto found = std::find(items_.begin(), items_.end(), item);
    if (found != items_.end()) items_.erase(found);
  }

  CriticalSection section_;
  std::vector<T*> items_;
  DuplicatesMode duplicates_;
};

// The name the band framework's collector uses for its queue.
template <typename T>
using LockedList = ThreadList<T>;

}  // namespace vellum

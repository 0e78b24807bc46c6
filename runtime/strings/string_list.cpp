#include "runtime/strings/string_list.h"

#include <algorithm>

#include "runtime/exception.h"
#include "runtime/strings/format.h"
#include "runtime/strings/string_utils.h"

namespace vellum {

namespace {

[[noreturn]] void RaiseIndexError(int index) {
  throw EListError(Format("List index out of bounds (%d)", index));
}
[[noreturn]] void RaiseSortedError() {
  throw EListError("Operation not allowed on sorted list");
}

}  // namespace

StringList::StringList(std::initializer_list<std::string> items) {
  for (const auto& text : items) items_.push_back(Item{text, nullptr});
}

StringList::StringList(const StringList& other)
    : items_(other.items_),
      sorted_(other.sorted_),
      case_sensitive_(other.case_sensitive_),
      duplicates_(other.duplicates_) {}

StringList& StringList::operator=(const StringList& other) {
  if (this != &other) {
    Assign(other);
    sorted_ = other.sorted_;
    case_sensitive_ = other.case_sensitive_;
    duplicates_ = other.duplicates_;
  }
  return *this;
}

void StringList::Assign(const StringList& other) {
  if (this == &other) return;
  Changing();
  items_ = other.items_;
  if (sorted_) SortItems();
  Changed();
}

int StringList::Compare(std::string_view left, std::string_view right) const {
  return case_sensitive_ ? CompareStr(left, right) : CompareText(left, right);
}

void StringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) RaiseIndexError(index);
}

const std::string& StringList::Strings(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].text;
}

void StringList::SetString(int index, const std::string& text) {
  CheckIndex(index);
  if (sorted_) RaiseSortedError();
  Changing();
  items_[static_cast<std::size_t>(index)].text = text;
  Changed();
}

void* StringList::Objects(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].object;
}

void StringList::SetObject(int index, void* object) {
  CheckIndex(index);
  Changing();
  items_[static_cast<std::size_t>(index)].object = object;
  Changed();
}

int StringList::AddObject(const std::string& text, void* object) {
  int index = Count();
  if (sorted_ && Find(text, index)) {
    switch (duplicates_) {
      case dupIgnore: return index;
      case dupError: throw EListError("String list does not allow duplicates");
      case dupAccept:
        // Behind the equal ones, so that equal strings keep their order.
        while (index < Count() && Compare(items_[static_cast<std::size_t>(index)].text, text) == 0) ++index;
        break;
    }
  }
  InsertItem(index, text, object);
  return index;
}

void StringList::AddStrings(const StringList& other) {
  BeginUpdate();
  try {
    for (const Item& item : std::vector<Item>(other.items_)) AddObject(item.text, item.object);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void StringList::InsertObject(int index, const std::string& text, void* object) {
  if (sorted_) RaiseSortedError();
  if (index < 0 || index > Count()) RaiseIndexError(index);
  InsertItem(index, text, object);
}

void StringList::InsertItem(int index, const std::string& text, void* object) {
  Changing();
  items_.insert(items_.begin() + index, Item{text, object});
  Changed();
}

void StringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void StringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  Changed();
}

void StringList::Exchange(int first, int second) {
  CheckIndex(first);
  CheckIndex(second);
  if (sorted_) RaiseSortedError();
  Changing();
  std::swap(items_[static_cast<std::size_t>(first)], items_[static_cast<std::size_t>(second)]);
  Changed();
}

void StringList::Move(int from, int to) {
  CheckIndex(from);
  CheckIndex(to);
  if (sorted_) RaiseSortedError();
  if (from == to) return;
  Changing();
  Item item = std::move(items_[static_cast<std::size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(item));
  Changed();
}

bool StringList::Find(std::string_view text, int& index) const {
  if (!sorted_) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (Compare(items_[i].text, text) == 0) {
        index = static_cast<int>(i);
        return true;
      }
    }
    index = Count();
    return false;
  }
  const auto first =
      std::lower_bound(items_.begin(), items_.end(), text,
                       [this](const Item& item, std::string_view key) { return Compare(item.text, key) < 0; });
  index = static_cast<int>(first - items_.begin());
  return first != items_.end() && Compare(first->text, text) == 0;
}

int StringList::IndexOf(std::string_view text) const {
  int index = -1;
  return Find(text, index) ? index : -1;
}

int StringList::IndexOfObject(const void* object) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].object == object) return static_cast<int>(i);
  }
  return -1;
}

void StringList::SortItems() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& left, const Item& right) { return Compare(left.text, right.text) < 0; });
}

void StringList::Sort() {
  Changing();
  SortItems();
  Changed();
}

void StringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

void StringList::SetCaseSensitive(bool case_sensitive) {
  if (case_sensitive == case_sensitive_) return;
  case_sensitive_ = case_sensitive;
  if (sorted_) Sort();
}

void StringList::CustomSort(const CompareFunction& compare) {
  std::vector<int> order(items_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int left, int right) { return compare(*this, left, right) < 0; });
  std::vector<Item> sorted_items;
  sorted_items.reserve(items_.size());
  for (const int i : order) sorted_items.push_back(items_[static_cast<std::size_t>(i)]);
  Changing();
  items_ = std::move(sorted_items);
  sorted_ = false;
  Changed();
}

void StringList::BeginUpdate() {
  ++update_count_;
}

void StringList::EndUpdate() {
  if (update_count_ == 0) return;
  if (--update_count_ != 0) return;
  const bool changed = changed_in_update_;
  changed_in_update_ = false;
  changing_fired_ = false;
  if (changed && OnChange) OnChange();
}

void StringList::Changing() {
  if (update_count_ > 0) {
    if (changing_fired_) return;
    changing_fired_ = true;
  }
  if (OnChanging) OnChanging();
}

void StringList::Changed() {
  if (update_count_ > 0) {
    changed_in_update_ = true;
    return;
  }
  if (OnChange) OnChange();
}

bool StringList::Equals(const StringList& other) const {
  if (items_.size() != other.items_.size()) return false;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].text != other.items_[i].text) return false;
  }
  return true;
}

std::vector<std::string> StringList::ToVector() const {
  std::vector<std::string> result;
  result.reserve(items_.size());
  for (const Item& item : items_) result.push_back(item.text);
  return result;
}

}  // namespace vellum

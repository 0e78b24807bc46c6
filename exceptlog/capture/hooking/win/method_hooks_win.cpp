#include "exceptlog/capture/hooking/win/method_hooks_win.h"

#include <string>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/win/hook_registry_win.h"

namespace vellum::exceptlog {
namespace {

void* const* SlotAddress(void* const* method_table, std::size_t slot) {
  return method_table + slot;
}

}  // namespace

THookedMethodsList::~THookedMethodsList() {
  try {
    RestoreAll();
  } catch (...) {
    // A destructor cannot report; StopHooking restores explicitly first.
  }
}

void* THookedMethodsList::Hook(void* const* method_table, std::size_t slot, void* method) {
  if (method_table == nullptr) return nullptr;
  void* const* address = SlotAddress(method_table, slot);
  CriticalSectionLock lock(lock_);
  if (!MemoryIsReadable(address, sizeof *address)) return nullptr;
  void* const previous = *address;
  if (previous == method) {
    for (const HookedMethod& item : items_) {
      if (item.method_table == method_table && item.slot == slot) return item.previous;
    }
    return previous;
  }
  if (!InsideLoadedModule(address)) return previous;
  items_.reserve(items_.size() + 1);
  WriteMem(const_cast<void**>(address), &method, sizeof method);
  items_.push_back({method_table, previous, slot});
  return previous;
}

bool THookedMethodsList::Unhook(void* const* method_table, std::size_t slot) {
  CriticalSectionLock lock(lock_);
  for (auto item = items_.begin(); item != items_.end(); ++item) {
    if (item->method_table != method_table || item->slot != slot) continue;
    WriteMem(const_cast<void**>(SlotAddress(method_table, slot)), &item->previous, sizeof item->previous);
    items_.erase(item);
    return true;
  }
  return false;
}

void THookedMethodsList::RestoreAll() {
  CriticalSectionLock lock(lock_);
  std::string first_failure;
  for (auto item = items_.rbegin(); item != items_.rend(); ++item) {
    try {
      WriteMem(const_cast<void**>(SlotAddress(item->method_table, item->slot)), &item->previous, sizeof item->previous);
    } catch (const std::exception& failure) {
      if (first_failure.empty()) first_failure = failure.what();
    }
  }
  items_.clear();
  if (!first_failure.empty()) throw EHookError(first_failure);
}

std::size_t THookedMethodsList::Count() {
  CriticalSectionLock lock(lock_);
  return items_.size();
}

void* HookVirtualMethod(void* const* method_table, std::size_t slot, void* method) {
  HookRegistry* registry = ActiveHookRegistry();
  if (registry == nullptr) throw HookingError("method slot " + std::to_string(slot));
  return registry->methods.Hook(method_table, slot, method);
}

bool UnhookVirtualMethod(void* const* method_table, std::size_t slot) {
  HookRegistry* registry = ActiveHookRegistry();
  return registry != nullptr && registry->methods.Unhook(method_table, slot);
}

}  // namespace vellum::exceptlog
